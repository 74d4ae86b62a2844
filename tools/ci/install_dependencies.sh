#!/usr/bin/env bash
# Installs what the build, the demo and the test suites need on a fresh Debian
# machine. Safe to run again: apt skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3
  clang clang-format-14 libclang-rt-14-dev lld llvm
  libgtest-dev libgmock-dev libbenchmark-dev
  libswresample-dev libavutil-dev libsdl2-dev
  mono-mcs mono-runtime
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64
)

if [[ "${1:-}" == "--native-only" ]]; then
  packages=(build-essential cmake ninja-build pkg-config python3 libgtest-dev libgmock-dev)
fi

"$(dirname "$0")/ensure_packages.sh" "${packages[@]}"
