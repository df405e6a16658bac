#!/usr/bin/env bash
# A round trip at scale on files this project did not choose: every regular
# file under /usr/share/doc, /usr/share/perl*, /usr/lib/python3* and
# /usr/include, and the first LIB_MB megabytes (in path order) of
# /usr/lib/x86_64-linux-gnu. Each level is packed solid and not, extracted
# with `tvk x` and with the static self-extractor, and every file is checked
# by SHA-256. One line per run: files, bytes, packed size, time, failures.
#
#   bench/system_roundtrip.sh [WORK_DIR]
#   TVK=path/to/tvk  SFX=path/to/static/tvksfx  LEVELS="1 2 3 4"  LIB_MB=300
#   MODES="plain solid"  ROOTS="..." (instead of the folders above)
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$(mktemp -d "${TMPDIR:-/tmp}/tvk-system-rt.XXXXXX")}
tvk=${TVK:-$here/build/native/tools/tvk/tvk}
sfx=${SFX:-$here/build/musl/host/tvksfx}
levels=${LEVELS:-1 2 3 4}
modes=${MODES:-plain solid}
lib_mb=${LIB_MB:-300}
roots=${ROOTS:-"/usr/share/doc $(ls -d /usr/share/perl* 2>/dev/null | tr '\n' ' ') $(ls -d /usr/lib/python3* 2>/dev/null | tr '\n' ' ') /usr/include"}
[ -x "$tvk" ] || { echo "system_roundtrip.sh: no tvk at $tvk" >&2; exit 2; }
[ -x "$sfx" ] || { echo "system_roundtrip.sh: no self-extractor at $sfx" >&2; exit 2; }
mkdir -p "$work"
src=$work/src

if [ ! -f "$work/expected.sha256" ]; then
  rm -rf "$src"
  mkdir -p "$src"
  list=$work/files.txt
  # Regular files only (links are the archiver's own matter), readable ones.
  find $roots -type f -readable 2>/dev/null | LC_ALL=C sort > "$list"
  find /usr/lib/x86_64-linux-gnu -type f -readable 2>/dev/null | LC_ALL=C sort |
    while IFS= read -r f; do echo "$(stat -c %s "$f") $f"; done |
    awk -v cap=$((lib_mb * 1048576)) '{ s += $1; if (s > cap) exit; sub(/^[0-9]+ /, ""); print }' >> "$list"
  tar -cf - --no-recursion -T "$list" 2>/dev/null | tar -xf - -C "$src"
  (cd "$src" && find . -type f -printf '%P\n' | LC_ALL=C sort | xargs -d '\n' sha256sum) > "$work/expected.sha256"
fi
files=$(wc -l < "$work/expected.sha256")
bytes=$(cd "$src" && find . -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
echo "source: $files files, $bytes bytes under $roots and ${lib_mb} MB of /usr/lib/x86_64-linux-gnu"

check() {  # check FOLDER -> number of files that differ or are missing
  local got=$work/got.sha256
  (cd "$1" && find . -type f -printf '%P\n' | LC_ALL=C sort | xargs -d '\n' sha256sum) > "$got" 2>/dev/null
  diff "$work/expected.sha256" "$got" | grep -c '^<'
}

printf '%-6s %-6s %8s %14s %14s %8s %8s %8s\n' level mode files bytes packed seconds "tvk x" sfx
total_failures=0
for level in $levels; do
  for mode in $modes; do
    flag=; [ "$mode" = solid ] && flag=-s
    archive=$work/a.tvk
    rm -f "$archive"
    start=$(date +%s.%N)
    (cd "$src" && "$tvk" a -q -f -m"$level" $flag "$archive" .) 2> "$work/pack.err"
    rc=$?
    seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
    packed=$(stat -c %s "$archive" 2>/dev/null || echo 0)
    xfail=$files; sfail=$files
    if [ $rc = 0 ]; then
      rm -rf "$work/x"; mkdir -p "$work/x"
      "$tvk" x -q -y -o "$work/x" "$archive" >/dev/null 2>&1
      xfail=$(check "$work/x")
      rm -rf "$work/x"
      # The self-extractor runs quietly in a folder of its own, where an
      # empty target puts the files.
      printf 'quiet = 1\noverwrite = 1\n' > "$work/settings.ini"
      rm -rf "$work/s"; mkdir -p "$work/s"
      "$tvk" sfx -f --sfx "$sfx" --settings "$work/settings.ini" "$work/s/sfx-run" "$archive" >/dev/null 2>&1 &&
        (cd "$work/s" && ./sfx-run </dev/null >/dev/null 2>&1)
      rm -f "$work/s/sfx-run"
      sfail=$(check "$work/s")
      rm -rf "$work/s"
    else
      echo "tvk a failed ($rc): $(tail -1 "$work/pack.err")"
    fi
    grep -h "warning" "$work/pack.err" | head -5
    total_failures=$((total_failures + xfail + sfail))
    printf '%-6s %-6s %8s %14s %14s %8.1f %8s %8s\n' "-m$level" "$mode" "$files" "$bytes" "$packed" "$seconds" "$xfail" "$sfail"
  done
done
rm -f "$work/a.tvk" "$work/settings.ini"
echo "failures: $total_failures"
[ $total_failures = 0 ]
