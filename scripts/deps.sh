# Sourced by the build scripts: makes sure the Debian packages the builds and
# tests need are present, installing them when running as root.
TVK_PACKAGES="cmake ninja-build g++ python3 googletest libgtest-dev libbenchmark-dev libssl-dev zlib1g-dev
 mingw-w64 wine wine32:i386 xvfb xauth musl-tools imagemagick xdotool tmux zstd xz-utils gzip
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
  apt-get update -q >/dev/null && apt-get install -y -q $missing >/dev/null || {
    echo "apt-get could not install:$missing" >&2
    return 1
  }
  missing=$(tvk_missing_packages)
  if [ -n "$missing" ]; then
    echo "Still missing after installing:$missing" >&2
    return 1
  fi
}

# A Wine prefix of our own, made once without the Mono and Gecko installers.
tvk_wine_env() {
  export WINEPREFIX="${TVK_WINEPREFIX:-$HOME/.cache/tarvik-wine}"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree=;mshtml="
  export WINEARCH=win64
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w 2>/dev/null
  fi
}
