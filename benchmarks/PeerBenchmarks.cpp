// Peers from the distribution's libraries, measured on the same signal and
// block sizes as the plug-in's converter. Each is built only when its library
// was found; a missing peer's benchmarks are simply not registered.
#include "AlignedBuffer.h"
#include "BenchmarkRegistry.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#if ZV_HAVE_SWRESAMPLE
extern "C" {
#    include <libavutil/channel_layout.h>
#    include <libavutil/samplefmt.h>
#    include <libswresample/swresample.h>
}
#endif

#if ZV_HAVE_SDL2
#    include <SDL_audio.h>
#endif

namespace zvbench {
namespace {

// Shared by the peers alone: without any, nothing here is used, and -Werror
// would turn the unused definitions into a failed build.
#if ZV_HAVE_SWRESAMPLE || ZV_HAVE_SDL2
constexpr int kChannels = 2;
constexpr int kRate = 48000;

std::string Name(const std::string& subject, size_t count) {
    return "Convert/" + subject + "/" + std::to_string(count);
}

CallSize Conversion(size_t count) {
    const auto samples = static_cast<int64_t>(count);
    return {samples, samples * 6}; // 4 bytes read, 2 written
}

template <typename Body> void Register(const std::string& name, Body body) {
    benchmark::RegisterBenchmark(name.c_str(), body)->UseManualTime();
}

void FillSignal(AlignedBuffer<float>& buffer) {
    const std::vector<float> signal = TestSignal(buffer.count());
    std::copy(signal.begin(), signal.end(), buffer.data());
}
#endif

#if ZV_HAVE_SWRESAMPLE
struct SwrFree {
    void operator()(SwrContext* context) const { swr_free(&context); }
};

// Interleaved stereo float to interleaved stereo 16-bit at one rate: no
// resampling or remixing, so swr_convert runs its sample-format conversion only.
void RunSwresample(benchmark::State& state, size_t count) {
    AVChannelLayout stereo{};
    av_channel_layout_default(&stereo, kChannels);
    SwrContext* raw = nullptr;
    if (swr_alloc_set_opts2(&raw, &stereo, AV_SAMPLE_FMT_S16, kRate, &stereo, AV_SAMPLE_FMT_FLT,
                            kRate, 0, nullptr) < 0) {
        state.SkipWithError("swr_alloc_set_opts2 failed");
        return;
    }
    std::unique_ptr<SwrContext, SwrFree> context(raw);
    if (swr_init(context.get()) < 0) {
        state.SkipWithError("swr_init failed");
        return;
    }
    AlignedBuffer<float> in(count);
    FillSignal(in);
    AlignedBuffer<int16_t> out(count);
    const int frames = static_cast<int>(count / kChannels);
    int converted = frames;
    RunBatches(state, BatchFor(count), Conversion(count), [&] {
        const auto* source = reinterpret_cast<const uint8_t*>(in.data());
        auto* destination = reinterpret_cast<uint8_t*>(out.data());
        converted =
            std::min(converted, swr_convert(context.get(), &destination, frames, &source, frames));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    });
    if (converted != frames) {
        state.SkipWithError("swr_convert converted fewer frames than it was given");
    }
}
#endif

#if ZV_HAVE_SDL2
// SDL_ConvertAudio converts in place: the 16-bit result overwrites the first
// half of the float input. Every run therefore restores that half first
// (2 bytes per sample); "SDL2Restore" measures the restoring alone, and the
// summary subtracts it to get SDL2's own conversion time.
bool BuildSdlConversion(SDL_AudioCVT& conversion) {
    return SDL_BuildAudioCVT(&conversion, AUDIO_F32SYS, kChannels, kRate, AUDIO_S16SYS, kChannels,
                             kRate) == 1 &&
           conversion.len_mult == 1;
}

void RunSdl(benchmark::State& state, size_t count, bool convert) {
    SDL_AudioCVT conversion{};
    if (!BuildSdlConversion(conversion)) {
        state.SkipWithError("SDL_BuildAudioCVT did not build a conversion");
        return;
    }
    AlignedBuffer<float> signal(count);
    FillSignal(signal);
    AlignedBuffer<float> work(count);
    std::memcpy(work.data(), signal.data(), signal.bytes());
    const size_t overwritten = count * sizeof(int16_t);
    conversion.buf = reinterpret_cast<Uint8*>(work.data());
    conversion.len = static_cast<int>(signal.bytes());
    int failures = 0;
    RunBatches(state, BatchFor(count), Conversion(count), [&] {
        std::memcpy(work.data(), signal.data(), overwritten);
        if (convert && SDL_ConvertAudio(&conversion) != 0) {
            ++failures;
        }
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    });
    if (failures != 0) {
        state.SkipWithError("SDL_ConvertAudio failed");
    }
}
#endif

} // namespace

void RegisterPeerBenchmarks() {
    for (const size_t count : ConversionSizes()) {
        static_cast<void>(count);
#if ZV_HAVE_SWRESAMPLE
        Register(Name("Swresample", count),
                 [count](benchmark::State& state) { RunSwresample(state, count); });
#endif
#if ZV_HAVE_SDL2
        Register(Name("SDL2", count),
                 [count](benchmark::State& state) { RunSdl(state, count, true); });
        Register(Name("SDL2Restore", count),
                 [count](benchmark::State& state) { RunSdl(state, count, false); });
#endif
    }
}

} // namespace zvbench
