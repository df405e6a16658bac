# Sourced by the build scripts: makes sure the Debian packages the builds and
# tests need are present, installing them when running as root.
# Named one by one even when another package pulls them in today: the build
# runs the openssl program (the master key), the Windows tests need xvfb-run
# with xauth and convert (the screenshots), the demo test tmux, the Linux
# tests timeout and ldd (coreutils and libc-bin are in every Debian root),
# the resource tests wrestool (icoutils) to read the changed program back,
# and the code-signing test osslsigncode.
TVK_PACKAGES="cmake ninja-build g++ python3 googletest libgtest-dev libbenchmark-dev libssl-dev zlib1g-dev
 openssl mingw-w64 wine wine32:i386 wine64 xvfb xauth musl-tools imagemagick icoutils osslsigncode xdotool
 tmux zstd xz-utils gzip
 clang libclang-rt-14-dev"

tvk_missing_packages() {
  local missing="" p
  for p in $TVK_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  echo "$missing"
}

tvk_ensure_packages() {
  local missing
  missing=$(tvk_missing_packages)
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" != 0 ]; then
    echo "Missing Debian packages:$missing" >&2
    echo "Install them as root (dpkg --add-architecture i386; apt-get update; apt-get install$missing) and run again." >&2
    return 1
  fi
  echo "Installing:$missing"
  case "$missing" in *":i386"*)
    dpkg --print-foreign-architectures | grep -q i386 || dpkg --add-architecture i386 ;;
  esac
  export DEBIAN_FRONTEND=noninteractive
  # Mirrors are sometimes caught mid-sync ("File has unexpected size"): a
  # failed index or download is tried again after a pause, and an index
  # that still fails does not stop an install the others can serve.
  local try installed=0 without32=""
  for try in 1 2 3; do
    apt-get update -q >/dev/null && break
    echo "apt-get update failed (try $try of 3)" >&2
    [ $try -lt 3 ] && sleep 10
  done
  for try in 1 2; do
    if apt-get install -y -q $missing >/dev/null; then
      installed=1
      break
    fi
    echo "apt-get install failed (try $try of 2)" >&2
    [ $try -lt 2 ] && sleep 10 && apt-get update -q >/dev/null
  done
  # Without the i386 indexes (the security mirror's has been seen stale for
  # a day) the 32-bit Wine cannot be installed. The Windows tests then run
  # the 64-bit build under the 64-bit Wine, as on machines that run no
  # 32-bit programs; the 32-bit programs are still built and checked.
  case "$installed$missing " in 0*" wine32:i386 "*)
    without32=$(echo "$missing" | sed 's/ wine32:i386//')
    if apt-get install -y -q $without32 >/dev/null; then
      installed=1
      echo "wine32:i386 could not be installed: the Windows tests run the 64-bit build" >&2
    fi ;;
  esac
  if [ $installed = 0 ]; then
    echo "apt-get could not install:$missing" >&2
    return 1
  fi
  missing=$(tvk_missing_packages)
  [ -n "$without32" ] && missing=$(echo "$missing" | sed 's/ wine32:i386//')
  if [ -n "$missing" ]; then
    echo "Still missing after installing:$missing" >&2
    return 1
  fi
}

# A Wine prefix of our own, made without the Mono and Gecko installers.
# Everything run under Wine (tvksfx.exe, the dialog driver, the test
# programs) is 32-bit, and only the 32-bit Wine is installed, so the prefix
# is a 32-bit one. A prefix of another architecture, or one whose making was
# cut short, cannot be used with that Wine: it is made anew.
tvk_wine_env() {
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree=;mshtml="
  # Some kernels (and sandboxes) run no 32-bit programs, so the 32-bit Wine
  # cannot start there. The Windows tests then run a 64-bit build of the same
  # sources under the 64-bit Wine; the 32-bit programs are still built and
  # their form and size checked.
  if tvk_can_run_32bit; then
    export TVK_WINDOWS_BUILD=win32 WINEARCH=win32
    export WINEPREFIX="${TVK_WINEPREFIX:-$HOME/.cache/tarvik-wine}"
  else
    export TVK_WINDOWS_BUILD=win64 WINEARCH=win64
    export WINEPREFIX="${TVK_WINEPREFIX:-$HOME/.cache/tarvik-wine64}"
    # `wine` (and wineboot through wine-stable) would take the 32-bit loader
    # whenever it is installed.
    local shim=$PWD/build/wine64-bin
    mkdir -p "$shim"
    for tool in wine wine-stable; do
      printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' > "$shim/$tool"
      chmod +x "$shim/$tool"
    done
    case ":$PATH:" in *":$shim:"*) ;; *) export PATH="$shim:$PATH" ;; esac
  fi
  local arch out
  if ! out=$(wine --version 2>&1); then
    echo "wine does not run here: $out" >&2
    return 1
  fi
  arch=$(tvk_wine_prefix_arch "$WINEPREFIX")
  [ "$arch" = "$WINEARCH" ] && return 0
  if [ -e "$WINEPREFIX" ]; then
    # Only ever remove what looks like a Wine prefix: the path comes from
    # the caller's environment.
    if [ -n "$(ls -A "$WINEPREFIX" 2>/dev/null)" ] && [ ! -e "$WINEPREFIX/system.reg" ] &&
       [ ! -e "$WINEPREFIX/drive_c" ] && [ ! -e "$WINEPREFIX/dosdevices" ]; then
      echo "$WINEPREFIX is not a Wine prefix; set TVK_WINEPREFIX to another folder" >&2
      return 1
    fi
    echo "Making the Wine prefix $WINEPREFIX anew (it was ${arch:-incomplete}, $WINEARCH is needed)" >&2
    wineserver -k >/dev/null 2>&1
    rm -rf "$WINEPREFIX"
  fi
  mkdir -p "$(dirname "$WINEPREFIX")"
  out=$(wineboot -i 2>&1)
  wineserver -w 2>/dev/null
  arch=$(tvk_wine_prefix_arch "$WINEPREFIX")
  if [ "$arch" != "$WINEARCH" ]; then
    echo "wineboot did not make a $WINEARCH Wine prefix in $WINEPREFIX (${arch:-none}):" >&2
    printf '%s\n' "$out" | tail -n 5 >&2
    return 1
  fi
}

# True when this machine runs 32-bit x86 programs (the 32-bit loader starts).
tvk_can_run_32bit() {
  [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# The architecture a Wine prefix was made for (win32, win64), or nothing.
tvk_wine_prefix_arch() {
  sed -n 's/^#arch=//p' "$1/system.reg" 2>/dev/null | head -n 1
}
