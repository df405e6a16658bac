#!/usr/bin/env bash
# What each packing level costs: processor time and size of `tvk a` at -m1
# to -m4, plain and solid, on a corpus of bench/corpus.sh (default the quick
# 30 MB one). The figures in `tvk a --help` come from this table.
#
#   bench/levels.sh [CORPUS_DIR]     TVK=path/to/tvk
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
corpus=${1:-/tmp/tvk-corpus-small}
tvk=${TVK:-$here/build/native/tools/tvk/tvk}
[ -d "$corpus" ] || "$here/bench/corpus.sh" "$corpus" 30 >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/tvk-levels.XXXXXX")
trap 'rm -rf "$work"' EXIT
bytes=$(du -sb "$corpus" | cut -f1)
echo "corpus: $corpus, $bytes bytes"
printf '%-8s %12s %8s %10s %10s\n' level packed ratio "cpu s" "MB/s"
for mode in "" -s; do
  for m in 1 2 3 4; do
    out=$work/a.tvk
    rm -f "$out"
    cpu=$( { /usr/bin/time -f '%U %S' "$tvk" a -q -m$m $mode "$out" "$corpus" >/dev/null; } 2>&1 | tail -1 |
           awk '{ print $1 + $2 }')
    size=$(stat -c %s "$out")
    awk -v l="-m$m$mode" -v s="$size" -v b="$bytes" -v c="$cpu" \
      'BEGIN { printf "%-8s %12d %7.1f%% %10.2f %10.1f\n", l, s, 100 * s / b, c, b / 1e6 / c }'
  done
done
