#include "AlignedBuffer.h"
#include "BandwidthKernels.h"
#include "BenchmarkRegistry.h"
#include "conversion/SampleConversion.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

namespace zvbench {

const std::vector<size_t>& ConversionSizes() {
    static const std::vector<size_t> sizes = {256, 2048, 16384, size_t{4} << 20};
    return sizes;
}

std::vector<float> TestSignal(size_t count) {
    std::mt19937 generator(12345);
    std::uniform_real_distribution<float> level(-1.02f, 1.02f);
    std::vector<float> signal(count);
    std::generate(signal.begin(), signal.end(), [&] { return level(generator); });
    return signal;
}

namespace {

constexpr int64_t kTrafficPerSample = 6; // 4 bytes read, 2 written

CallSize Conversion(size_t count) {
    const auto samples = static_cast<int64_t>(count);
    return {samples, samples * kTrafficPerSample};
}

template <typename Convert>
void RunConversion(benchmark::State& state, size_t count, Convert convert) {
    AlignedBuffer<float> in(count);
    const std::vector<float> signal = TestSignal(count);
    std::copy(signal.begin(), signal.end(), in.data());
    AlignedBuffer<int16_t> out(count);
    RunBatches(state, BatchFor(count), Conversion(count), [&] {
        convert(in.data(), out.data(), count);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    });
}

// The same memory traffic as a conversion, 6 bytes per sample, moved by
// memcpy: 3 bytes per sample read and 3 written.
void RunMemcpyEquivalent(benchmark::State& state, size_t count) {
    AlignedBuffer<unsigned char> in(count * 3);
    std::memset(in.data(), 0x11, in.bytes());
    AlignedBuffer<unsigned char> out(count * 3);
    RunBatches(state, BatchFor(count), Conversion(count), [&] {
        std::memcpy(out.data(), in.data(), in.bytes());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    });
}

std::string Name(const std::string& subject, size_t count) {
    return "Convert/" + subject + "/" + std::to_string(count);
}

// Registers a conversion benchmark; all are timed by RunBatches.
template <typename Body> void Register(const std::string& name, Body body) {
    benchmark::RegisterBenchmark(name.c_str(), body)->UseManualTime();
}

} // namespace

void RegisterConversionBenchmarks() {
    using zvaudio::ConversionPath;
    for (const size_t count : ConversionSizes()) {
        Register(Name("Ours", count), [count](benchmark::State& state) {
            RunConversion(state, count, zvaudio::ConvertToPcm16);
            state.SetLabel(zvaudio::ConversionPathName(zvaudio::ActiveConversionPath()));
        });
        for (const ConversionPath path :
             {ConversionPath::Avx2, ConversionPath::Sse2, ConversionPath::Scalar}) {
            if (!zvaudio::IsConversionPathAvailable(path)) {
                continue;
            }
            const std::string subject = std::string("Path") + zvaudio::ConversionPathName(path);
            Register(Name(subject, count), [count, path](benchmark::State& state) {
                RunConversion(state, count, [path](const float* in, int16_t* out, size_t n) {
                    zvaudio::ConvertToPcm16Using(path, in, out, n);
                });
            });
        }
        Register(Name("Reference", count), [count](benchmark::State& state) {
            RunConversion(state, count, zvaudio::ConvertToPcm16Reference);
        });
        Register(Name("Read4Write2", count), [count](benchmark::State& state) {
            RunConversion(state, count, CopyHighHalves);
            state.SetLabel(CopyHighHalvesPath());
        });
        Register(Name("Memcpy6B", count),
                 [count](benchmark::State& state) { RunMemcpyEquivalent(state, count); });
    }
}

} // namespace zvbench
