// The platform calls as the plug-in links them, each answered by the build's
// platform model. Compiled into the target that stands in for the platform
// library, so that a shared library exports them as its own.
#include "PlatformModel.h"

using zvplatform::ActivePlatform;

extern "C" {

ZVResult ZVAudioGetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate,
                                          float formatHint, AudioBufferFormat* outFormat,
                                          uint32_t* outRecommendedSize, uint32_t* outMinimumSize) {
    return ActivePlatform().GetBufferedOutputDefaults(channelCount, sampleRate, formatHint,
                                                      outFormat, outRecommendedSize, outMinimumSize);
}

ZVResult ZVAudioCreateSoundWithBufferedOutput(const AudioBufferFormat* format, uint32_t bufferSize,
                                              ZVAudioBufferCallback callback, void* context,
                                              ZVSoundHandle* outHandle) {
    return ActivePlatform().CreateSound(format, bufferSize, callback, context, outHandle);
}

ZVResult ZVAudioStartSound(ZVSoundHandle handle) {
    return ActivePlatform().StartSound(handle);
}

ZVResult ZVAudioStopSound(ZVSoundHandle handle) {
    return ActivePlatform().StopSound(handle);
}

ZVResult ZVAudioDestroySound(ZVSoundHandle handle) {
    return ActivePlatform().DestroySound(handle);
}

ZVResult ZVAudioGetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) {
    return ActivePlatform().GetOutputBuffer(handle, outBuffer);
}

ZVResult ZVAudioReleaseOutputBuffer(ZVSoundHandle handle) {
    return ActivePlatform().ReleaseOutputBuffer(handle);
}

const char* ZVAudioGetResultString(ZVResult result) {
    return ActivePlatform().ResultString(result);
}

} // extern "C"
