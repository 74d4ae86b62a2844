// The platform calls as the plug-in links them, each answered by the build's
// platform model. Compiled into the target that stands in for the platform
// library, so that a shared library exports them as its own.
#include "PlatformModel.h"

#include <new>
#include <system_error>

// A build that names its model's type (zv_use_platform_model ... MODEL) calls
// the model directly rather than through its virtual functions: the benchmarks
// time the fetch and release on the request path.
#if defined(ZV_PLATFORM_MODEL_HEADER)
#    include ZV_PLATFORM_MODEL_HEADER
using Model = ZV_PLATFORM_MODEL;
#else
using Model = zvplatform::PlatformModel;
#endif

namespace {

Model& Active() {
    return static_cast<Model&>(zvplatform::ActivePlatform());
}

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
        return Active().GetBufferedOutputDefaults(channelCount, sampleRate, formatHint, outFormat,
                                                  outRecommendedSize, outMinimumSize);
    });
}

ZVResult ZVAudioCreateSoundWithBufferedOutput(const AudioBufferFormat* format, uint32_t bufferSize,
                                              ZVAudioBufferCallback callback, void* context,
                                              ZVSoundHandle* outHandle) {
    return Guarded(
        [&] { return Active().CreateSound(format, bufferSize, callback, context, outHandle); });
}

ZVResult ZVAudioStartSound(ZVSoundHandle handle) {
    return Guarded([&] { return Active().StartSound(handle); });
}

ZVResult ZVAudioStopSound(ZVSoundHandle handle) {
    return Guarded([&] { return Active().StopSound(handle); });
}

ZVResult ZVAudioDestroySound(ZVSoundHandle handle) {
    return Guarded([&] { return Active().DestroySound(handle); });
}

ZVResult ZVAudioGetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) {
    return Guarded([&] { return Active().GetOutputBuffer(handle, outBuffer); });
}

ZVResult ZVAudioReleaseOutputBuffer(ZVSoundHandle handle) {
    return Guarded([&] { return Active().ReleaseOutputBuffer(handle); });
}

const char* ZVAudioGetResultString(ZVResult result) {
    return Active().ResultString(result);
}

} // extern "C"
