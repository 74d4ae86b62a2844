#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset) and runs each from its committed seed
# corpus for a bounded time. Exits non-zero when any target finds a crash, a leak or
# a failed invariant; the failing input is left in the work directory.
#
#   tools/ci/fuzz.sh                 30 s per target, as in CI
#   FUZZ_SECONDS=3600 tools/ci/fuzz.sh   a longer run: one hour per target
#
# Environment: FUZZ_SECONDS (default 30), FUZZ_WORK (default a fresh temp dir; the
# corpora grown there are kept), FUZZ_TARGETS (default "ring converter plugin steering"),
# FUZZ_BUILD_DIR (default build/fuzz, the preset's), FUZZ_JOBS (targets run at once,
# default the number of cores), FUZZ_SKIP_INSTALL=1 to skip the apt step.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
seconds="${FUZZ_SECONDS:-30}"
targets="${FUZZ_TARGETS:-ring converter plugin steering}"
work="${FUZZ_WORK:-$(mktemp -d /tmp/zv-fuzz.XXXXXX)}"
build="${FUZZ_BUILD_DIR:-$root/build/fuzz}"

if [[ "${FUZZ_SKIP_INSTALL:-0}" != 1 ]] && ! dpkg -s clang-14 libclang-rt-14-dev cmake ninja-build >/dev/null 2>&1; then
    sudo_cmd=""
    if [[ "$(id -u)" != 0 ]]; then sudo_cmd="sudo"; fi
    $sudo_cmd apt-get update
    $sudo_cmd apt-get install -y --no-install-recommends clang clang-14 libclang-rt-14-dev cmake ninja-build
fi

cd "$root"
cmake --preset fuzz -B "$build"
cmake --build "$build" --target zv_fuzzers

# One target per core at a time: each fuzzer runs on one thread, so a target
# gets its full time either way. Each one's output is shown when it is done.
jobs_max="${FUZZ_JOBS:-$(nproc)}"
run_target() {
    local target=$1
    # The seeds are copied, so that what the run discovers never dirties the tree.
    local corpus="$work/corpus/$target"
    mkdir -p "$corpus" "$work/artifacts/$target"
    cp -n "fuzz/corpus/$target/"* "$corpus/" 2>/dev/null || true
    echo "=== $target: $seconds s from $(ls "$corpus" | wc -l) inputs"
    # Progress lines are dropped; the summary, any report and the checked counts stay.
    if ! "$build/bin/${target}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$work/artifacts/$target/" "$corpus" 2>&1 |
            grep -v -E '^#[0-9]+|NEW_FUNC|^INFO:'; then
        echo "=== $target FAILED; reproduce with: $build/bin/${target}_fuzzer $work/artifacts/$target/<crash file>"
        return 1
    fi
}

for target in $targets; do
    while (( $(jobs -rp | wc -l) >= jobs_max )); do
        wait -n || true
    done
    (
        if run_target "$target" > "$work/$target.log" 2>&1; then result=0; else result=1; fi
        echo "$result" > "$work/$target.status"
    ) &
done
wait

status=0
for target in $targets; do
    cat "$work/$target.log"
    if [[ "$(cat "$work/$target.status" 2>/dev/null)" != 0 ]]; then
        status=1
    fi
done
echo "work directory: $work"
exit "$status"
