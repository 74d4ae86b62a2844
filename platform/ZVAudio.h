// Declarations of the platform audio service (zv_sdk_loader), exactly as the
// plug-in calls them. The service itself is closed; the project builds a
// simulated device with the same interface for Linux and for tests.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#    if defined(ZV_SDK_LOADER_BUILDING)
#        define ZV_SDK_API __declspec(dllexport)
#    else
#        define ZV_SDK_API
#    endif
#else
#    define ZV_SDK_API __attribute__((visibility("default")))
#endif

typedef int32_t ZVResult;       // 0 = success; any other value is a failure
typedef uint64_t ZVSoundHandle; // all 64 bits set = no stream
typedef void (*ZVAudioBufferCallback)(ZVSoundHandle handle, void* context);

constexpr ZVResult kResultOk = 0;
constexpr ZVResult kResultBufferNotReady = static_cast<ZVResult>(0x9E110008u);
constexpr ZVSoundHandle kInvalidSoundHandle = ~ZVSoundHandle{0};

extern "C" {

struct AudioBufferFormat {
    uint32_t channelCount;
    uint32_t sampleRate;
    uint32_t bitsPerSample; // 16 for the signed 16-bit PCM the plug-in writes
    uint32_t sampleFormat;  // 0 = signed integer PCM, 1 = float
};

struct AudioOutputBuffer {
    void* data;    // writable bytes, lent from fetch to release
    uint32_t size; // size in bytes
};

ZV_SDK_API ZVResult ZVAudioGetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate,
                                                     float formatHint, AudioBufferFormat* outFormat,
                                                     uint32_t* outRecommendedSize,
                                                     uint32_t* outMinimumSize);
ZV_SDK_API ZVResult ZVAudioCreateSoundWithBufferedOutput(const AudioBufferFormat* format,
                                                         uint32_t bufferSize,
                                                         ZVAudioBufferCallback callback,
                                                         void* context, ZVSoundHandle* outHandle);
ZV_SDK_API ZVResult ZVAudioStartSound(ZVSoundHandle handle);
ZV_SDK_API ZVResult ZVAudioStopSound(ZVSoundHandle handle);
ZV_SDK_API ZVResult ZVAudioDestroySound(ZVSoundHandle handle);
ZV_SDK_API ZVResult ZVAudioGetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer);
ZV_SDK_API ZVResult ZVAudioReleaseOutputBuffer(ZVSoundHandle handle);
ZV_SDK_API const char* ZVAudioGetResultString(ZVResult result);

} // extern "C"
