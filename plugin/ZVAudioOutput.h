// The plug-in's boundary toward the host engine: six exported functions and
// the statistics export, all with C linkage and undecorated names. Boolean
// results are one byte wide (1 = true).
#pragma once

#include "AudioOutputStats.h"

#include <cstdint>

#if defined(_WIN32)
#  define ZV_PLUGIN_API __declspec(dllexport)
#else
#  define ZV_PLUGIN_API __attribute__((visibility("default")))
#endif

extern "C" {

// Creates the single instance; false when one exists already.
ZV_PLUGIN_API bool CreateAudioOutput();

// Opens (or re-opens) the platform stream with a ring of
// channelCount x sampleRate x bufferSeconds samples. bufferSize is passed to
// the platform as it stands. True whenever an instance exists: platform
// failures are logged, not reported.
ZV_PLUGIN_API bool CreateOutputBuffer(uint32_t bufferSize, uint32_t channelCount,
                                      uint32_t sampleRate, uint32_t ignoredA, uint32_t ignoredB,
                                      float formatHint, uint32_t bufferSeconds);

// Releases the stream and frees the instance; false when none exists.
ZV_PLUGIN_API bool DestroyAudioOutput();

// Queues count interleaved float samples; true whenever an instance exists.
// A null block or a negative count is refused without reading anything.
ZV_PLUGIN_API bool OnUnityAudio(float* data, int32_t count);

// Counters since the instance was created; false (and nothing written) when
// no instance exists or stats is null.
ZV_PLUGIN_API bool GetAudioOutputStats(ZVAudioOutputStats* stats);

// The engine's load and unload hooks: one empty routine under two names.
ZV_PLUGIN_API void UnityPluginLoad(void* unityInterfaces);
ZV_PLUGIN_API void UnityPluginUnload();

} // extern "C"
