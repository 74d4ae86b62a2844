#!/usr/bin/env bash
# Installs what the build, the demo and the test suites need on a fresh Debian
# machine. Safe to run again: apt skips what is already there.
#
#   tools/ci/install_dependencies.sh            everything
#   tools/ci/install_dependencies.sh --host     the native builds, their tests and the demo
#   tools/ci/install_dependencies.sh --cross    the rest: Clang, the MinGW-w64 toolchain, Wine
#   tools/ci/install_dependencies.sh --native-only   the native build and its unit tests alone
set -euo pipefail

native=(
  build-essential cmake ninja-build pkg-config python3
  clang-format-14
  libgtest-dev libgmock-dev libbenchmark-dev
  libswresample-dev libavutil-dev libsdl2-dev
  libzita-resampler-dev libspeexdsp-dev libsamplerate0-dev libsoxr-dev
  mono-mcs mono-runtime
)
cross=(
  clang libclang-rt-14-dev lld llvm
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64
)

case "${1:-}" in
"") packages=("${native[@]}" "${cross[@]}") ;;
--host) packages=("${native[@]}") ;;
--cross) packages=("${cross[@]}") ;;
--native-only) packages=(build-essential cmake ninja-build pkg-config python3 libgtest-dev libgmock-dev) ;;
*)
  echo "usage: $0 [--host | --cross | --native-only]" >&2
  exit 64
  ;;
esac

"$(dirname "$0")/ensure_packages.sh" "${packages[@]}"
