#!/usr/bin/env bash
# Packs a whole corpus with tvk in every way that matters and proves that each
# archive gives back every file byte for byte: levels 0 to 4, solid or not,
# AES-256 with plain and with encrypted heads, split into volumes, and once
# through the Linux self-extractor. Sizes and times go to standard output.
# Usage: bench/roundtrip.sh CORPUS_DIR [WORK_DIR]
#   TVK=path/to/tvk  SFX=path/to/static/tvksfx (optional)  LEVELS="0 1 2 3 4"
set -euo pipefail
corpus=$(cd "${1:?usage: bench/roundtrip.sh CORPUS_DIR [WORK_DIR]}" && pwd)
work=${2:-$(mktemp -d "${TMPDIR:-/tmp}/tvk-roundtrip.XXXXXX")}
here=$(cd "$(dirname "$0")/.." && pwd)
tvk=${TVK:-$here/build/native/tools/tvk/tvk}
sfx=${SFX:+$(realpath "$SFX")}
levels=${LEVELS:-0 1 2 3 4}
password=roundtrip-secret
[ -x "$tvk" ] || { echo "roundtrip.sh: no tvk at $tvk" >&2; exit 2; }
[ -f "$corpus/MANIFEST.tsv" ] || { echo "roundtrip.sh: $corpus has no MANIFEST.tsv (bench/corpus.sh)" >&2; exit 2; }
mkdir -p "$work"
cd "$corpus"
# The files of the corpus, as the manifest lists them, in sha256sum's form.
expected=$work/expected.sha256
awk -F'\t' 'NR > 1 && $4 != "" { print $4 "  " $1 "/" $2 }' MANIFEST.tsv | sort -k2 > "$expected"
total=$(awk -F'\t' 'NR > 1 { s += $3 } END { print s }' MANIFEST.tsv)
count=$(wc -l < "$expected")
echo "corpus $corpus: $count files, $total bytes"
categories=$(find . -mindepth 1 -maxdepth 1 -type d ! -name '.*' -printf '%f ' | sort)

failures=0
# check NAME FOLDER: every corpus file under FOLDER, nothing more.
check() {
  local got=$work/got.sha256
  (cd "$2" && find . -type f -printf '%P\n' | sort | xargs -d '\n' sha256sum) | sort -k2 > "$got"
  if cmp -s "$expected" "$got"; then
    echo "ok      $1"
  else
    echo "FAILED  $1: $(diff "$expected" "$got" | grep -c '^[<>]') lines differ"
    failures=$((failures + 1))
  fi
}

# pack NAME OPTIONS...: packs, extracts with tvk x (the password on the
# command line where there is one) and checks.
pack() {
  local name=$1; shift
  local archive=$work/$name.tvk out=$work/out
  rm -f "$work/$name".tvk "$work/$name".[0-9][0-9][0-9]
  local start=$(date +%s.%N)
  # shellcheck disable=SC2086
  "$tvk" a -q -f "$@" "$archive" $categories
  local packed=$(date +%s.%N)
  rm -rf "$out"; mkdir -p "$out"
  local pw=()
  for o in "$@"; do [[ $o == -p?* ]] && pw=("$o"); done
  "$tvk" x -q -y "${pw[@]}" -o "$out" "$archive"
  local unpacked=$(date +%s.%N)
  local size=$(cat "$archive" "$work/$name".[0-9][0-9][0-9] 2>/dev/null | wc -c)
  printf '%-22s %12s bytes (%5.1f %%)  pack %6.1f s  unpack %5.1f s  ' "$name" "$size" \
    "$(echo "100 * $size / $total" | bc -l)" "$(echo "$packed - $start" | bc)" \
    "$(echo "$unpacked - $packed" | bc)"
  check "$name" "$out"
  rm -rf "$out"
}

solid=
for m in $levels; do
  pack "m$m" "-m$m"
  [ "$m" = 0 ] || { pack "m$m-solid" "-m$m" -s; solid=m$m-solid; }
done
pack "m3-aes256" -m3 "-p$password"
pack "m3-solid-aes-heads" -m3 -s "-p$password" --encrypt-headers
pack "m3-volumes-7m" -m3 -v7m
pack "m4-solid-volumes-aes" -m4 -s -v5m "-p$password"

if [ -n "$sfx" ] && [ -n "$solid" ]; then
  # The self-extractor of the solid archive of the last level, run quietly
  # in a folder of its own.
  printf 'mode = 0\nquiet = 1\noverwrite = 1\n' > "$work/settings.ini"
  "$tvk" sfx -f --settings "$work/settings.ini" --sfx "$sfx" "$work/program" "$work/$solid.tvk" >/dev/null
  rm -rf "$work/run"; mkdir -p "$work/run"; cp "$work/program" "$work/run/"
  (cd "$work/run" && ./program)
  rm "$work/run/program"
  printf '%-22s %12s bytes  ' "self-extractor" "$(wc -c < "$work/program")"
  check "self-extractor ($solid)" "$work/run"
  rm -rf "$work/run"
fi

echo "$failures failure(s)"
[ "$failures" = 0 ]
