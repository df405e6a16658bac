#!/usr/bin/env bash
# The demo: builds tvk and the static Linux self-extractor, makes a
# self-extractor from the examples folder with the few tvk commands a user
# needs, and starts it in this terminal, where you answer its dialog.
#
# Usage: scripts/demo.sh [options]
#   --de          German texts (default: English)
#   --windows     also build the Windows program and start the Windows demo
#                 under Wine (needs mingw-w64 and wine; installed as root)
#   --dir DIR     work folder (default: build/demo); the files are extracted
#                 below it, into tarvik-demo-files
#   --tvk FILE --sfx FILE
#                 use these tvk and self-extractor programs, build nothing
#   --winsfx FILE with --windows: use this tvksfx.exe, build nothing
#   --no-run      build the self-extractor but do not start it
#
# Standard input that is not a terminal answers the questions one per line
# (the end of input cancels), so "printf '1\n1\n' | scripts/demo.sh" runs
# the whole demo unattended.
set -eu
start=$PWD
cd "$(dirname "$0")/.."
root=$PWD

lang=en windows=0 dir=$root/build/demo tvk="" sfx="" winsfx="" run=1
while [ $# -gt 0 ]; do
  case $1 in
    --de) lang=de ;;
    --en) lang=en ;;
    --windows) windows=1 ;;
    --dir) dir=$2; shift ;;
    --tvk) tvk=$2; shift ;;
    --sfx) sfx=$2; shift ;;
    --winsfx) winsfx=$2; shift ;;
    --no-run) run=0 ;;
    -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    *) echo "unknown option $1 (scripts/demo.sh --help)" >&2; exit 1 ;;
  esac
  shift
done
case $dir in /*) ;; *) dir=$start/$dir ;; esac
case $tvk in ""|/*) ;; *) tvk=$start/$tvk ;; esac
case $sfx in ""|/*) ;; *) sfx=$start/$sfx ;; esac
case $winsfx in ""|/*) ;; *) winsfx=$start/$winsfx ;; esac

if [ -t 1 ]; then
  say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
else
  say() { printf '\n== %s\n' "$*"; }
fi
# Shows a command, then runs it.
show() { printf '$ %s\n' "$*"; "$@"; }

build_step() {  # title, log file, command...
  local title=$1 log=$2; shift 2
  say "$title"
  if ! "$@" >"$log" 2>&1; then
    tail -30 "$log"
    echo "failed; the whole output is in $log" >&2
    exit 1
  fi
}

if [ -z "$tvk" ] || [ -z "$sfx" ]; then
  . scripts/deps.sh
  # The demo needs only the native and the static builds (and the Windows
  # tools with --windows), not everything the test suite uses.
  TVK_PACKAGES="cmake ninja-build g++ openssl libssl-dev musl-tools"
  [ $windows = 1 ] && TVK_PACKAGES="$TVK_PACKAGES mingw-w64 wine wine32:i386"
  tvk_ensure_packages
  mkdir -p build
  build_step "Building the static Linux self-extractor (build/musl)" build/demo-musl.log \
    scripts/build.sh musl
  build_step "Building tvk (build/demo-tools)" build/demo-tools.log \
    sh -c 'cmake -S . -B build/demo-tools -G Ninja -DCMAKE_BUILD_TYPE=Release -DTVK_TESTS=OFF \
             -DTVK_BENCH=OFF -DTVK_LINUX_SFX="$1" -DTVK_MASTER_KEY= -DTVK_KEY_DIR="$2" \
             && cmake --build build/demo-tools --target tvk' \
    sh "$root/build/musl/host/tvksfx" "$root/build/keys"
  tvk=$root/build/demo-tools/tools/tvk/tvk
  sfx=$root/build/musl/host/tvksfx
fi
[ -x "$tvk" ] || { echo "no tvk program at $tvk" >&2; exit 1; }
[ -f "$sfx" ] || { echo "no self-extractor program at $sfx" >&2; exit 1; }
ls -l "$sfx" | awk '{ printf "the self-extractor program: %s bytes, static\n", $5 }'

mkdir -p "$dir"
rm -rf "$dir/tarvik-demo-files" "$dir/tarvik-demo-dateien" "$dir/tarvik-demo.tvk"
settings=$root/examples/setup-$lang.ini
tvk() { "$tvk" "$@"; }

say "1. Pack the examples folder into an archive"
(cd "$root/examples" && show tvk a -q "$dir/tarvik-demo.tvk" hello-tarvik)
say "2. Look at it and test it"
show tvk l "$dir/tarvik-demo.tvk"
show tvk t -q "$dir/tarvik-demo.tvk"
say "3. Make a self-extractor of it (texts: $lang, settings: examples/setup-$lang.ini)"
show tvk sfx -q -f --sfx "$sfx" --language "$lang" --settings "$settings" \
  "$dir/tarvik-demo" "$dir/tarvik-demo.tvk"
echo "(tvk x extracts the archive without a self-extractor: tvk x -o DIR $dir/tarvik-demo.tvk)"

if [ $run = 1 ]; then
  say "4. Start it: answer its questions with the numbers or letters shown"
  cd "$dir"
  status=0
  ./tarvik-demo || status=$?
  target=$dir/tarvik-demo-files
  [ $lang = de ] && target=$dir/tarvik-demo-dateien
  echo
  echo "the self-extractor ended with exit code $status"
  if [ -d "$target" ]; then
    echo "the files are in $target:"
    (cd "$target" && find . -mindepth 1 | sort | sed 's/^\.\//  /')
    [ -x "$target/hello-tarvik/hello.sh" ] && (cd "$target/hello-tarvik" && ./hello.sh)
  fi
fi

if [ $windows = 1 ]; then
  say "5. The Windows program, started under Wine"
  cd "$root"
  . scripts/deps.sh
  TVK_PACKAGES="wine wine32:i386"
  [ -z "$winsfx" ] && TVK_PACKAGES="$TVK_PACKAGES cmake ninja-build openssl mingw-w64"
  tvk_ensure_packages
  if [ -z "$winsfx" ]; then
    mkdir -p build
    build_step "Building the Windows self-extractor (build/win32)" build/demo-win32.log \
      sh -c 'cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
               -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DTVK_BENCH=OFF \
               -DTVK_MASTER_KEY= -DTVK_KEY_DIR="$1" && cmake --build build/win32 --target tvksfx' \
        sh "$root/build/keys"
    winsfx=$root/build/win32/host/tvksfx.exe
  fi
  show tvk sfx -q -f --sfx "$winsfx" --language "$lang" --settings "$settings" \
    "$dir/tarvik-demo.exe" "$dir/tarvik-demo.tvk"
  if [ $run = 1 ]; then
    cd "$dir"
    if [ -z "${DISPLAY:-}" ]; then
      echo "no desktop here (DISPLAY is not set), so the dialog could not be seen or answered."
      echo "From a desktop session: cd $dir && wine ./tarvik-demo.exe"
      exit 0
    fi
    tvk_wine_env
    rm -rf "$dir/tarvik-demo-files" "$dir/tarvik-demo-dateien"
    echo "the dialog opens in a window of its own"
    status=0
    wine ./tarvik-demo.exe || status=$?
    echo "the Windows self-extractor ended with exit code $status"
  fi
fi
