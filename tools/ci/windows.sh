#!/usr/bin/env bash
# The Windows x86-64 build, tested under Wine: installs the cross toolchain
# (Clang, LLD and the MinGW-w64 runtime) and Wine, configures and builds the
# `windows` preset, starts one Wine session for the build tree, runs the suite
# through CTest and stops the session again. Exits non-zero when anything
# fails.
#
#   tools/ci/windows.sh [extra ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/../.."
source_dir=$(pwd)

packages=(
  cmake ninja-build
  clang lld llvm g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64
  googletest
  python3
)
tools/ci/ensure_packages.sh "${packages[@]}"

prefix="${source_dir}/build/windows/wineprefix"
session="${source_dir}/cmake/windows/wine-session.sh"
session_start=""
stop_wine() {
  if [[ -n ${session_start} ]]; then wait "${session_start}" || true; fi
  "${session}" stop "${prefix}"
}
trap stop_wine EXIT

# A server that stays until stopped, and the prefix booted, before CTest runs
# anything: the first boot takes a while and must not happen inside a test.
# It boots while the build runs (the build never runs Wine).
echo "Starting Wine in ${prefix}"
"${session}" start "${prefix}" &
session_start=$!

cmake --preset windows
cmake --build --preset windows

wait "${session_start}"
session_start=""

# Serial: Wine's processes share one server, and test programs competing for
# the CPU make Wine's thread start-up timing worse (see docs/windows.md).
# A failed test runs once more: now and then Wine ends a program before it has
# printed anything. A test that fails twice fails the suite.
if (($# > 0)); then
  ctest --preset windows --repeat until-pass:2 "$@"
  exit 0
fi

# The soak tests (label soak) pace themselves by a real clock for 20 s each and
# use under a twentieth of a core, so they run beside the serial suite instead
# of in its line, and beside each other. The test lists are written first,
# once, so that the two CTest runs only read them.
ctest --preset windows --show-only >/dev/null
soak_log=build/windows/soak-ctest.log
ctest --preset windows --repeat until-pass:2 --label-regex '^soak$' --parallel 2 >"${soak_log}" 2>&1 &
soak=$!
status=0
ctest --preset windows --repeat until-pass:2 --label-exclude '^soak$' || status=$?
soak_status=0
wait "${soak}" || soak_status=$?
cat "${soak_log}"
if ((status != 0 || soak_status != 0)); then
  exit 1
fi
