// The drift-correction job: 1024-frame stereo float blocks resampled at the largest
// correction and converted to 16-bit, by our resampler and by libswresample with
// swr_set_compensation. Each benchmark also reports the SINAD of what the job plays (s16)
// and of its float result, measured by a sine fit on 1 s of a -1 dBFS sine.
#include "AlignedBuffer.h"
#include "BenchmarkRegistry.h"
#include "SineFit.h"
#include "conversion/SampleConversion.h"
#include "latency/VariableRateResampler.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#if ZV_HAVE_SWRESAMPLE
extern "C" {
#    include <libavutil/channel_layout.h>
#    include <libavutil/samplefmt.h>
#    include <libswresample/swresample.h>
}
#endif

namespace zvbench {
namespace {

using zvaudio::ConversionPath;
using zvaudio::VariableRateResampler;

constexpr int kChannels = 2;
constexpr int kRate = 48000;
constexpr size_t kFrames = 1024;
constexpr size_t kSamples = kFrames * kChannels;
constexpr double kRatio = 1.0 + VariableRateResampler::kMaxDeviation;

CallSize Job() {
    const auto samples = static_cast<int64_t>(kSamples);
    return {samples, samples * 6}; // 4 bytes read and about 2 written per input sample
}

// About 1 s of a -1 dBFS sine, interleaved stereo, the right channel a quarter turn ahead.
std::vector<float> Sine(double frequency) {
    const double pi = 3.14159265358979323846;
    const double amplitude = std::pow(10.0, -1.0 / 20.0);
    std::vector<float> samples(48 * kSamples); // whole blocks, about 1 s
    for (size_t i = 0; i < samples.size() / kChannels; ++i) {
        const double phase = 2.0 * pi * frequency / kRate * static_cast<double>(i);
        samples[i * kChannels] = static_cast<float>(amplitude * std::sin(phase));
        samples[i * kChannels + 1] = static_cast<float>(amplitude * std::cos(phase));
    }
    return samples;
}

// Runs a sine through `job` (in, frames, out) -> frames written, in kFrames blocks, and
// returns the worse channel's SINAD after the first 2048 output frames.
template <typename Sample, typename Run> double Sinad(double frequency, double scale, Run run) {
    const std::vector<float> in = Sine(frequency);
    std::vector<Sample> out(in.size() + 4096);
    size_t written = 0;
    for (size_t done = 0; done < in.size(); done += kSamples) {
        written += run(in.data() + done, out.data() + written * kChannels);
    }
    const size_t skip = 2048;
    double worst = 1000.0;
    for (size_t c = 0; c < kChannels; ++c) {
        const zvtest::SineFitResult fit =
            zvtest::FitSine(out.data() + skip * kChannels + c, written - skip, kChannels,
                            frequency / kRate / kRatio, scale);
        worst = std::min(worst, fit.sinadDb);
    }
    return worst;
}

struct SinadFigures {
    double s16[3];
    double floats[3];
};
constexpr double kSinadFrequencies[3] = {997.0, 10000.0, 18000.0};

// SINAD of the played 16-bit output and of the float result at 997 Hz, 10 kHz and 18 kHz,
// as counters. Measured once per subject, not on every run of the benchmark.
void ReportSinad(benchmark::State& state, const SinadFigures& figures) {
    for (size_t i = 0; i < 3; ++i) {
        const std::string hz = std::to_string(static_cast<int>(kSinadFrequencies[i]));
        state.counters["sinad_s16_" + hz] = figures.s16[i];
        state.counters["sinad_float_" + hz] = figures.floats[i];
    }
}

template <typename Make16, typename MakeFloat>
SinadFigures MeasureSinad(Make16 make16, MakeFloat makeFloat) {
    SinadFigures figures{};
    for (size_t i = 0; i < 3; ++i) {
        figures.s16[i] = Sinad<int16_t>(kSinadFrequencies[i], 1.0 / 32768.0, make16());
        figures.floats[i] = Sinad<float>(kSinadFrequencies[i], 1.0, makeFloat());
    }
    return figures;
}

// Our job: resample into a scratch block, then convert it to 16-bit.
class OurJob {
public:
    explicit OurJob(ConversionPath path)
        : resampler(kChannels), scratch(resampler.MaxOutputFrames(kFrames) * kChannels) {
        resampler.UsePath(path);
        resampler.SetRatio(kRatio);
    }
    size_t Resample(const float* in, float* out) { return resampler.Process(in, kFrames, out); }
    size_t operator()(const float* in, int16_t* out) {
        const size_t frames = resampler.Process(in, kFrames, scratch.data());
        zvaudio::ConvertToPcm16(scratch.data(), out, frames * kChannels);
        return frames;
    }
    ConversionPath Path() const { return resampler.Path(); }

private:
    VariableRateResampler resampler;
    AlignedBuffer<float> scratch;
};

// The fastest stereo kernel; the portable loop and the kernels for other CPUs are
// measured for information without the SINAD figures.
constexpr ConversionPath kFastest = ConversionPath::Avx2;

void RunOurs(benchmark::State& state, ConversionPath path) {
    OurJob job(path);
    if (job.Path() != path && path != kFastest) {
        state.SkipWithError("this CPU lacks the path");
        return;
    }
    state.SetLabel(zvaudio::ConversionPathName(job.Path()));
    if (path == kFastest) {
        static const SinadFigures figures = MeasureSinad(
            [] {
                return [job = std::make_shared<OurJob>(kFastest)](const float* in, int16_t* out) {
                    return (*job)(in, out);
                };
            },
            [] {
                return [job = std::make_shared<OurJob>(kFastest)](const float* in, float* out) {
                    return job->Resample(in, out);
                };
            });
        ReportSinad(state, figures);
    }
    AlignedBuffer<float> in(kSamples);
    const std::vector<float> signal = TestSignal(kSamples);
    std::copy(signal.begin(), signal.end(), in.data());
    AlignedBuffer<int16_t> out(kSamples + 64);
    RunBatches(state, BatchFor(kSamples), Job(), [&] {
        benchmark::DoNotOptimize(job(in.data(), out.data()));
        benchmark::ClobberMemory();
    });
}

#if ZV_HAVE_SWRESAMPLE
struct SwrFree {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
using SwrPointer = std::unique_ptr<SwrContext, SwrFree>;

// 48 kHz to 48 kHz with a standing compensation of kMaxDeviation: swr_set_compensation
// lowers the output step by delta / distance for the next `distance` output samples,
// here about 2^31 (12 hours at 48 kHz).
constexpr int kCompensationDistance = 2147483000;
constexpr int kCompensationDelta =
    static_cast<int>(kCompensationDistance * VariableRateResampler::kMaxDeviation);

SwrPointer MakeSwr(AVSampleFormat outputFormat) {
    AVChannelLayout stereo{};
    av_channel_layout_default(&stereo, kChannels);
    SwrContext* raw = nullptr;
    if (swr_alloc_set_opts2(&raw, &stereo, outputFormat, kRate, &stereo, AV_SAMPLE_FMT_FLT, kRate,
                            0, nullptr) < 0) {
        return nullptr;
    }
    SwrPointer context(raw);
    if (swr_init(context.get()) < 0 ||
        swr_set_compensation(context.get(), kCompensationDelta, kCompensationDistance) < 0) {
        return nullptr;
    }
    return context;
}

template <typename Sample> auto SwrJob(AVSampleFormat outputFormat) {
    return [context = std::shared_ptr<SwrContext>(MakeSwr(outputFormat).release(), SwrFree{})](
               const float* in, Sample* out) -> size_t {
        const auto* source = reinterpret_cast<const uint8_t*>(in);
        auto* destination = reinterpret_cast<uint8_t*>(out);
        const int frames = static_cast<int>(kFrames);
        const int written = swr_convert(context.get(), &destination, frames + 64, &source, frames);
        return written > 0 ? static_cast<size_t>(written) : 0;
    };
}

void RunSwresample(benchmark::State& state) {
    SwrPointer context = MakeSwr(AV_SAMPLE_FMT_S16);
    if (!context) {
        state.SkipWithError("libswresample did not accept the compensation");
        return;
    }
    static const SinadFigures figures =
        MeasureSinad([] { return SwrJob<int16_t>(AV_SAMPLE_FMT_S16); },
                     [] { return SwrJob<float>(AV_SAMPLE_FMT_FLT); });
    ReportSinad(state, figures);
    AlignedBuffer<float> in(kSamples);
    const std::vector<float> signal = TestSignal(kSamples);
    std::copy(signal.begin(), signal.end(), in.data());
    AlignedBuffer<int16_t> out(kSamples + 256);
    int shortest = static_cast<int>(kFrames);
    RunBatches(state, BatchFor(kSamples), Job(), [&] {
        const auto* source = reinterpret_cast<const uint8_t*>(in.data());
        auto* destination = reinterpret_cast<uint8_t*>(out.data());
        const int frames = static_cast<int>(kFrames);
        shortest = std::min(shortest,
                            swr_convert(context.get(), &destination, frames + 64, &source, frames));
        benchmark::ClobberMemory();
    });
    if (shortest < static_cast<int>(kFrames) - 64) {
        state.SkipWithError("swr_convert wrote fewer frames than expected");
    }
}
#endif

} // namespace

void RegisterResamplerBenchmarks() {
    const auto add = [](const char* name, ConversionPath path) {
        benchmark::RegisterBenchmark(name, [path](benchmark::State& state) {
            RunOurs(state, path);
        })->UseManualTime();
    };
    add("Resample/Ours/2048", kFastest);
    add("Resample/PathSSE2/2048", ConversionPath::Sse2);
    add("Resample/PathScalar/2048", ConversionPath::Scalar);
#if ZV_HAVE_SWRESAMPLE
    benchmark::RegisterBenchmark("Resample/Swresample/2048", RunSwresample)->UseManualTime();
#endif
}

} // namespace zvbench
