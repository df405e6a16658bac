#!/usr/bin/env bash
# Configures and builds one configuration: native, asan, win32, musl, or
# win64 (the Windows sources as a 64-bit test build, for machines whose
# kernel cannot run 32-bit programs and so not the 32-bit Wine either).
# Usage: scripts/build.sh CONFIG [--test-key] [extra cmake arguments]
# The master key: by default the key pair made for this build set at the
# first configuration and kept in build/keys (shared by all four, so that
# tvk's certificates open in both self-extractors; never committed).
# --test-key (the test suite's builds) takes the published development key
# of tests/keys instead; such programs say so where they show a signature.
set -eu
cd "$(dirname "$0")/.."
config=$1; shift
key=(-DTVK_MASTER_KEY= -DTVK_KEY_DIR="$PWD/build/keys")
if [ "${1:-}" = --test-key ]; then
  key=(-DTVK_MASTER_KEY="$PWD/tests/keys/dev-master.pem")
  shift
fi
dir=build/$config
case $config in
  native) args=(-DCMAKE_BUILD_TYPE=Release
                -DTVK_LINUX_SFX="$PWD/build/musl/host/tvksfx"
                -DTVK_WINDOWS_SFX="$PWD/build/${TVK_WINDOWS_BUILD:-win32}/host/tvksfx.exe"
                -DTVK_WINDOWS_PRODUCT="$PWD/build/win32/host/tvksfx.exe"
                -DTVK_WINDOWS_DRIVER="$PWD/build/${TVK_WINDOWS_BUILD:-win32}/tests/e2e/tvkdriver.exe"
                -DTVK_WINDOWS_TVK="$PWD/build/${TVK_WINDOWS_BUILD:-win32}/tools/tvk/tvk.exe") ;;
  asan)   args=(-DCMAKE_BUILD_TYPE=Debug -DTVK_SANITIZE=ON -DTVK_BENCH=OFF
                -DTVK_LINUX_SFX="$PWD/build/musl/host/tvksfx") ;;
  win32)  args=(-DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DTVK_BENCH=OFF) ;;
  win64)  args=(-DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DTVK_BENCH=OFF) ;;
  musl)   args=(-DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_TOOLCHAIN_FILE=cmake/musl-x86_64.cmake -DTVK_SFX_ONLY=ON) ;;
  *) echo "unknown configuration $config (native, asan, win32, musl, win64)" >&2; exit 1 ;;
esac
cmake -S . -B "$dir" -G Ninja "${args[@]}" "${key[@]}" "$@" >/dev/null
# Keep going past a failing target, so that one broken layer does not hide
# the results of the others.
cmake --build "$dir" -j"$(nproc)" -- -k 0
