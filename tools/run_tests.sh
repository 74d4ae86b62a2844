#!/usr/bin/env bash
# Every test of the project: the C++ format check, the native suite in the default, address/UB
# sanitizer and thread sanitizer builds, the default build once more without
# the optional peer libraries, the Windows build under Wine, the release
# archives (built twice, compared byte for byte), and the bounded fuzz runs.
# Installs what it needs first. Ends with the time each stage took, also when
# one fails.
set -euo pipefail
cd "$(dirname "$0")/.."

stage_names=()
stage_seconds=()
current_stage=""
current_start=0

report_times() {
  local status=$?
  if [[ -n ${current_stage} ]]; then
    stage_names+=("${current_stage} (FAILED)")
    stage_seconds+=($((SECONDS - current_start)))
  fi
  echo
  echo "=== stage times ==="
  local i total=0
  for i in "${!stage_names[@]}"; do
    printf '%-34s %4d:%02d\n' "${stage_names[i]}" $((stage_seconds[i] / 60)) $((stage_seconds[i] % 60))
    total=$((total + stage_seconds[i]))
  done
  printf '%-34s %4d:%02d\n' "total" $((total / 60)) $((total % 60))
  exit "${status}"
}
trap report_times EXIT

# stage <name> <command>...: runs the command as one timed stage.
stage() {
  current_stage=$1
  current_start=${SECONDS}
  echo "=== $1 ==="
  "${@:2}"
  stage_names+=("$1")
  stage_seconds+=($((SECONDS - current_start)))
  current_stage=""
}

# The tests run on every core at once, except the simulated device's clock
# tests: they bound the periods a real-time clock counts against the time that
# passed, and run alone afterwards so that no other test takes their CPU.
clock_tests='^SimulatedDeviceClock\.'
native_suite() {
  cmake --preset "$1"
  cmake --build --preset "$1"
  ctest --preset "$1" --parallel "$(nproc)" --exclude-regex "${clock_tests}"
  ctest --preset "$1" --tests-regex "${clock_tests}"
}

# A developer's machine may lack the optional peers (libswresample, libavutil,
# SDL2); the default preset must build there too. Only the benchmarks use them.
without_peers() {
  local build=build/default-without-peers
  cmake --preset default -B "${build}" -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON
  cmake --build "${build}" --target zv_benchmarks
}

# Every C++ source as the repository's .clang-format lays it out, with the
# clang-format the dependencies install (clang-format-14, Debian's clang).
format_check() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z '*.cpp' '*.h'
  else
    find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0
  fi | xargs -0 clang-format-14 --dry-run -Werror
}

stage "install dependencies" tools/ci/install_dependencies.sh
stage "format" format_check
stage "default" native_suite default
stage "default without peers" without_peers
stage "asan" native_suite asan
stage "tsan" native_suite tsan
stage "windows (under Wine)" tools/ci/windows.sh
stage "release archives, built twice" tools/package_release.sh --check-reproducible
stage "fuzz" tools/ci/fuzz.sh

echo "All suites passed."
