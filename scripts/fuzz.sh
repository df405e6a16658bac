#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (coverage, ASan, UBSan) and runs each
# for TIME seconds, one after the other on one job. Corpora grow in
# build/fuzz-corpus/TARGET, seeded from the writers (build/fuzz-seeds), the
# committed seeds, merged corpus (tests/fuzz/corpus: refresh it with
# libFuzzer -merge=1 after long runs) and the regression inputs. A crash stops the run with the
# input saved under build/fuzz-artifacts/. One process per target: one core.
# Usage: scripts/fuzz.sh [TIME=60] [TARGET...]
set -eu
cd "$(dirname "$0")/.."
time=${1:-60}; [ $# -gt 0 ] && shift
targets=${*:-"fuzz_payload fuzz_messages fuzz_reader fuzz_decode fuzz_signature fuzz_roundtrip"}
dir=${TVK_FUZZ_BUILD:-build/fuzz}

# The module's GCC-only warning flags mean nothing to clang.
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DTVK_FUZZ=ON -DTVK_SANITIZE=ON \
  -DCMAKE_BUILD_TYPE=Debug -DTVK_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link -O1 -Wno-unknown-warning-option" >/dev/null
# shellcheck disable=SC2086
cmake --build "$dir" --target $targets fuzz_seeds -j"$(nproc)"

seeds=build/fuzz-seeds
"$dir/tests/fuzz/fuzz_seeds" "$seeds" "$PWD"
mkdir -p build/fuzz-artifacts
for t in $targets; do
  short=${t#fuzz_}
  corpus=build/fuzz-corpus/$short
  mkdir -p "$corpus"
  extra=()
  for d in "$seeds/$short" "tests/fuzz/seeds/$short" "tests/fuzz/corpus/$short" "tests/fuzz/regressions/$short"; do
    [ -d "$d" ] && extra+=("$d")
  done
  echo "== $t for ${time}s"
  "$dir/tests/fuzz/$t" "$corpus" "${extra[@]}" -max_total_time="$time" \
    -rss_limit_mb=2048 -timeout=20 -max_len=262144 -print_final_stats=1 \
    -artifact_prefix=build/fuzz-artifacts/"$short"- 2>&1 |
    grep -E "^(stat::number_of_executed_units|stat::peak_rss|#[0-9]+ +DONE)|ERROR|SUMMARY|Test unit written" || true
  # A crash leaves its input behind: stop so that it is looked at.
  if ls build/fuzz-artifacts/"$short"-* >/dev/null 2>&1; then
    echo "$t found a fault: build/fuzz-artifacts/$short-*" >&2
    exit 1
  fi
done
