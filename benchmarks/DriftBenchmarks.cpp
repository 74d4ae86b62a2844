// Drift correction side by side (`Drift/<subject>/<Constant|Swept>`): 1024-frame
// stereo float blocks at 48 kHz, float out, through our resampler and each peer
// library found at build time, at 1 + 300 ppm and at a ratio that sweeps
// +-1000 ppm and changes on every block. Throughput counts input samples; the
// quality figures (DriftQuality.h) are measured once per subject and schedule
// and reported as counters.
#include "AlignedBuffer.h"
#include "BenchmarkRegistry.h"
#include "DriftQuality.h"

#include <algorithm>
#include <map>
#include <string>

namespace zvbench {
namespace {

constexpr size_t kChannels = DriftCorrector::kChannels;

void ReportQuality(benchmark::State& state, const DriftQuality& quality, bool swept) {
    state.counters["sinad_997"] = quality.sinad997;
    state.counters["sinad_18000"] = quality.sinad18k;
    if (swept) {
        state.counters["worst_block_sinad_997"] = quality.worstBlockSinad997;
        state.counters["worst_block_sinad_18000"] = quality.worstBlockSinad18k;
    } else {
        state.counters["gain_18000_db"] = quality.gain18kDb;
        state.counters["delay_frames"] = quality.delayFrames;
        state.counters["ratio_error_ppm"] = quality.ratioErrorPpm;
    }
    state.counters["refused_ratios"] = static_cast<double>(quality.refusedRatios);
}

const DriftQuality& QualityOf(const DriftSubject& subject, bool swept) {
    // Measured on the first run of each benchmark only: repetitions reuse it.
    static std::map<std::string, DriftQuality> measured;
    const std::string key = subject.name + (swept ? "/Swept" : "/Constant");
    auto found = measured.find(key);
    if (found == measured.end()) {
        found =
            measured
                .emplace(key, swept ? MeasureSweptRatio(subject) : MeasureConstantRatio(subject))
                .first;
    }
    return found->second;
}

void RunDrift(benchmark::State& state, const DriftSubject& subject, bool swept) {
    ReportQuality(state, QualityOf(subject, swept), swept);
    const std::unique_ptr<DriftCorrector> corrector = subject.make();
    constexpr size_t kSamples = kDriftBlockFrames * kChannels;
    AlignedBuffer<float> in(kSamples);
    const std::vector<float> signal = TestSignal(kSamples);
    std::copy(signal.begin(), signal.end(), in.data());
    constexpr size_t kCapacity = 2 * kDriftBlockFrames;
    AlignedBuffer<float> out(kCapacity * kChannels);
    size_t block = 0;
    size_t shortest = kDriftBlockFrames;
    corrector->SetRatio(ConstantDriftRatio());
    const auto samples = static_cast<int64_t>(kSamples);
    // One block per batch: the slowest peers take a millisecond a block, and a
    // longer batch would lose its core to the machine's other work more often
    // than ours does, which would count against them.
    RunBatches(state, 1, {samples, samples * 8}, [&] {
        if (swept) {
            corrector->SetRatio(SweptDriftRatio(block++));
        }
        shortest = std::min(
            shortest, corrector->Process(in.data(), kDriftBlockFrames, out.data(), kCapacity));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    });
    state.counters["shortest_block_frames"] = static_cast<double>(shortest);
}

} // namespace

void RegisterDriftBenchmarks() {
    for (const DriftSubject& subject : DriftSubjects()) {
        for (const bool swept : {false, true}) {
            const std::string name = "Drift/" + subject.name + (swept ? "/Swept" : "/Constant");
            benchmark::RegisterBenchmark(name.c_str(), [&subject, swept](benchmark::State& state) {
                RunDrift(state, subject, swept);
            })->UseManualTime();
        }
    }
}

} // namespace zvbench
