#include "FakePlatform.h"

#include "ZVUnityNativeLogging.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <new>

namespace zvtest {

namespace {
constexpr size_t kGuardSamples = 64;
constexpr int16_t kGuardSample = 0x3C3C;
} // namespace

const char* FakeCallName(FakeCall call) {
    switch (call) {
    case FakeCall::GetBufferedOutputDefaults: return "ZVAudioGetBufferedOutputDefaults";
    case FakeCall::CreateSoundWithBufferedOutput: return "ZVAudioCreateSoundWithBufferedOutput";
    case FakeCall::StartSound: return "ZVAudioStartSound";
    case FakeCall::StopSound: return "ZVAudioStopSound";
    case FakeCall::DestroySound: return "ZVAudioDestroySound";
    case FakeCall::GetOutputBuffer: return "ZVAudioGetOutputBuffer";
    case FakeCall::ReleaseOutputBuffer: return "ZVAudioReleaseOutputBuffer";
    }
    return "?";
}

FakePlatform& FakePlatform::Instance() {
    static FakePlatform platform;
    return platform;
}

void FakePlatform::Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    calls.clear();
    logs.clear();
    scripted.clear();
    defaults.clear();
    hooks.clear();
    forcedHandle.reset();
    lastCreated = kInvalidSoundHandle;
    callback = nullptr;
    context = nullptr;
    bufferBytes = 512;
    scribbleOnFailedFetch = false;
    quiet = false;
    loggerThrows = false;
    lent = false;
    lentBuffer.clear();
    guardBlock.assign(kGuardSamples, kGuardSample);
    released.clear();
}

void FakePlatform::ScriptResults(FakeCall call, std::vector<ZVResult> results) {
    std::lock_guard<std::mutex> lock(mutex);
    auto& queue = scripted[call];
    queue.insert(queue.end(), results.begin(), results.end());
}

void FakePlatform::SetDefaultResult(FakeCall call, ZVResult result) {
    std::lock_guard<std::mutex> lock(mutex);
    defaults[call] = result;
}

void FakePlatform::SetNextHandle(ZVSoundHandle handle) {
    std::lock_guard<std::mutex> lock(mutex);
    forcedHandle = handle;
}

void FakePlatform::SetBufferBytes(uint32_t bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    bufferBytes = bytes;
}

void FakePlatform::SetScribbleOnFailedFetch(bool enabled) {
    std::lock_guard<std::mutex> lock(mutex);
    scribbleOnFailedFetch = enabled;
}

void FakePlatform::SetQuiet(bool enabled) {
    std::lock_guard<std::mutex> lock(mutex);
    quiet = enabled;
}

void FakePlatform::SetLoggerThrows(bool enabled) {
    std::lock_guard<std::mutex> lock(mutex);
    loggerThrows = enabled;
}

void FakePlatform::SetHook(FakeCall call, std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex);
    hooks[call] = std::move(hook);
}

std::vector<CallRecord> FakePlatform::Calls() const {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
}

std::vector<FakeCall> FakePlatform::CallKinds() const {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<FakeCall> kinds;
    for (const auto& record : calls) {
        kinds.push_back(record.call);
    }
    return kinds;
}

size_t FakePlatform::CountCalls(FakeCall call) const {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<size_t>(std::count_if(calls.begin(), calls.end(),
                                             [call](const CallRecord& r) { return r.call == call; }));
}

std::vector<LogRecord> FakePlatform::Logs() const {
    std::lock_guard<std::mutex> lock(mutex);
    return logs;
}

std::vector<std::vector<int16_t>> FakePlatform::ReleasedBuffers() const {
    std::lock_guard<std::mutex> lock(mutex);
    return released;
}

bool FakePlatform::GuardBlockUntouched() const {
    std::lock_guard<std::mutex> lock(mutex);
    return std::all_of(guardBlock.begin(), guardBlock.end(),
                       [](int16_t s) { return s == kGuardSample; });
}

ZVAudioBufferCallback FakePlatform::Callback() const {
    std::lock_guard<std::mutex> lock(mutex);
    return callback;
}

void* FakePlatform::Context() const {
    std::lock_guard<std::mutex> lock(mutex);
    return context;
}

ZVSoundHandle FakePlatform::LastCreatedHandle() const {
    std::lock_guard<std::mutex> lock(mutex);
    return lastCreated;
}

void FakePlatform::RaiseRequest(ZVSoundHandle handle) const {
    ZVAudioBufferCallback cb = nullptr;
    void* ctx = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex);
        cb = callback;
        ctx = context;
    }
    if (cb != nullptr) {
        cb(handle, ctx);
    }
}

ZVResult FakePlatform::NextResultLocked(FakeCall call) {
    auto& queue = scripted[call];
    if (!queue.empty()) {
        const ZVResult result = queue.front();
        queue.pop_front();
        return result;
    }
    const auto it = defaults.find(call);
    return it != defaults.end() ? it->second : kResultOk;
}

void FakePlatform::RecordLocked(FakeCall call, ZVSoundHandle handle) {
    if (!quiet) {
        calls.push_back({call, handle});
    }
}

void FakePlatform::RunHook(FakeCall call) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto it = hooks.find(call);
        if (it != hooks.end()) {
            hook = it->second;
        }
    }
    if (hook) {
        hook();
    }
}

ZVResult FakePlatform::OnCall(FakeCall call, ZVSoundHandle handle) {
    ZVResult result;
    {
        std::lock_guard<std::mutex> lock(mutex);
        RecordLocked(call, handle);
        result = NextResultLocked(call);
    }
    RunHook(call);
    return result;
}

ZVResult FakePlatform::OnCreate(ZVAudioBufferCallback cb, void* ctx, ZVSoundHandle* outHandle) {
    ZVResult result;
    {
        std::lock_guard<std::mutex> lock(mutex);
        RecordLocked(FakeCall::CreateSoundWithBufferedOutput, kInvalidSoundHandle);
        result = NextResultLocked(FakeCall::CreateSoundWithBufferedOutput);
        if (result == kResultOk) {
            const ZVSoundHandle handle = forcedHandle ? *forcedHandle : handleCounter++;
            forcedHandle.reset();
            *outHandle = handle;
            lastCreated = handle;
            callback = cb;
            context = ctx;
        }
    }
    RunHook(FakeCall::CreateSoundWithBufferedOutput);
    return result;
}

ZVResult FakePlatform::OnGetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) {
    ZVResult result;
    {
        std::lock_guard<std::mutex> lock(mutex);
        RecordLocked(FakeCall::GetOutputBuffer, handle);
        result = NextResultLocked(FakeCall::GetOutputBuffer);
        if (result == kResultOk) {
            lentBuffer.assign((bufferBytes + 1) / 2, kUnwrittenSample);
            outBuffer->data = lentBuffer.data();
            outBuffer->size = bufferBytes;
            lent = true;
        } else if (scribbleOnFailedFetch) {
            outBuffer->data = guardBlock.data();
            outBuffer->size = static_cast<uint32_t>(guardBlock.size() * sizeof(int16_t));
        }
    }
    RunHook(FakeCall::GetOutputBuffer);
    return result;
}

ZVResult FakePlatform::OnReleaseOutputBuffer(ZVSoundHandle handle) {
    ZVResult result;
    {
        std::lock_guard<std::mutex> lock(mutex);
        RecordLocked(FakeCall::ReleaseOutputBuffer, handle);
        result = NextResultLocked(FakeCall::ReleaseOutputBuffer);
        if (lent) {
            if (!quiet) {
                released.push_back(lentBuffer);
            }
            lent = false;
        }
    }
    RunHook(FakeCall::ReleaseOutputBuffer);
    return result;
}

void FakePlatform::OnLog(int32_t level, const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    logs.push_back({level, line});
    if (loggerThrows) {
        throw std::bad_alloc();
    }
}

} // namespace zvtest

using zvtest::FakeCall;
using zvtest::FakePlatform;

extern "C" {

ZVResult ZVAudioGetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate,
                                          float /*formatHint*/, AudioBufferFormat* outFormat,
                                          uint32_t* outRecommendedSize, uint32_t* outMinimumSize) {
    const ZVResult result =
        FakePlatform::Instance().OnCall(FakeCall::GetBufferedOutputDefaults, kInvalidSoundHandle);
    if (result == kResultOk) {
        *outFormat = AudioBufferFormat{channelCount, sampleRate, 16, 0};
        *outRecommendedSize = 1024;
        *outMinimumSize = 256;
    }
    return result;
}

ZVResult ZVAudioCreateSoundWithBufferedOutput(const AudioBufferFormat* /*format*/,
                                              uint32_t /*bufferSize*/,
                                              ZVAudioBufferCallback callback, void* context,
                                              ZVSoundHandle* outHandle) {
    return FakePlatform::Instance().OnCreate(callback, context, outHandle);
}

ZVResult ZVAudioStartSound(ZVSoundHandle handle) {
    return FakePlatform::Instance().OnCall(FakeCall::StartSound, handle);
}

ZVResult ZVAudioStopSound(ZVSoundHandle handle) {
    return FakePlatform::Instance().OnCall(FakeCall::StopSound, handle);
}

ZVResult ZVAudioDestroySound(ZVSoundHandle handle) {
    return FakePlatform::Instance().OnCall(FakeCall::DestroySound, handle);
}

ZVResult ZVAudioGetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) {
    return FakePlatform::Instance().OnGetOutputBuffer(handle, outBuffer);
}

ZVResult ZVAudioReleaseOutputBuffer(ZVSoundHandle handle) {
    return FakePlatform::Instance().OnReleaseOutputBuffer(handle);
}

const char* ZVAudioGetResultString(ZVResult result) {
    switch (result) {
    case kResultOk: return "OK";
    case kResultBufferNotReady: return "BUFFER_NOT_READY";
    default: return "FAKE_FAILURE";
    }
}

} // extern "C"

namespace zv {

void ZVUnityNativeLogging::Log(ZVUnityNativeLogLevel level, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    FakePlatform::Instance().OnLog(static_cast<int32_t>(level), line);
}

} // namespace zv
