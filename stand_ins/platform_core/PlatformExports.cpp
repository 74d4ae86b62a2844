// The platform calls as the plug-in links them, each answered by the build's
// platform model. Compiled into the target that stands in for the platform
// library, so that a shared library exports them as its own.
#include "PlatformModel.h"

#include <new>
#include <system_error>

using zvplatform::ActivePlatform;

namespace {

// A C call cannot throw: a model that runs out of memory, threads or locks
// says so with a result code, as a platform library would.
template <typename Call> ZVResult Guarded(Call call) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return zvplatform::kResultOutOfResources;
    } catch (const std::system_error&) {
        return zvplatform::kResultOutOfResources;
    }
}

} // namespace

extern "C" {

ZVResult ZVAudioGetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate,
                                          float formatHint, AudioBufferFormat* outFormat,
                                          uint32_t* outRecommendedSize, uint32_t* outMinimumSize) {
    return Guarded([&] {
        return ActivePlatform().GetBufferedOutputDefaults(
            channelCount, sampleRate, formatHint, outFormat, outRecommendedSize, outMinimumSize);
    });
}

ZVResult ZVAudioCreateSoundWithBufferedOutput(const AudioBufferFormat* format, uint32_t bufferSize,
                                              ZVAudioBufferCallback callback, void* context,
                                              ZVSoundHandle* outHandle) {
    return Guarded([&] {
        return ActivePlatform().CreateSound(format, bufferSize, callback, context, outHandle);
    });
}

ZVResult ZVAudioStartSound(ZVSoundHandle handle) {
    return Guarded([&] { return ActivePlatform().StartSound(handle); });
}

ZVResult ZVAudioStopSound(ZVSoundHandle handle) {
    return Guarded([&] { return ActivePlatform().StopSound(handle); });
}

ZVResult ZVAudioDestroySound(ZVSoundHandle handle) {
    return Guarded([&] { return ActivePlatform().DestroySound(handle); });
}

ZVResult ZVAudioGetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) {
    return Guarded([&] { return ActivePlatform().GetOutputBuffer(handle, outBuffer); });
}

ZVResult ZVAudioReleaseOutputBuffer(ZVSoundHandle handle) {
    return Guarded([&] { return ActivePlatform().ReleaseOutputBuffer(handle); });
}

const char* ZVAudioGetResultString(ZVResult result) {
    return ActivePlatform().ResultString(result);
}

} // extern "C"
