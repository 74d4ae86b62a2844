#!/usr/bin/env bash
# Every test of the project: the C++ format check, the native suite in the default, address/UB
# sanitizer and thread sanitizer builds, the default build once more without
# the optional peer libraries, the Windows build under Wine, the release
# archives (built twice, compared byte for byte), and the bounded fuzz runs.
# Installs what it needs first. Ends with the time each stage took, also when
# one fails: wall time, and the CPU time (user + system) of its processes,
# which another load on the machine changes less.
set -euo pipefail
cd "$(dirname "$0")/.."

stage_names=()
stage_seconds=()
stage_cpu_ticks=()
current_stage=""
current_start=0
current_cpu_start=0

# CPU time in clock ticks of every finished child of this shell so far (user
# + system), from /proc: the kernel adds a process's time to its parent's when
# it is reaped, so this covers whole process trees.
clock_ticks_per_second=$(getconf CLK_TCK)
children_cpu_ticks() {
  local stat fields
  stat=$(<"/proc/$$/stat")
  read -r -a fields <<<"${stat##*) }"
  echo $((fields[13] + fields[14]))
}

report_times() {
  local status=$?
  # An install still running is left to finish: stopping dpkg midway would
  # leave the machine's packages half configured.
  if [[ -n ${cross_install_pid:-} ]]; then
    wait "${cross_install_pid}" 2>/dev/null || true
  fi
  if [[ -n ${current_stage} ]]; then
    stage_names+=("${current_stage} (FAILED)")
    stage_seconds+=($((SECONDS - current_start)))
    stage_cpu_ticks+=($(($(children_cpu_ticks) - current_cpu_start)))
  fi
  echo
  echo "=== stage times (wall, CPU user+system) ==="
  local i total=0 total_cpu=0
  for i in "${!stage_names[@]}"; do
    print_stage_time "${stage_names[i]}" "${stage_seconds[i]}" "${stage_cpu_ticks[i]}"
    total=$((total + stage_seconds[i]))
    total_cpu=$((total_cpu + stage_cpu_ticks[i]))
  done
  print_stage_time "total" "${total}" "${total_cpu}"
  exit "${status}"
}
# print_stage_time <name> <wall seconds> <CPU ticks>
print_stage_time() {
  local cpu=$(($3 / clock_ticks_per_second))
  printf '%-34s %4d:%02d %5d:%02d\n' "$1" $(($2 / 60)) $(($2 % 60)) $((cpu / 60)) $((cpu % 60))
}
trap report_times EXIT

# stage <name> <command>...: runs the command as one timed stage.
stage() {
  current_stage=$1
  current_start=${SECONDS}
  current_cpu_start=$(children_cpu_ticks)
  echo "=== $1 ==="
  "${@:2}"
  stage_names+=("$1")
  stage_seconds+=($((SECONDS - current_start)))
  stage_cpu_ticks+=($(($(children_cpu_ticks) - current_cpu_start)))
  current_stage=""
}

# The tests run on every core at once, and one more: the soak test paces
# itself by a real clock for 20 s and uses under a twentieth of a core, so
# with one slot per core it would leave one idle. The simulated device's
# clock tests bound the periods a real-time clock counts against the time that
# passed, and run alone afterwards so that no other test takes their CPU.
clock_tests='^SimulatedDeviceClock\.'
native_suite() {
  cmake --preset "$1"
  cmake --build --preset "$1"
  ctest --preset "$1" --parallel "$(($(nproc) + 1))" --exclude-regex "${clock_tests}"
  ctest --preset "$1" --tests-regex "${clock_tests}"
}

# A developer's machine may lack the optional peers (libswresample, libavutil,
# SDL2, zita-resampler, speexdsp, libsamplerate, soxr); the default preset must
# build there too. Only the benchmarks use them.
without_peers() {
  local build=build/default-without-peers
  cmake --preset default -B "${build}" -DZV_BENCHMARK_PEERS=OFF
  cmake --build "${build}" --target zv_benchmarks
}

# The cross toolchain, Clang and Wine, most of what a fresh machine downloads,
# install in the background while the native suites build and run; nothing
# before the Windows stage needs them.
cross_install_log=build/install-cross.log
cross_install_pid=""
start_cross_install() {
  mkdir -p build
  tools/ci/install_dependencies.sh --cross >"${cross_install_log}" 2>&1 &
  cross_install_pid=$!
}
wait_for_cross_install() {
  local status=0
  wait "${cross_install_pid}" || status=$?
  cross_install_pid=""
  cat "${cross_install_log}"
  return "${status}"
}

stage "install dependencies (host)" tools/ci/install_dependencies.sh --host
start_cross_install
# Every C++ source as the repository's .clang-format lays it out, with the
# clang-format the dependencies install (clang-format-14, Debian's clang).
format_check() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z '*.cpp' '*.h'
  else
    find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0
  fi | xargs -0 clang-format-14 --dry-run -Werror
}
stage "format" format_check
stage "default" native_suite default
stage "default without peers" without_peers
stage "asan" native_suite asan
stage "tsan" native_suite tsan
stage "cross install (waited for)" wait_for_cross_install
stage "windows (under Wine)" tools/ci/windows.sh
stage "release archives, built twice" tools/package_release.sh --check-reproducible
stage "fuzz" tools/ci/fuzz.sh

echo "All suites passed."
