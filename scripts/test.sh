#!/usr/bin/env bash
# The whole test suite: native tests, the sanitizer run, and the Windows
# build's tests under Wine. Installs what it needs when run as root.
set -u
cd "$(dirname "$0")/.."
. scripts/deps.sh
tvk_ensure_packages || exit 1

passed=0; failed=0; status=0
# Each stage says how long it took: the suite has a time budget, and a
# slow stage should be seen before it is blown.
since() { echo "   ($(( SECONDS - $1 )) s)"; }
log=build/test-logs; mkdir -p "$log"

run_ctest() {  # name, build dir, [wrapper...]
  local name=$1 dir=$2; shift 2
  echo "== $name tests"
  local start=$SECONDS
  "$@" ctest --test-dir "$dir" -j2 --output-on-failure --timeout 600 >"$log/$name.txt" 2>&1
  local rc=$?
  grep -E "tests passed|Failed|\*\*\*|Timeout|Exception" "$log/$name.txt" | tail -40
  since $start
  local line p f
  line=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$log/$name.txt" | tail -1)
  if [ -n "$line" ]; then
    f=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
    p=$(( $(echo "$line" | sed -E 's/.* out of ([0-9]+).*/\1/') - f ))
    passed=$((passed + p)); failed=$((failed + f))
  elif [ $rc -ne 0 ]; then
    failed=$((failed + 1))
  fi
  [ $rc -ne 0 ] && status=1
}

build_or_fail() {  # config, [extra cmake arguments...]
  local config=$1; shift
  echo "== build $config"
  local start=$SECONDS
  # The suite's programs trust the development key, whose private half the
  # tests sign with.
  if ! scripts/build.sh "$config" --test-key "$@" >"$log/build-$config.txt" 2>&1; then
    tail -40 "$log/build-$config.txt"
    echo "build of $config failed"
    failed=$((failed + 1)); status=1
    return 1
  fi
  since $start
}

# The programs first: the native end-to-end tests build self-extractors from
# the static Linux program and from the Windows program (run under Wine).
if ! tvk_wine_env; then
  echo "no usable Wine prefix: the Windows tests cannot run"
  failed=$((failed + 1)); status=1
fi
build_or_fail musl
# The 32-bit programs are what users get; on a machine that cannot run them
# the Windows tests run the 64-bit build of the same sources.
win=${TVK_WINDOWS_BUILD:-win32}
# Where the 64-bit build runs the Windows tests, the 32-bit build is checked
# as a program only, and its test programs are not built.
if [ "$win" = win64 ]; then win32_args=(-DTVK_TESTS=OFF); else win32_args=(); fi
build_or_fail win32 "${win32_args[@]}" && win_ok=1 || win_ok=0
if [ "$win" = win64 ]; then
  echo "== this machine cannot run 32-bit programs: the Windows tests run a 64-bit build under 64-bit Wine"
  build_or_fail win64 || win_ok=0
fi
build_or_fail native && run_ctest native build/native xvfb-run -a
build_or_fail asan && ASAN_OPTIONS=detect_leaks=1 run_ctest asan build/asan
[ $win_ok = 1 ] && run_ctest "$win" "build/$win" xvfb-run -a

echo
echo "total: $passed passed, $failed failed, in $SECONDS s"
exit $status
