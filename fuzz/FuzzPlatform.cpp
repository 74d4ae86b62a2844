#include "FuzzPlatform.h"

#include "FuzzCheck.h"
#include "FuzzCounters.h"

#include <cstring>
#include <new>

namespace zvfuzz {

namespace {

constexpr uint32_t kGuardBytes = 64;
constexpr int16_t kUntouchedSample = static_cast<int16_t>(FuzzPlatform::kUntouched * 0x0101);
// A code whose text the platform does not know: the plug-in must cope with a null text.
constexpr ZVResult kResultWithoutText = 0x0BAD0000;

constexpr ZVResult kFailures[] = {1, -1, INT32_MIN, static_cast<ZVResult>(0x9E110001u),
                                  kResultWithoutText};

} // namespace

FuzzPlatform& FuzzPlatform::Instance() {
    static FuzzPlatform platform;
    return platform;
}

FuzzPlatform::FuzzPlatform() {
    calls.SetQuiet(true);
    storage.Allocate(1, (kMaxBufferBytes + kGuardBytes) / 2);
}

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
    FUZZ_CHECK(!storage.IsLent());
    FUZZ_CHECK(guard.Untouched());
}

// Counts the call, picks its result from the input and, for a failure, arms the one
// log line that must follow before the plug-in makes another call.
ZVResult FuzzPlatform::Finish(PlatformCall call) {
    FUZZ_CHECK(pendingLogCall == nullptr);
    const auto kind = static_cast<zvplatform::PlatformCall>(call);
    calls.Record(kind, kInvalidSoundHandle);
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
    pendingLogCall = zvplatform::PlatformCallName(kind);
    pendingLogAnyText = false;
    const char* text = ResultString(result);
    pendingLogText = text != nullptr ? text : "(no description)";
    Count(Counter::FailedCalls);
    return result;
}

ZVResult FuzzPlatform::GetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate,
                                                 float formatHint, AudioBufferFormat* outFormat,
                                                 uint32_t* outRecommended, uint32_t* outMinimum) {
    FUZZ_CHECK(outFormat != nullptr);
    lastDefaults.channelCount = channelCount;
    lastDefaults.sampleRate = sampleRate;
    std::memcpy(&lastDefaults.formatHintBits, &formatHint, sizeof formatHint);
    if (observer != nullptr) {
        observer->InsideUnlockedCall(PlatformCall::Defaults);
    }
    const ZVResult result = Finish(PlatformCall::Defaults);
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

ZVResult FuzzPlatform::CreateSound(const AudioBufferFormat* format, uint32_t bufferSize,
                                   ZVAudioBufferCallback callbackToUse, void* context,
                                   ZVSoundHandle* outHandle) {
    FUZZ_CHECK(format != nullptr && outHandle != nullptr && callbackToUse != nullptr);
    FUZZ_CHECK(std::memcmp(format, &lastFormat, sizeof lastFormat) == 0);
    lastCreateBufferSize = bufferSize;
    if (observer != nullptr) {
        observer->InsideUnlockedCall(PlatformCall::Create);
    }
    const ZVResult result = Finish(PlatformCall::Create);
    if (result != kResultOk) {
        return result;
    }
    // A platform may report success and still hand back no stream.
    const bool noStream =
        input != nullptr && input->remaining_bytes() > 0 && input->ConsumeIntegral<uint8_t>() < 16;
    if (noStream) {
        streams.ForceNextHandle(kInvalidSoundHandle);
    }
    const ZVSoundHandle handle = streams.Add({callbackToUse, context});
    callback = callbackToUse;
    lastCreated = handle;
    *outHandle = handle;
    if (observer != nullptr && handle != kInvalidSoundHandle) {
        observer->OnCreated(handle, context);
    }
    return result;
}

ZVResult FuzzPlatform::StartSound(ZVSoundHandle handle) {
    FUZZ_CHECK(handle == lastCreated && handle != kInvalidSoundHandle);
    lastCreated = kInvalidSoundHandle; // started once only
    if (observer != nullptr) {
        observer->OnStarted(handle);
    }
    return Finish(PlatformCall::Start);
}

ZVResult FuzzPlatform::StopSound(ZVSoundHandle handle) {
    FUZZ_CHECK(!storage.IsLent());
    if (observer != nullptr) {
        observer->InsideUnlockedCall(PlatformCall::Stop);
        observer->OnStopped(handle);
    }
    lastStopped = handle;
    return Finish(PlatformCall::Stop);
}

ZVResult FuzzPlatform::DestroySound(ZVSoundHandle handle) {
    FUZZ_CHECK(handle == lastStopped && handle != kInvalidSoundHandle);
    lastStopped = kInvalidSoundHandle;
    streams.Remove(handle);
    if (observer != nullptr) {
        observer->InsideUnlockedCall(PlatformCall::Destroy);
    }
    return Finish(PlatformCall::Destroy);
}

ZVResult FuzzPlatform::GetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) {
    FUZZ_CHECK(!storage.IsLent() && outBuffer != nullptr);
    const ZVResult result = Finish(PlatformCall::Fetch);
    lastFetchResult = result;
    if (result != kResultOk) {
        // A careless platform leaves a pointer behind; the plug-in must not use it.
        guard.PointAt(outBuffer);
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
    storage.Fill(kUntouchedSample);
    int16_t* const data = storage.Lend();
    lentNull = nullData;
    lentHandle = handle;
    lentBytes = bytes;
    outBuffer->data = nullData ? nullptr : data;
    outBuffer->size = bytes;
    return result;
}

ZVResult FuzzPlatform::ReleaseOutputBuffer(ZVSoundHandle handle) {
    FUZZ_CHECK(storage.IsLent() && handle == lentHandle);
    // Nothing beyond the whole samples of the buffer is written: not an odd last
    // byte and not the guard run behind it.
    const size_t written = lentNull ? 0 : (lentBytes / 2) * 2;
    FUZZ_CHECK(storage.LentBytesEqual(written, kUntouched));
    if (observer != nullptr) {
        observer->OnReleased(
            lentNull ? nullptr : reinterpret_cast<const uint8_t*>(storage.LentData()), lentBytes);
    }
    storage.ReturnLent();
    return Finish(PlatformCall::Release);
}

const char* FuzzPlatform::ResultString(ZVResult result) {
    switch (result) {
    case kResultOk: return "no error";
    case kResultBufferNotReady: return "buffer not ready";
    case kResultWithoutText: return nullptr;
    default: return "some failure";
    }
}

void FuzzPlatform::Log(int32_t level, const char* format, va_list args) {
    const char* callName = va_arg(args, const char*);
    const char* text = va_arg(args, const char*);
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

namespace zvplatform {

PlatformModel& ActivePlatform() {
    return zvfuzz::FuzzPlatform::Instance();
}

} // namespace zvplatform
