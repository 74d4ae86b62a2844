#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

// The benchmark families, registered by main in a fixed order. Names follow
// "<Family>/<Subject>/<samples>"; benchmarks/summarize.py pairs them by name.
namespace zvbench {

// Block sizes of the conversion family, in samples.
const std::vector<size_t>& ConversionSizes();

// `count` floats of a fixed pseudo-random signal, mostly within [-1, 1] with a
// few values beyond, as a hot mix might produce.
std::vector<float> TestSignal(size_t count);

void RegisterConversionBenchmarks();
void RegisterPeerBenchmarks(); // only peers found at build time
void RegisterPathBenchmarks();
void RegisterResamplerBenchmarks(); // libswresample's side only when found
void RegisterDriftBenchmarks();     // the peers found at build time

// What one call of a measured routine handles.
struct CallSize {
    int64_t samples;
    int64_t bytes; // read plus written
};

// Every benchmark runs through here, so that all figures are measured alike.
// Each iteration runs `prepare` untimed, then `work` `batch` times between two
// reads of the monotonic clock (about 25 ns each, under 1% of a batch here).
//
// The machine is shared: a batch that loses its core to another process takes
// milliseconds longer. The mean (Time, items_per_second) therefore drifts with
// the load, while the median batch does not; the summary pairs the medians,
// reported as median_samples_per_s and median_ns_per_call.
template <typename Prepare, typename Work>
void RunBatches(benchmark::State& state, int batch, CallSize call, Prepare&& prepare, Work&& work) {
    std::vector<double> seconds;
    seconds.reserve(static_cast<size_t>(state.max_iterations));
    for (auto _ : state) {
        prepare();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < batch; ++i) {
            work();
        }
        const auto end = std::chrono::steady_clock::now();
        const double elapsed = std::chrono::duration<double>(end - start).count();
        state.SetIterationTime(elapsed);
        seconds.push_back(elapsed);
    }
    const int64_t runs = static_cast<int64_t>(state.iterations()) * batch;
    state.SetItemsProcessed(runs * call.samples);
    state.SetBytesProcessed(runs * call.bytes);
    if (!seconds.empty()) {
        const auto middle = seconds.begin() + static_cast<std::ptrdiff_t>(seconds.size() / 2);
        std::nth_element(seconds.begin(), middle, seconds.end());
        const double median = std::max(*middle, 1e-12);
        state.counters["median_samples_per_s"] =
            static_cast<double>(batch) * static_cast<double>(call.samples) / median;
        state.counters["median_ns_per_call"] = median * 1e9 / batch;
    }
}

template <typename Work>
void RunBatches(benchmark::State& state, int batch, CallSize call, Work&& work) {
    RunBatches(
        state, batch, call, [] {}, work);
}

// Calls per batch for a routine handling `samples` per call: enough for about
// 64K samples, so that a batch lasts microseconds and the clock reads vanish.
inline int BatchFor(size_t samples) {
    return static_cast<int>(std::max<size_t>(1, (size_t{64} << 10) / std::max<size_t>(samples, 1)));
}

} // namespace zvbench
