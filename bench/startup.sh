#!/usr/bin/env bash
# How long the Linux self-extractor takes to start when its program file is
# large. The program carries a one-file archive and is then padded to SIZE_MB
# (default 100) with bytes behind the archive, so the whole run (start-up,
# the payload search, the language text, the settings, one file written and
# the exit) is an upper bound for the time to the first written byte; a
# program that read its whole file first would take the time of reading
# SIZE_MB. Beside it, the same program unpadded, and `cat` of the padded file
# to /dev/null: what one full read costs here.
# Usage: bench/startup.sh [SIZE_MB]   TVK=... SFX=build/musl/host/tvksfx
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
size=${1:-100}
tvk=${TVK:-$here/build/native/tools/tvk/tvk}
sfx=$(realpath "${SFX:-$here/build/musl/host/tvksfx}")
work=$(mktemp -d "${TMPDIR:-/tmp}/tvk-startup.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir in && echo hello > in/a.txt
"$tvk" a -q -m0 one.tvk in/a.txt
printf 'mode = 0\nquiet = 1\noverwrite = 1\n' > settings.ini
"$tvk" sfx -q -f --settings settings.ini --sfx "$sfx" small one.tvk
cp small big
head -c "$((size * 1024 * 1024))" /dev/zero >> big
mkdir run-small run-big
cp small run-small/x
cp big run-big/x
echo "programs: $(wc -c < small) and $(wc -c < big) bytes"
if command -v hyperfine >/dev/null; then
  hyperfine -N -w 3 -r 30 "$work/run-small/x" "$work/run-big/x" "cat $work/big"
else
  for p in run-small/x run-big/x; do
    start=$(date +%s%N)
    for _ in $(seq 20); do (cd "$(dirname "$p")" && ./x); done
    echo "$p: $(( ($(date +%s%N) - start) / 20000 )) us per run"
  done
fi
