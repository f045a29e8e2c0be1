#!/usr/bin/env bash
# ./go demo   installs what is missing, builds, and runs the demo
# ./go test   installs what is missing, builds, and runs every test
#
# Safe to run again and again: packages already there are not touched, and the
# build only redoes what changed.
set -euo pipefail
cd "$(dirname "$0")"

usage() {
  echo "usage: ./go demo    build and run the demo"
  echo "       ./go test    build and run every test"
  echo "       ./go web     build the web page and serve it on http://127.0.0.1:8000"
}

# Debian packages, each with the reason it is needed.
packages=(
  "cmake:the build"
  "ninja-build:the build"
  "g++:the compiler"
  "pkg-config:finding SDL2 and chafa"
  "libsdl2-dev:the window, full screen and keys in the window"
  "libpng-dev:textures and screenshots as PNG files"
  "libhwy-dev:the pixel engine's SIMD kernels"
  "libchafa-dev:frames in a terminal (SOFTBOARD_DISPLAY=terminal)"
  "zlib1g-dev:compressed frames for kitty's terminal protocol"
  "libgtest-dev:the tests"
  "libbenchmark-dev:the benchmarks"
)
# Only for the web page: its compiler (which brings Node.js, which serves it).
web_packages=(
  "emscripten:compiling the demo and the board to WebAssembly"
)
# Only for the tests: a virtual X server for the window tests, and xwd to
# read back what a window shows; a real terminal, and a sixel decoder, for
# the terminal tests.
test_packages=(
  "xvfb:the window tests (a virtual X server)"
  "x11-apps:the window tests (xwd reads back what the window shows)"
  "tmux:the terminal tests (a real terminal to read back)"
  "libsixel-bin:the terminal tests (sixel2png decodes sixel frames)"
)

missing_packages() {
  local entry name
  for entry in "${packages[@]}"; do
    name=${entry%%:*}
    dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "install ok installed" ||
      echo "$entry"
  done
}

install_missing() {
  if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
    echo "go: not a Debian system; make sure these are installed:" >&2
    printf '  %s\n' "${packages[@]%%:*}" >&2
    return 0
  fi
  local missing
  missing=$(missing_packages)
  [ -z "$missing" ] && return 0

  echo "go: these Debian packages are missing and will be installed:"
  local entry names=()
  while IFS= read -r entry; do
    printf '  %-18s for %s\n' "${entry%%:*}" "${entry#*:}"
    names+=("${entry%%:*}")
  done <<<"$missing"

  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "go: not root and no sudo; as root, run: apt-get install ${names[*]}" >&2
      exit 1
    fi
    echo "go: installing through sudo (it may ask for your password)"
    sudo=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${names[@]}"
}

# Builds the native release: the targets named, or everything.
build() {
  cmake --preset release >/dev/null
  cmake --build --preset release ${1:+--target "$@"}
}

case "${1:-}" in
  demo)
    install_missing
    build transdemo default_texture
    cd build/release/bin  # the demo reads tex.3df from where it runs
    exec ./transdemo
    ;;
  test)
    packages+=("${test_packages[@]}")
    install_missing
    build
    exec ctest --preset release
    ;;
  web)
    packages+=("${web_packages[@]}")
    install_missing
    build default_texture  # the texture the page takes
    cmake --preset web >/dev/null
    cmake --build --preset web
    echo "go: the page is in build/web; serving it on http://127.0.0.1:8000 (Ctrl+C stops)"
    exec node web/serve.mjs build/web 8000
    ;;
  -h | --help | help)
    usage
    ;;
  *)
    usage >&2
    exit 2
    ;;
esac
