#pragma once

#include "BufferPool.h"
#include "CallLog.h"
#include "GuardBlock.h"
#include "HandleTable.h"
#include "PlatformModel.h"
#include "PlatformObserver.h"
#include "ZVAudio.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

namespace zvfuzz {

// The platform calls and the logger as the plug-in fuzzer links them: every result,
// handle and buffer size comes from the fuzz input, and every call is checked as it
// happens (a fetch while a buffer is lent, a release of a buffer never fetched, a
// failure that was not logged exactly once). Allocates nothing per call but a
// stream's entry, so that runs stay fast.
class FuzzPlatform : public zvplatform::PlatformModel {
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

    uint64_t CallCount(PlatformCall call) const {
        return calls.Count(static_cast<zvplatform::PlatformCall>(call));
    }
    uint64_t TotalCalls() const { return calls.Total(); }
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
    ZVResult GetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate, float formatHint,
                                       AudioBufferFormat* outFormat, uint32_t* outRecommended,
                                       uint32_t* outMinimum) override;
    ZVResult CreateSound(const AudioBufferFormat* format, uint32_t bufferSize,
                         ZVAudioBufferCallback callbackToUse, void* context,
                         ZVSoundHandle* outHandle) override;
    ZVResult StartSound(ZVSoundHandle handle) override;
    ZVResult StopSound(ZVSoundHandle handle) override;
    ZVResult DestroySound(ZVSoundHandle handle) override;
    ZVResult GetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) override;
    ZVResult ReleaseOutputBuffer(ZVSoundHandle handle) override;
    const char* ResultString(ZVResult result) override;
    void Log(int32_t level, const char* format, va_list args) override;

private:
    FuzzPlatform();
    ZVResult Finish(PlatformCall call);

    FuzzedDataProvider* input = nullptr;
    PlatformObserver* observer = nullptr;
    zvplatform::CallLog calls;
    zvplatform::HandleTable<zvplatform::StreamCallback> streams;

    ZVSoundHandle lastCreated = kInvalidSoundHandle;
    ZVSoundHandle lastStopped = kInvalidSoundHandle;
    ZVAudioBufferCallback callback = nullptr;
    AudioBufferFormat lastFormat{};
    DefaultsArguments lastDefaults{};
    uint32_t lastCreateBufferSize = 0;
    ZVResult lastFetchResult = kResultOk;

    bool lentNull = false;
    ZVSoundHandle lentHandle = kInvalidSoundHandle;
    uint32_t lentBytes = 0;
    zvplatform::BufferPool storage; // one buffer: the lent bytes, then a guard run
    zvplatform::GuardBlock guard;   // what a failed fetch points the descriptor at

    const char* pendingLogCall = nullptr;
    const char* pendingLogText = nullptr;
    bool pendingLogAnyText = false;
};

} // namespace zvfuzz
