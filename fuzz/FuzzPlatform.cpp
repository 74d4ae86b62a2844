#include "FuzzPlatform.h"

#include "FuzzCheck.h"
#include "FuzzCounters.h"
#include "ZVUnityNativeLogging.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <new>

namespace zvfuzz {

namespace {

constexpr size_t kGuardBytes = 64;
// A code whose text the platform does not know: the plug-in must cope with a null text.
constexpr ZVResult kResultWithoutText = 0x0BAD0000;

constexpr ZVResult kFailures[] = {1, -1, INT32_MIN, static_cast<ZVResult>(0x9E110001u),
                                  kResultWithoutText};

const char* const kCallNames[] = {
    "ZVAudioGetBufferedOutputDefaults",
    "ZVAudioCreateSoundWithBufferedOutput",
    "ZVAudioStartSound",
    "ZVAudioStopSound",
    "ZVAudioDestroySound",
    "ZVAudioGetOutputBuffer",
    "ZVAudioReleaseOutputBuffer",
};

} // namespace

FuzzPlatform& FuzzPlatform::Instance() {
    static FuzzPlatform platform;
    return platform;
}

FuzzPlatform::FuzzPlatform()
    : storage(kMaxBufferBytes + kGuardBytes, kUntouched), guard(kGuardBytes, kUntouched) {}

void FuzzPlatform::Begin(FuzzedDataProvider* source, PlatformObserver* observerToUse) {
    input = source;
    observer = observerToUse;
}

void FuzzPlatform::ExpectOwnLog(const char* callName) {
    FUZZ_CHECK(pendingLogCall == nullptr);
    pendingLogCall = callName;
    pendingLogAnyText = true;
}

void FuzzPlatform::CheckSettled() const {
    FUZZ_CHECK(pendingLogCall == nullptr);
    FUZZ_CHECK(!lent);
    FUZZ_CHECK(GuardUntouched());
}

uint64_t FuzzPlatform::TotalCalls() const {
    uint64_t total = 0;
    for (const uint64_t count : calls) {
        total += count;
    }
    return total;
}

bool FuzzPlatform::GuardUntouched() const {
    return std::all_of(guard.begin(), guard.end(), [](uint8_t b) { return b == kUntouched; });
}

// Counts the call, picks its result from the input and, for a failure, arms the one
// log line that must follow before the plug-in makes another call.
ZVResult FuzzPlatform::Finish(PlatformCall call, const char* callName) {
    FUZZ_CHECK(pendingLogCall == nullptr);
    ++calls[static_cast<size_t>(call)];
    if (input == nullptr || input->remaining_bytes() == 0) {
        return kResultOk;
    }
    const uint8_t choice = input->ConsumeIntegral<uint8_t>();
    if (choice < 176) {
        return kResultOk;
    }
    const ZVResult result = choice < 216
                                ? kResultBufferNotReady
                                : kFailures[choice % (sizeof kFailures / sizeof kFailures[0])];
    pendingLogCall = callName;
    pendingLogAnyText = false;
    const char* text = ResultText(result);
    pendingLogText = text != nullptr ? text : "(no description)";
    Count(Counter::FailedCalls);
    return result;
}

ZVResult FuzzPlatform::Defaults(uint32_t channelCount, uint32_t sampleRate, float formatHint,
                                AudioBufferFormat* outFormat, uint32_t* outRecommended,
                                uint32_t* outMinimum) {
    FUZZ_CHECK(outFormat != nullptr);
    lastDefaults.channelCount = channelCount;
    lastDefaults.sampleRate = sampleRate;
    std::memcpy(&lastDefaults.formatHintBits, &formatHint, sizeof formatHint);
    if (observer != nullptr) {
        observer->InsideUnlockedCall(PlatformCall::Defaults);
    }
    const ZVResult result = Finish(PlatformCall::Defaults, kCallNames[0]);
    if (result == kResultOk) {
        // Values the plug-in must pass on to the create call untouched.
        lastFormat = AudioBufferFormat{channelCount ^ 0xA5u, sampleRate ^ 0x5Au, 16, 0};
        *outFormat = lastFormat;
        if (outRecommended != nullptr) {
            *outRecommended = 256;
        }
        if (outMinimum != nullptr) {
            *outMinimum = 64;
        }
    }
    return result;
}

ZVResult FuzzPlatform::Create(const AudioBufferFormat* format, uint32_t bufferSize,
                              ZVAudioBufferCallback callbackToUse, void* context,
                              ZVSoundHandle* outHandle) {
    FUZZ_CHECK(format != nullptr && outHandle != nullptr && callbackToUse != nullptr);
    FUZZ_CHECK(std::memcmp(format, &lastFormat, sizeof lastFormat) == 0);
    lastCreateBufferSize = bufferSize;
    if (observer != nullptr) {
        observer->InsideUnlockedCall(PlatformCall::Create);
    }
    const ZVResult result = Finish(PlatformCall::Create, kCallNames[1]);
    if (result != kResultOk) {
        return result;
    }
    // A platform may report success and still hand back no stream.
    const bool noStream =
        input != nullptr && input->remaining_bytes() > 0 && input->ConsumeIntegral<uint8_t>() < 16;
    const ZVSoundHandle handle = noStream ? kInvalidSoundHandle : nextHandle++;
    callback = callbackToUse;
    lastCreated = handle;
    *outHandle = handle;
    if (observer != nullptr && handle != kInvalidSoundHandle) {
        observer->OnCreated(handle, context);
    }
    return result;
}

ZVResult FuzzPlatform::Start(ZVSoundHandle handle) {
    FUZZ_CHECK(handle == lastCreated && handle != kInvalidSoundHandle);
    lastCreated = kInvalidSoundHandle; // started once only
    if (observer != nullptr) {
        observer->OnStarted(handle);
    }
    return Finish(PlatformCall::Start, kCallNames[2]);
}

ZVResult FuzzPlatform::Stop(ZVSoundHandle handle) {
    FUZZ_CHECK(!lent);
    if (observer != nullptr) {
        observer->InsideUnlockedCall(PlatformCall::Stop);
        observer->OnStopped(handle);
    }
    lastStopped = handle;
    return Finish(PlatformCall::Stop, kCallNames[3]);
}

ZVResult FuzzPlatform::Destroy(ZVSoundHandle handle) {
    FUZZ_CHECK(handle == lastStopped && handle != kInvalidSoundHandle);
    lastStopped = kInvalidSoundHandle;
    if (observer != nullptr) {
        observer->InsideUnlockedCall(PlatformCall::Destroy);
    }
    return Finish(PlatformCall::Destroy, kCallNames[4]);
}

ZVResult FuzzPlatform::Fetch(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) {
    FUZZ_CHECK(!lent && outBuffer != nullptr);
    const ZVResult result = Finish(PlatformCall::Fetch, kCallNames[5]);
    lastFetchResult = result;
    if (result != kResultOk) {
        // A careless platform leaves a pointer behind; the plug-in must not use it.
        outBuffer->data = guard.data();
        outBuffer->size = static_cast<uint32_t>(guard.size());
        return result;
    }
    uint32_t bytes = 512;
    bool nullData = false;
    if (input != nullptr && input->remaining_bytes() > 0) {
        const uint8_t shape = input->ConsumeIntegral<uint8_t>();
        if (shape < 8) {
            bytes = shape; // 0 to 7 bytes: empty, one byte, odd sizes
        } else if (shape < 12) {
            nullData = true;
            bytes = 64;
        } else {
            bytes = input->ConsumeIntegralInRange<uint32_t>(0, kMaxBufferBytes);
        }
    }
    std::fill(storage.begin(), storage.end(), kUntouched);
    lent = true;
    lentNull = nullData;
    lentHandle = handle;
    lentBytes = bytes;
    outBuffer->data = nullData ? nullptr : storage.data();
    outBuffer->size = bytes;
    return result;
}

ZVResult FuzzPlatform::Release(ZVSoundHandle handle) {
    FUZZ_CHECK(lent && handle == lentHandle);
    // Nothing beyond the whole samples of the buffer is written: not an odd last
    // byte and not the guard run behind it.
    const size_t written = lentNull ? 0 : (lentBytes / 2) * 2;
    for (size_t i = written; i < storage.size(); ++i) {
        FUZZ_CHECK(storage[i] == kUntouched);
    }
    if (observer != nullptr) {
        observer->OnReleased(lentNull ? nullptr : storage.data(), lentBytes);
    }
    lent = false;
    return Finish(PlatformCall::Release, kCallNames[6]);
}

const char* FuzzPlatform::ResultText(ZVResult result) const {
    switch (result) {
    case kResultOk: return "no error";
    case kResultBufferNotReady: return "buffer not ready";
    case kResultWithoutText: return nullptr;
    default: return "some failure";
    }
}

void FuzzPlatform::Log(int32_t level, const char* format, const char* callName, const char* text) {
    FUZZ_CHECK(level == 1);
    FUZZ_CHECK(std::strcmp(format, "%s() failed with error %s") == 0);
    FUZZ_CHECK(pendingLogCall != nullptr && callName != nullptr && text != nullptr);
    FUZZ_CHECK(std::strcmp(callName, pendingLogCall) == 0);
    FUZZ_CHECK(pendingLogAnyText || std::strcmp(text, pendingLogText) == 0);
    pendingLogCall = nullptr;
    pendingLogText = nullptr;
    // The engine's logger may run out of memory while formatting: the plug-in
    // loses the line and must go on exactly as if it had been written.
    if (input != nullptr && input->remaining_bytes() > 0 &&
        input->ConsumeIntegral<uint8_t>() < 64) {
        Count(Counter::LoggerThrows);
        throw std::bad_alloc();
    }
}

} // namespace zvfuzz

// The platform calls and the logger, as the plug-in links them.
extern "C" {

ZVResult ZVAudioGetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate,
                                          float formatHint, AudioBufferFormat* outFormat,
                                          uint32_t* outRecommendedSize, uint32_t* outMinimumSize) {
    return zvfuzz::FuzzPlatform::Instance().Defaults(channelCount, sampleRate, formatHint,
                                                     outFormat, outRecommendedSize, outMinimumSize);
}

ZVResult ZVAudioCreateSoundWithBufferedOutput(const AudioBufferFormat* format, uint32_t bufferSize,
                                              ZVAudioBufferCallback callback, void* context,
                                              ZVSoundHandle* outHandle) {
    return zvfuzz::FuzzPlatform::Instance().Create(format, bufferSize, callback, context,
                                                   outHandle);
}

ZVResult ZVAudioStartSound(ZVSoundHandle handle) {
    return zvfuzz::FuzzPlatform::Instance().Start(handle);
}

ZVResult ZVAudioStopSound(ZVSoundHandle handle) {
    return zvfuzz::FuzzPlatform::Instance().Stop(handle);
}

ZVResult ZVAudioDestroySound(ZVSoundHandle handle) {
    return zvfuzz::FuzzPlatform::Instance().Destroy(handle);
}

ZVResult ZVAudioGetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) {
    return zvfuzz::FuzzPlatform::Instance().Fetch(handle, outBuffer);
}

ZVResult ZVAudioReleaseOutputBuffer(ZVSoundHandle handle) {
    return zvfuzz::FuzzPlatform::Instance().Release(handle);
}

const char* ZVAudioGetResultString(ZVResult result) {
    return zvfuzz::FuzzPlatform::Instance().ResultText(result);
}

} // extern "C"

namespace zv {

void ZVUnityNativeLogging::Log(ZVUnityNativeLogLevel level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const char* callName = va_arg(args, const char*);
    const char* text = va_arg(args, const char*);
    va_end(args);
    zvfuzz::FuzzPlatform::Instance().Log(static_cast<int32_t>(level), format, callName, text);
}

} // namespace zv
