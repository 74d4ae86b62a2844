#include "FakePlatform.h"

#include <algorithm>
#include <cstdio>
#include <new>

namespace zvtest {

const char* FakeCallName(FakeCall call) {
    return zvplatform::PlatformCallName(call);
}

FakePlatform& FakePlatform::Instance() {
    static FakePlatform platform;
    return platform;
}

void FakePlatform::Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    calls.Clear();
    results.Clear();
    streams.Clear();
    registered = {};
    logs.clear();
    hooks.clear();
    bufferBytes = 512;
    buffers.Allocate(1, (bufferBytes + 1) / 2);
    guardBlock.Reset();
    scribbleOnFailedFetch = false;
    loggerThrows = false;
    quietReleases = false;
    released.clear();
}

void FakePlatform::ScriptResults(FakeCall call, std::vector<ZVResult> scripted) {
    for (const ZVResult result : scripted) {
        results.Append(call, result);
    }
}

void FakePlatform::SetDefaultResult(FakeCall call, ZVResult result) {
    results.SetStanding(call, result);
}

void FakePlatform::SetNextHandle(ZVSoundHandle handle) {
    std::lock_guard<std::mutex> lock(mutex);
    streams.ForceNextHandle(handle);
}

void FakePlatform::SetBufferBytes(uint32_t bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    bufferBytes = bytes;
    buffers.Allocate(1, (bytes + 1) / 2);
}

void FakePlatform::SetScribbleOnFailedFetch(bool enabled) {
    std::lock_guard<std::mutex> lock(mutex);
    scribbleOnFailedFetch = enabled;
}

void FakePlatform::SetQuiet(bool enabled) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.SetQuiet(enabled);
    quietReleases = enabled;
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
    return calls.Records();
}

std::vector<FakeCall> FakePlatform::CallKinds() const {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<FakeCall> kinds;
    for (const auto& record : calls.Records()) {
        kinds.push_back(record.call);
    }
    return kinds;
}

size_t FakePlatform::CountCalls(FakeCall call) const {
    std::lock_guard<std::mutex> lock(mutex);
    const auto& records = calls.Records();
    return static_cast<size_t>(std::count_if(
        records.begin(), records.end(), [call](const CallRecord& r) { return r.call == call; }));
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
    return guardBlock.Untouched();
}

ZVAudioBufferCallback FakePlatform::Callback() const {
    std::lock_guard<std::mutex> lock(mutex);
    return registered.callback;
}

void* FakePlatform::Context() const {
    std::lock_guard<std::mutex> lock(mutex);
    return registered.context;
}

ZVSoundHandle FakePlatform::LastCreatedHandle() const {
    std::lock_guard<std::mutex> lock(mutex);
    return streams.LastAdded();
}

void FakePlatform::RaiseRequest(ZVSoundHandle handle) const {
    zvplatform::StreamCallback target;
    {
        std::lock_guard<std::mutex> lock(mutex);
        target = registered;
    }
    target.Raise(handle);
}

ZVResult FakePlatform::RecordLocked(FakeCall call, ZVSoundHandle handle) {
    calls.Record(call, handle);
    return results.Next(call);
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
        result = RecordLocked(call, handle);
    }
    RunHook(call);
    return result;
}

ZVResult FakePlatform::OnCreate(ZVAudioBufferCallback cb, void* ctx, ZVSoundHandle* outHandle) {
    ZVResult result;
    {
        std::lock_guard<std::mutex> lock(mutex);
        result = RecordLocked(FakeCall::CreateSoundWithBufferedOutput, kInvalidSoundHandle);
        if (result == kResultOk) {
            registered = {cb, ctx};
            *outHandle = streams.Add(registered);
        }
    }
    RunHook(FakeCall::CreateSoundWithBufferedOutput);
    return result;
}

ZVResult FakePlatform::OnGetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) {
    ZVResult result;
    {
        std::lock_guard<std::mutex> lock(mutex);
        result = RecordLocked(FakeCall::GetOutputBuffer, handle);
        if (result == kResultOk) {
            // A second fetch without a release lends the buffer afresh.
            buffers.ReturnLent();
            buffers.Fill(kUnwrittenSample);
            outBuffer->data = buffers.Lend();
            outBuffer->size = bufferBytes;
        } else if (scribbleOnFailedFetch) {
            guardBlock.PointAt(outBuffer);
        }
    }
    RunHook(FakeCall::GetOutputBuffer);
    return result;
}

ZVResult FakePlatform::OnReleaseOutputBuffer(ZVSoundHandle handle) {
    ZVResult result;
    {
        std::lock_guard<std::mutex> lock(mutex);
        result = RecordLocked(FakeCall::ReleaseOutputBuffer, handle);
        if (buffers.IsLent()) {
            if (!quietReleases) {
                const int16_t* data = buffers.LentData();
                released.emplace_back(data, data + buffers.SamplesPerBuffer());
            }
            buffers.ReturnLent();
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

ZVResult FakePlatform::GetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate,
                                                 float /*formatHint*/, AudioBufferFormat* outFormat,
                                                 uint32_t* outRecommendedSize,
                                                 uint32_t* outMinimumSize) {
    const ZVResult result = OnCall(FakeCall::GetBufferedOutputDefaults, kInvalidSoundHandle);
    if (result == kResultOk) {
        *outFormat = AudioBufferFormat{channelCount, sampleRate, 16, 0};
        *outRecommendedSize = 1024;
        *outMinimumSize = 256;
    }
    return result;
}

ZVResult FakePlatform::CreateSound(const AudioBufferFormat* /*format*/, uint32_t /*bufferSize*/,
                                   ZVAudioBufferCallback callback, void* context,
                                   ZVSoundHandle* outHandle) {
    return OnCreate(callback, context, outHandle);
}

ZVResult FakePlatform::StartSound(ZVSoundHandle handle) {
    return OnCall(FakeCall::StartSound, handle);
}

ZVResult FakePlatform::StopSound(ZVSoundHandle handle) {
    return OnCall(FakeCall::StopSound, handle);
}

ZVResult FakePlatform::DestroySound(ZVSoundHandle handle) {
    return OnCall(FakeCall::DestroySound, handle);
}

ZVResult FakePlatform::GetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) {
    return OnGetOutputBuffer(handle, outBuffer);
}

ZVResult FakePlatform::ReleaseOutputBuffer(ZVSoundHandle handle) {
    return OnReleaseOutputBuffer(handle);
}

const char* FakePlatform::ResultString(ZVResult result) {
    switch (result) {
    case kResultOk: return "OK";
    case kResultBufferNotReady: return "BUFFER_NOT_READY";
    default: return "FAKE_FAILURE";
    }
}

void FakePlatform::Log(int32_t level, const char* format, va_list args) {
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    OnLog(level, line);
}

} // namespace zvtest

namespace zvplatform {

PlatformModel& ActivePlatform() {
    return zvtest::FakePlatform::Instance();
}

} // namespace zvplatform
