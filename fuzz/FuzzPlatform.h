#pragma once

#include "PlatformObserver.h"
#include "ZVAudio.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <vector>

namespace zvfuzz {

// The platform calls and the logger as the plug-in fuzzer links them: every result,
// handle and buffer size comes from the fuzz input, and every call is checked as it
// happens (a fetch while a buffer is lent, a release of a buffer never fetched, a
// failure that was not logged exactly once). Allocates nothing per call, so that
// runs stay fast.
class FuzzPlatform {
public:
    static constexpr uint32_t kMaxBufferBytes = 4096;
    static constexpr uint8_t kUntouched = 0x5A;

    static FuzzPlatform& Instance();

    // Null input: every call succeeds, as when the driver tidies up between inputs.
    void Begin(FuzzedDataProvider* source, PlatformObserver* observerToUse);

    // A log line of the plug-in's own (not a platform failure) that must come next.
    void ExpectOwnLog(const char* callName);
    // Every failure so far was logged, no buffer is lent, and no failed fetch was
    // written through.
    void CheckSettled() const;

    uint64_t CallCount(PlatformCall call) const { return calls[static_cast<size_t>(call)]; }
    uint64_t TotalCalls() const;
    ZVResult LastFetchResult() const { return lastFetchResult; }
    ZVAudioBufferCallback Callback() const { return callback; }

    struct DefaultsArguments {
        uint32_t channelCount;
        uint32_t sampleRate;
        uint32_t formatHintBits;
    };
    DefaultsArguments LastDefaults() const { return lastDefaults; }
    uint32_t LastCreateBufferSize() const { return lastCreateBufferSize; }

    // Entry points behind the platform calls and the logger.
    ZVResult Defaults(uint32_t channelCount, uint32_t sampleRate, float formatHint,
                      AudioBufferFormat* outFormat, uint32_t* outRecommended, uint32_t* outMinimum);
    ZVResult Create(const AudioBufferFormat* format, uint32_t bufferSize,
                    ZVAudioBufferCallback callbackToUse, void* context, ZVSoundHandle* outHandle);
    ZVResult Start(ZVSoundHandle handle);
    ZVResult Stop(ZVSoundHandle handle);
    ZVResult Destroy(ZVSoundHandle handle);
    ZVResult Fetch(ZVSoundHandle handle, AudioOutputBuffer* outBuffer);
    ZVResult Release(ZVSoundHandle handle);
    const char* ResultText(ZVResult result) const;
    void Log(int32_t level, const char* format, const char* callName, const char* text);

private:
    FuzzPlatform();
    ZVResult Finish(PlatformCall call, const char* callName);
    bool GuardUntouched() const;

    FuzzedDataProvider* input = nullptr;
    PlatformObserver* observer = nullptr;
    std::array<uint64_t, static_cast<size_t>(PlatformCall::kCount)> calls{};

    ZVSoundHandle nextHandle = 1;
    ZVSoundHandle lastCreated = kInvalidSoundHandle;
    ZVSoundHandle lastStopped = kInvalidSoundHandle;
    ZVAudioBufferCallback callback = nullptr;
    AudioBufferFormat lastFormat{};
    DefaultsArguments lastDefaults{};
    uint32_t lastCreateBufferSize = 0;
    ZVResult lastFetchResult = kResultOk;

    bool lent = false;
    bool lentNull = false;
    ZVSoundHandle lentHandle = kInvalidSoundHandle;
    uint32_t lentBytes = 0;
    std::vector<uint8_t> storage; // lent buffer, then a guard run
    std::vector<uint8_t> guard;   // what a failed fetch points the descriptor at

    const char* pendingLogCall = nullptr;
    const char* pendingLogText = nullptr;
    bool pendingLogAnyText = false;
};

} // namespace zvfuzz
