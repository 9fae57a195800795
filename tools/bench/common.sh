# Sourced by the tools: packages, build presets, and the Wine environment of a bench build tree.

say() { echo "==> $*"; }

# Debian packages the build and the bench need. wine32 is installed even where it cannot run: the
# machine's kernel decides that, and bench_arch asks it.
ORVANE_PACKAGES=(
  cmake make
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 wine32:i386
  xvfb xauth x11-utils clang-format
)

install_packages() {
  local missing=() package
  for package in "${ORVANE_PACKAGES[@]}"; do
    if [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" != "install ok installed" ]; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  local sudo=()
  if [ "$(id -u)" != 0 ]; then
    command -v sudo >/dev/null || {
      echo "Missing packages: ${missing[*]}. Run this as root or install sudo." >&2
      return 1
    }
    sudo=(sudo)
  fi
  say "installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
  fi
  "${sudo[@]}" apt-get update
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
}

# i686 where the kernel runs 32-bit Linux programs (wine32 needs that), x86_64 otherwise.
bench_arch() {
  if [ -n "${ORVANE_BENCH_ARCH:-}" ]; then
    case $ORVANE_BENCH_ARCH in
      i686|x86_64) echo "$ORVANE_BENCH_ARCH" ;;
      *) echo "ORVANE_BENCH_ARCH must be i686 or x86_64, not '$ORVANE_BENCH_ARCH'" >&2; return 1 ;;
    esac
  elif /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo i686
  else
    echo x86_64
  fi
}

configure_preset() {
  local preset=$1
  shift
  say "configuring preset $preset"
  cmake --preset "$preset" --log-level=WARNING "$@"
}

# build_preset PRESET [TARGET...]
build_preset() {
  local preset=$1 targets=()
  shift
  [ $# -gt 0 ] && targets=(--target "$@")
  say "building preset $preset${targets:+ (${*})}"
  cmake --build --preset "$preset" -j "$(nproc)" "${targets[@]}"
}

# A process counts as gone once it is a zombie: some containers never reap orphans.
alive() {
  local pid=$1 status
  [ -n "$pid" ] && [ -r "/proc/$pid/stat" ] || return 1
  status=$(sed 's/^.*) \(.\).*$/\1/' "/proc/$pid/stat" 2>/dev/null) || return 1
  [ "$status" != Z ]
}

# Machine field of a PE file's COFF header: 014c i386, 8664 AMD64.
pe_arch() {
  local offset machine
  offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' ')
  case $machine in
    014c) echo i686 ;;
    8664) echo x86_64 ;;
    *) return 1 ;;
  esac
}

# wine_env BUILD_DIR: the environment of that tree's bench (its prefix, display and architecture, as `bench up`
# recorded them); sets wine and wineserver to the programs to run.
wine_env() {
  local state=$1/bench
  export WINEPREFIX=$1/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  export DISPLAY
  DISPLAY=$(cat "$state/display")
  wineserver=/usr/lib/wine/wineserver
  if [ "$(cat "$state/arch")" = x86_64 ]; then
    export WINEARCH=win64
    wine=/usr/lib/wine/wine64
  else
    export WINEARCH=win32
    wine=wine
  fi
}
