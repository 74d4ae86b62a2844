#pragma once

#include "BufferPool.h"
#include "CallLog.h"
#include "FailureScript.h"
#include "GuardBlock.h"
#include "HandleTable.h"
#include "PlatformCall.h"
#include "PlatformModel.h"
#include "ZVAudio.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace zvtest {

using FakeCall = zvplatform::PlatformCall;
using CallRecord = zvplatform::CallRecord;

const char* FakeCallName(FakeCall call);

struct LogRecord {
    int32_t level;
    std::string line;
};

// A scriptable stand-in for the platform audio service and the logging
// library, linked into unit tests in place of the real ones. Every call is
// recorded; result codes can be scripted per call; buffers are lent from
// storage the fake owns and recorded when released. Hooks run inside a call,
// without the fake's lock, so that a test can act on another thread while the
// plug-in is inside that call. Handles are not checked: a test may raise a
// request or make a call with any handle, current, stale or invented.
class FakePlatform : public zvplatform::PlatformModel {
public:
    static FakePlatform& Instance();

    void Reset();

    // The next results of `call`, one per call, before falling back to kResultOk.
    void ScriptResults(FakeCall call, std::vector<ZVResult> results);
    // Every call of `call` returns `result` until changed.
    void SetDefaultResult(FakeCall call, ZVResult result);
    // The handle the next create call writes, once; otherwise handles count up
    // and are never reused, across resets too.
    void SetNextHandle(ZVSoundHandle handle);
    // Size in bytes of every lent buffer.
    void SetBufferBytes(uint32_t bytes);
    // On a failed fetch, point the descriptor at a guard block, as a careless
    // platform might, to prove the plug-in never writes through it.
    void SetScribbleOnFailedFetch(bool enabled);
    void SetHook(FakeCall call, std::function<void()> hook);
    // While quiet, calls and released buffers are not recorded, so that the
    // fake allocates nothing per call once warmed up (log lines still are).
    // Reset turns it off.
    void SetQuiet(bool enabled);
    // The logger records each line, then throws std::bad_alloc, as one running
    // out of memory while formatting would. Reset turns it off.
    void SetLoggerThrows(bool enabled);

    std::vector<CallRecord> Calls() const;
    std::vector<FakeCall> CallKinds() const;
    size_t CountCalls(FakeCall call) const;
    std::vector<LogRecord> Logs() const;
    std::vector<std::vector<int16_t>> ReleasedBuffers() const;
    bool GuardBlockUntouched() const;

    // The callback and context registered by the last successful create.
    ZVAudioBufferCallback Callback() const;
    void* Context() const;
    ZVSoundHandle LastCreatedHandle() const;

    // Raises a buffer request on the calling thread, as the platform would.
    void RaiseRequest(ZVSoundHandle handle) const;

    // Entry points behind the platform calls.
    ZVResult OnCall(FakeCall call, ZVSoundHandle handle);
    ZVResult OnCreate(ZVAudioBufferCallback callback, void* context, ZVSoundHandle* outHandle);
    ZVResult OnGetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer);
    ZVResult OnReleaseOutputBuffer(ZVSoundHandle handle);
    void OnLog(int32_t level, const std::string& line);

    static constexpr int16_t kUnwrittenSample = 0x5A5A;

    ZVResult GetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate, float formatHint,
                                       AudioBufferFormat* outFormat, uint32_t* outRecommendedSize,
                                       uint32_t* outMinimumSize) override;
    ZVResult CreateSound(const AudioBufferFormat* format, uint32_t bufferSize,
                         ZVAudioBufferCallback callback, void* context,
                         ZVSoundHandle* outHandle) override;
    ZVResult StartSound(ZVSoundHandle handle) override;
    ZVResult StopSound(ZVSoundHandle handle) override;
    ZVResult DestroySound(ZVSoundHandle handle) override;
    ZVResult GetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) override;
    ZVResult ReleaseOutputBuffer(ZVSoundHandle handle) override;
    const char* ResultString(ZVResult result) override;
    void Log(int32_t level, const char* format, va_list args) override;

private:
    FakePlatform() { Reset(); }
    ZVResult RecordLocked(FakeCall call, ZVSoundHandle handle);
    void RunHook(FakeCall call);

    mutable std::mutex mutex;
    zvplatform::CallLog calls;
    zvplatform::FailureScript results;
    zvplatform::HandleTable<zvplatform::StreamCallback> streams;
    zvplatform::StreamCallback registered;
    zvplatform::BufferPool buffers;
    zvplatform::GuardBlock guardBlock;
    std::vector<LogRecord> logs;
    std::map<FakeCall, std::function<void()>> hooks;
    uint32_t bufferBytes = 512;
    bool scribbleOnFailedFetch = false;
    bool loggerThrows = false;
    bool quietReleases = false;
    std::vector<std::vector<int16_t>> released;
};

} // namespace zvtest
