#!/usr/bin/env bash
# Builds the self-extractors twice, from two copies of the tree in two
# folders of different names, and compares the programs byte for byte. Both
# builds take the development key: a default build makes a key pair of its
# own, and its programs differ by that key alone.
#   scripts/reproducible.sh [CONFIG...]     (default: musl win32)
set -eu
cd "$(dirname "$0")/.."
configs=${*:-musl win32}
work=$(mktemp -d "${TMPDIR:-/tmp}/tvk-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
for side in first second-place; do
  mkdir -p "$work/$side"
  git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$work/$side"
done
status=0
for c in $configs; do
  for side in first second-place; do
    (cd "$work/$side" && scripts/build.sh "$c" --test-key -DTVK_TESTS=OFF >/dev/null 2>&1) ||
      { echo "$c: the build in $side failed"; exit 1; }
  done
  for p in host/tvksfx host/tvksfx.exe tools/tvk/tvk; do
    a=$work/first/build/$c/$p b=$work/second-place/build/$c/$p
    [ -f "$a" ] || continue
    if cmp -s "$a" "$b"; then
      echo "$c $p: identical ($(sha256sum < "$a" | cut -c1-16))"
    else
      echo "$c $p: DIFFERENT"; status=1
    fi
  done
done
exit $status
