// A model of the platform audio service: what answers the eight platform calls
// (and, where the model also stands in for it, the logger) in a build that
// links one in place of the platform library.
#pragma once

#include "ZVAudio.h"

#include <cstdarg>
#include <cstdint>

namespace zvplatform {

// What a model's call returns when it ran out of memory, threads or locks.
constexpr ZVResult kResultOutOfResources = static_cast<ZVResult>(0x9E110004u);

// Each model is a policy over the shared mechanics (HandleTable, BufferPool,
// FailureScript, CallLog, DeviceClock); PlatformExports.cpp turns the C calls
// into calls of the one model that the build defines ActivePlatform() for.
class PlatformModel {
public:
    virtual ~PlatformModel() = default;

    virtual ZVResult GetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate,
                                               float formatHint, AudioBufferFormat* outFormat,
                                               uint32_t* outRecommendedSize,
                                               uint32_t* outMinimumSize) = 0;
    virtual ZVResult CreateSound(const AudioBufferFormat* format, uint32_t bufferSize,
                                 ZVAudioBufferCallback callback, void* context,
                                 ZVSoundHandle* outHandle) = 0;
    virtual ZVResult StartSound(ZVSoundHandle handle) = 0;
    virtual ZVResult StopSound(ZVSoundHandle handle) = 0;
    virtual ZVResult DestroySound(ZVSoundHandle handle) = 0;
    virtual ZVResult GetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) = 0;
    virtual ZVResult ReleaseOutputBuffer(ZVSoundHandle handle) = 0;
    virtual const char* ResultString(ZVResult result) = 0;

    // One line of the logger, for models linked with LoggerExport.cpp. By
    // default: counted and printed on stderr.
    virtual void Log(int32_t level, const char* format, va_list args);
    uint64_t LogLines() const { return logLines; }

protected:
    uint64_t logLines = 0;
};

// Defined once per build, by the model it links in.
PlatformModel& ActivePlatform();

} // namespace zvplatform
