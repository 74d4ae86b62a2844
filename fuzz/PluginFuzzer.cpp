// The plug-in as the host and the platform see it: random sequences of the seven
// exports with random arguments, interleaved with buffer requests carrying current and
// stale handles, against a platform that fails any call at random. A model follows
// every step, and after every step the plug-in's statistics must equal the model's
// exactly; every released buffer must hold the oldest queued samples followed by
// silence.
#include "FuzzCheck.h"
#include "FuzzCounters.h"
#include "FuzzPlatform.h"
#include "NumberedSamples.h"
#include "PlatformObserver.h"
#include "ZVAudioOutput.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <vector>

namespace {

using zvfuzz::Count;
using zvfuzz::Counter;
using zvfuzz::FuzzPlatform;
using zvfuzz::PlatformCall;

constexpr uint64_t kRingLimit = uint64_t{1} << 31;
// Rings the fuzzer lets the plug-in really allocate; larger legal products are
// turned into capacity-0 rings so that no input costs gigabytes.
constexpr uint64_t kLargestRing = uint64_t{1} << 18;
constexpr int32_t kLargestBlock = 1 << 17;

const zvtest::NumberedSamples& Numbers() {
    static const zvtest::NumberedSamples numbers;
    return numbers;
}

uint32_t FactorFrom(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: return 0;
    case 1: return 1;
    case 2: return 0x7FFFFFFFu;
    case 3: return 0x80000000u;
    case 4: return 0xFFFFFFFFu;
    case 5: return 65536; // 65536 x 65536 wraps to 0 in 32 bits
    default: return input.ConsumeIntegralInRange<uint32_t>(0, 64);
    }
}

float FloatFrom(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: return std::numeric_limits<float>::quiet_NaN();
    case 1: return std::numeric_limits<float>::infinity();
    case 2: return -std::numeric_limits<float>::infinity();
    case 3: return std::numeric_limits<float>::denorm_min();
    case 4: return -std::numeric_limits<float>::max();
    default: {
        const auto bits = input.ConsumeIntegral<uint32_t>();
        float value = 0.0f;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    }
}

class PluginDriver : public zvfuzz::PlatformObserver {
public:
    explicit PluginDriver(FuzzedDataProvider& source) : input(source) {}

    void Step() {
        switch (input.ConsumeIntegralInRange<int>(0, 11)) {
        case 0: CreateInstance(); break;
        case 1: DestroyInstance(); break;
        case 2:
        case 3: OpenStream(); break;
        case 4:
        case 5:
        case 6: Push(); break;
        case 7:
        case 8: Request(ChooseHandle(), ChooseContext()); break;
        case 9: Hooks(); break;
        default: StatsWithNullRecord(); break;
        }
        Count(Counter::Steps);
        Check();
    }

    // PlatformObserver
    void InsideUnlockedCall(PlatformCall /*call*/) override {
        if (inRequest || input.remaining_bytes() == 0 || input.ConsumeIntegral<uint8_t>() >= 48) {
            return;
        }
        // A request raised on the platform's thread while the host is inside a call.
        Request(ChooseHandle(), ChooseContext());
    }

    void OnCreated(ZVSoundHandle handle, void* registered) override {
        FUZZ_CHECK(instance && registered != nullptr);
        FUZZ_CHECK(context == nullptr || context == registered);
        context = registered;
        handles.push_back(handle);
    }

    void OnStarted(ZVSoundHandle handle) override {
        FUZZ_CHECK(current == kInvalidSoundHandle && queue.empty());
        current = handle;
        capacity = openingCapacity;
    }

    void OnStopped(ZVSoundHandle handle) override {
        FUZZ_CHECK(handle == current && current != kInvalidSoundHandle);
        stats.samplesDropped += queue.size();
        queue.clear();
        current = kInvalidSoundHandle;
        capacity = 0;
    }

    void OnReleased(const uint8_t* data, uint32_t size) override {
        const size_t n = data == nullptr ? 0 : size / 2;
        const size_t k = std::min(n, queue.size());
        for (size_t i = 0; i < n; ++i) {
            int16_t sample = 0;
            std::memcpy(&sample, data + 2 * i, sizeof sample);
            FUZZ_CHECK(sample == (i < k ? queue[i] : 0));
        }
        queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(k));
        stats.samplesDelivered += k;
        stats.silenceSamples += n - k;
        ++stats.buffersFilled;
        Count(Counter::Samples, n);
    }

private:
    void CreateInstance() {
        const bool created = CreateAudioOutput();
        FUZZ_CHECK(created == !instance);
        if (created) {
            instance = true;
            stats = ZVAudioOutputStats{};
            pending = false;
            context = nullptr;
        }
    }

    void DestroyInstance() {
        const uint64_t callsBefore = Platform().TotalCalls();
        const bool destroyed = DestroyAudioOutput();
        FUZZ_CHECK(destroyed == instance);
        FUZZ_CHECK(current == kInvalidSoundHandle);
        if (!destroyed) {
            FUZZ_CHECK(Platform().TotalCalls() == callsBefore);
        }
        instance = false;
        if (context != nullptr) {
            freed.push_back(context);
        }
        context = nullptr;
    }

    void OpenStream() {
        const uint32_t bufferSize = input.ConsumeBool()
                                        ? input.ConsumeIntegral<uint32_t>()
                                        : input.ConsumeIntegralInRange<uint32_t>(0, 4096);
        const uint32_t channels = FactorFrom(input);
        const uint32_t rate = FactorFrom(input);
        uint32_t seconds = FactorFrom(input);
        const uint32_t ignoredA = input.ConsumeIntegral<uint32_t>();
        const uint32_t ignoredB = input.ConsumeIntegral<uint32_t>();
        const float hint = FloatFrom(input);
        // Exact: a product that wraps 64 bits is refused like any other too large.
        const uint64_t partial = uint64_t{channels} * rate;
        const bool wraps = seconds != 0 && partial > UINT64_MAX / seconds;
        uint64_t product = wraps ? UINT64_MAX : partial * seconds;
        if (product > kLargestRing && product < kRingLimit) {
            seconds = 0;
            product = 0;
        }
        const bool refused = product >= kRingLimit;
        openingCapacity = product;

        const uint64_t defaultsBefore = Platform().CallCount(PlatformCall::Defaults);
        const uint64_t callsBefore = Platform().TotalCalls();
        if (instance && refused) {
            Platform().ExpectOwnLog("CreateOutputBuffer");
        }
        const bool result =
            CreateOutputBuffer(bufferSize, channels, rate, ignoredA, ignoredB, hint, seconds);
        FUZZ_CHECK(result == instance);
        if (!instance) {
            FUZZ_CHECK(Platform().TotalCalls() == callsBefore);
            return;
        }
        if (refused) {
            FUZZ_CHECK(Platform().CallCount(PlatformCall::Defaults) == defaultsBefore);
            FUZZ_CHECK(current == kInvalidSoundHandle);
            return;
        }
        FUZZ_CHECK(Platform().CallCount(PlatformCall::Defaults) == defaultsBefore + 1);
        const auto defaults = Platform().LastDefaults();
        uint32_t hintBits = 0;
        std::memcpy(&hintBits, &hint, sizeof hint);
        FUZZ_CHECK(defaults.channelCount == channels && defaults.sampleRate == rate &&
                   defaults.formatHintBits == hintBits);
        if (current != kInvalidSoundHandle) {
            FUZZ_CHECK(Platform().LastCreateBufferSize() == bufferSize);
        }
    }

    void Push() {
        int32_t count = 0;
        float* data = nullptr;
        const int shape = input.ConsumeIntegralInRange<int>(0, 9);
        if (shape == 0) {
            // Refused without reading: a null block, whatever the count says.
            count = input.ConsumeIntegral<int32_t>();
        } else if (shape == 1) {
            count = input.ConsumeIntegralInRange<int32_t>(std::numeric_limits<int32_t>::min(), 0);
            block = std::make_unique<float[]>(1);
            data = block.get();
        } else {
            count = input.ConsumeIntegralInRange<int32_t>(1, shape == 2 ? kLargestBlock : 600);
            // Exactly count values: a read beyond them is caught by the address sanitizer.
            block = std::make_unique<float[]>(static_cast<size_t>(count));
            for (int32_t i = 0; i < count; ++i) {
                block[static_cast<size_t>(i)] =
                    shape == 3 ? FloatFrom(input) : Numbers().FloatOf(nextNumber++);
            }
            data = block.get();
        }

        const uint64_t fetchesBefore = Platform().CallCount(PlatformCall::Fetch);
        const uint64_t callsBefore = Platform().TotalCalls();
        bool expectFill = false;
        const bool accepted = instance && data != nullptr && count > 0;
        if (accepted && current == kInvalidSoundHandle) {
            stats.samplesWithoutStream += static_cast<uint64_t>(count);
        } else if (accepted) {
            stats.samplesQueued += static_cast<uint64_t>(count);
            for (int32_t i = 0; i < count; ++i) {
                queue.push_back(zvtest::ExpectedPcm16(block[static_cast<size_t>(i)]));
            }
            while (queue.size() > capacity) {
                queue.pop_front();
                ++stats.samplesDropped;
            }
            expectFill = pending;
        }
        const bool result = OnUnityAudio(data, count);
        FUZZ_CHECK(result == instance);
        if (!accepted) {
            FUZZ_CHECK(Platform().TotalCalls() == callsBefore);
            return;
        }
        FUZZ_CHECK(Platform().CallCount(PlatformCall::Fetch) - fetchesBefore ==
                   (expectFill ? 1u : 0u));
        if (expectFill && Platform().LastFetchResult() != kResultBufferNotReady) {
            pending = false;
        }
    }

    void Request(ZVSoundHandle handle, void* requestContext) {
        const ZVAudioBufferCallback callback = Platform().Callback();
        if (callback == nullptr) {
            return; // no stream was ever registered
        }
        inRequest = true;
        const uint64_t fetchesBefore = Platform().CallCount(PlatformCall::Fetch);
        bool expectFill = false;
        // A freed instance's context may come back as the live one's address.
        const bool live = instance && requestContext != nullptr && requestContext == context;
        if (live && handle == current && current != kInvalidSoundHandle) {
            if (queue.empty()) {
                ++stats.requestsDeferred;
                pending = true;
            } else {
                pending = false;
                expectFill = true;
            }
        }
        callback(handle, requestContext);
        FUZZ_CHECK(Platform().CallCount(PlatformCall::Fetch) - fetchesBefore ==
                   (expectFill ? 1u : 0u));
        inRequest = false;
        Count(Counter::Requests);
    }

    ZVSoundHandle ChooseHandle() {
        switch (input.ConsumeIntegralInRange<int>(0, 5)) {
        case 0: return kInvalidSoundHandle;
        case 1: return input.ConsumeIntegral<uint64_t>();
        case 2:
            if (!handles.empty()) {
                return handles[input.ConsumeIntegralInRange<size_t>(0, handles.size() - 1)];
            }
            return current;
        default: return current;
        }
    }

    // Mostly the live instance; now and then nothing, or a destroyed instance's
    // context, as a request that was on its way when its instance was freed.
    void* ChooseContext() {
        const int pick = input.ConsumeIntegralInRange<int>(0, 7);
        if (pick == 1 && !freed.empty()) {
            Count(Counter::LateRequests);
            return freed[input.ConsumeIntegralInRange<size_t>(0, freed.size() - 1)];
        }
        if (pick == 0 || !instance || context == nullptr) {
            return nullptr;
        }
        return context;
    }

    void Hooks() {
        const uint64_t callsBefore = Platform().TotalCalls();
        UnityPluginLoad(reinterpret_cast<void*>(input.ConsumeIntegral<uintptr_t>()));
        UnityPluginUnload();
        FUZZ_CHECK(Platform().TotalCalls() == callsBefore);
    }

    void StatsWithNullRecord() { FUZZ_CHECK(!GetAudioOutputStats(nullptr)); }

    void Check() {
        Platform().CheckSettled();
        ZVAudioOutputStats actual{};
        std::memset(&actual, 0xEE, sizeof actual);
        const bool present = GetAudioOutputStats(&actual);
        FUZZ_CHECK(present == instance);
        if (!present) {
            for (size_t i = 0; i < sizeof actual; ++i) {
                FUZZ_CHECK(reinterpret_cast<const uint8_t*>(&actual)[i] == 0xEE);
            }
            return;
        }
        ZVAudioOutputStats expected = stats;
        expected.queuedSamples = queue.size();
        expected.ringCapacity = current != kInvalidSoundHandle ? capacity : 0;
        FUZZ_CHECK(actual.samplesQueued ==
                   actual.samplesDelivered + actual.samplesDropped + actual.queuedSamples);
        FUZZ_CHECK(std::memcmp(&actual, &expected, sizeof actual) == 0);
    }

    static FuzzPlatform& Platform() { return FuzzPlatform::Instance(); }

    FuzzedDataProvider& input;
    bool instance = false;
    void* context = nullptr;
    ZVSoundHandle current = kInvalidSoundHandle;
    uint64_t capacity = 0;
    uint64_t openingCapacity = 0;
    bool pending = false;
    bool inRequest = false;
    std::deque<int16_t> queue;
    std::vector<ZVSoundHandle> handles;
    std::vector<void*> freed; // contexts of destroyed instances
    std::unique_ptr<float[]> block;
    uint64_t nextNumber = 0;
    ZVAudioOutputStats stats{};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The plug-in's state outlives each input: start every input without an instance.
    FuzzPlatform::Instance().Begin(nullptr, nullptr);
    DestroyAudioOutput();
    FuzzPlatform::Instance().CheckSettled();

    FuzzedDataProvider input(data, size);
    PluginDriver driver(input);
    FuzzPlatform::Instance().Begin(&input, &driver);
    while (input.remaining_bytes() > 0) {
        driver.Step();
    }
    // Tidied up here too, so that the leak check between inputs sees nothing alive.
    FuzzPlatform::Instance().Begin(nullptr, nullptr);
    DestroyAudioOutput();
    return 0;
}
