// Latency control under random use: streams of 1 to 8 channels at assorted rates,
// targets from 0 to far beyond the ring, set before and while streams run, blocks
// of any length (partial frames included), requests of any size from a platform
// that fails at random, and a steering clock that jumps. After every step the
// statistics must balance, the ring must have been handed exactly what latency
// control says it handed, and the correction must stay within its bound.
#include "FuzzCheck.h"
#include "FuzzCounters.h"
#include "FuzzPlatform.h"
#include "PlatformObserver.h"
#include "ZVAudioOutput.h"
#include "latency/SteeringClock.h"
#include "latency/VariableRateResampler.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <vector>

namespace {

using zvfuzz::FuzzPlatform;
using zvfuzz::PlatformCall;

constexpr uint32_t kRates[] = {8000, 11025, 22050, 44100, 48000};
constexpr uint32_t kTargets[] = {0, 1, 20, 40, 200, 1000, 60000};

double virtualSeconds = 0.0;

double VirtualNow() {
    return virtualSeconds;
}

class SteeringDriver : public zvfuzz::PlatformObserver {
public:
    explicit SteeringDriver(FuzzedDataProvider& source) : input(source) { CreateAudioOutput(); }

    void Step() {
        switch (input.ConsumeIntegralInRange<int>(0, 9)) {
        case 0: Open(); break;
        case 1: SetTarget(); break;
        case 2:
        case 3:
        case 4: Push(); break;
        case 5:
        case 6: Request(); break;
        case 7: virtualSeconds += input.ConsumeIntegralInRange<uint32_t>(0, 100000) * 1e-6; break;
        case 8: virtualSeconds += input.ConsumeIntegralInRange<uint32_t>(0, 1000); break;
        default: Close(); break;
        }
        zvfuzz::Count(zvfuzz::Counter::Steps);
        Check();
    }

    // PlatformObserver
    void InsideUnlockedCall(PlatformCall /*call*/) override {}
    void OnCreated(ZVSoundHandle handle, void* registered) override {
        current = handle;
        context = registered;
    }
    void OnStarted(ZVSoundHandle /*handle*/) override {}
    void OnStopped(ZVSoundHandle /*handle*/) override {}
    void OnReleased(const uint8_t* /*data*/, uint32_t /*size*/) override {}

private:
    void Open() {
        channels = input.ConsumeIntegralInRange<uint32_t>(1, 8);
        const uint32_t rate = input.PickValueInArray(kRates);
        const uint32_t seconds = input.ConsumeIntegralInRange<uint32_t>(0, 1);
        if (input.ConsumeBool()) {
            SetTarget();
        }
        const uint32_t frames = input.ConsumeIntegralInRange<uint32_t>(0, 2048);
        CreateOutputBuffer(frames, channels, rate, 0, 0, 0.0f, seconds);
    }

    void SetTarget() {
        const uint32_t target = input.ConsumeBool() ? input.PickValueInArray(kTargets)
                                                    : input.ConsumeIntegral<uint32_t>();
        FUZZ_CHECK(SetAudioOutputLatencyTarget(target));
    }

    void Push() {
        const auto count = input.ConsumeIntegralInRange<uint32_t>(0, 8192);
        block.resize(count);
        // Each channel its own level of one slow sine, now and then out of range.
        const float scale = input.ConsumeBool() ? 0.5f : 3.0f;
        for (uint32_t i = 0; i < count; ++i) {
            const auto channel = static_cast<float>(i % channels + 1);
            block[i] = scale * channel / 8.0f * std::sin(static_cast<float>(phase++) * 0.01f);
        }
        FUZZ_CHECK(OnUnityAudio(block.data(), static_cast<int32_t>(count)));
        zvfuzz::Count(zvfuzz::Counter::Samples, count);
    }

    void Request() {
        if (ZVAudioBufferCallback callback = FuzzPlatform::Instance().Callback();
            callback != nullptr && context != nullptr) {
            callback(current, context);
            zvfuzz::Count(zvfuzz::Counter::Requests);
        }
    }

    void Close() {
        // A new instance drops the stream; the counters start afresh with it.
        DestroyAudioOutput();
        CreateAudioOutput();
        context = nullptr;
    }

    void Check() {
        FuzzPlatform::Instance().CheckSettled();
        ZVAudioOutputStats stats{};
        ZVAudioOutputLatencyStats latency{};
        FUZZ_CHECK(GetAudioOutputStats(&stats));
        FUZZ_CHECK(GetAudioOutputLatencyStats(&latency));
        FUZZ_CHECK(stats.samplesQueued ==
                   stats.samplesDelivered + stats.samplesDropped + stats.queuedSamples);
        FUZZ_CHECK(latency.ringSamples <= stats.samplesQueued);
        FUZZ_CHECK(latency.samplesInserted <= latency.ringSamples);
        FUZZ_CHECK(latency.targetSamples <= stats.ringCapacity);
        FUZZ_CHECK(std::isfinite(latency.depthMilliseconds));
        FUZZ_CHECK(std::fabs(latency.correctionPpm) <=
                   zvaudio::VariableRateResampler::kMaxDeviation * 1e6 + 1e-6);
        if (latency.targetMilliseconds == 0) {
            FUZZ_CHECK(latency.targetSamples == 0 && latency.correctionPpm == 0.0);
        }
    }

    FuzzedDataProvider& input;
    ZVSoundHandle current = kInvalidSoundHandle;
    void* context = nullptr;
    uint32_t channels = 1;
    uint64_t phase = 0;
    std::vector<float> block;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzPlatform::Instance().Begin(nullptr, nullptr);
    DestroyAudioOutput();
    zvaudio::SteeringClock::SetSource(&VirtualNow);
    virtualSeconds = 0.0;

    FuzzedDataProvider input(data, size);
    SteeringDriver driver(input);
    FuzzPlatform::Instance().Begin(&input, &driver);
    while (input.remaining_bytes() > 0) {
        driver.Step();
    }
    FuzzPlatform::Instance().Begin(nullptr, nullptr);
    DestroyAudioOutput();
    return 0;
}
