// The plug-in's boundary toward the host engine: six exported functions, the
// statistics export and latency control with its records, all with C linkage
// and undecorated names. Boolean results are one byte wide (1 = true). This
// header stands on its own: it is the one a host needs.
#pragma once

#include <cstdint>

// Counters of one instance since it was created. Every field is 64 bits and
// the record has no padding, so managed code can mirror it byte for byte.
// Always: samplesQueued == samplesDelivered + samplesDropped + queuedSamples.
struct ZVAudioOutputStats {
    uint64_t samplesQueued;        // samples handed to a ring (after any rate adjustment)
    uint64_t samplesDropped;       // of those, samples that left a ring unplayed
    uint64_t samplesDelivered;     // queued samples written into platform buffers
    uint64_t silenceSamples;       // zero samples padded into platform buffers
    uint64_t buffersFilled;        // platform buffers filled and handed back
    uint64_t requestsDeferred;     // platform requests that found the ring empty
    uint64_t queuedSamples;        // samples waiting in the ring now
    uint64_t ringCapacity;         // capacity of the current ring; 0 with no stream
    uint64_t samplesWithoutStream; // host samples ignored because no stream existed
};
static_assert(sizeof(ZVAudioOutputStats) == 72, "the statistics record is 72 bytes");

// Latency control of one instance. Every field is 8 bytes and the record has
// no padding (64 bytes). Counters run since the instance was created.
struct ZVAudioOutputLatencyStats {
    uint64_t targetMilliseconds; // as set; 0 = latency control off
    uint64_t targetSamples;      // depth steered to: the target raised to what the cadence needs,
                                 // within the ring; 0 when off or no stream
    double depthMilliseconds;    // smoothed depth of the ring's queue
    double correctionPpm;        // rate correction now applied; > 0 hands the ring more
                                 // samples than the host gave
    uint64_t hostSamples;        // host samples taken in while control was on
    uint64_t ringSamples;        // samples handed to the ring for them, fast paths included
    uint64_t samplesRemoved;     // cut when the depth was far above the target
    uint64_t samplesInserted;    // silence queued when a stream started or ran dry
};
static_assert(sizeof(ZVAudioOutputLatencyStats) == 64, "the latency record is 64 bytes");

// What limits latency control now, and the ring that would lift the limit. Every
// field is 8 bytes and the record has no padding (72 bytes today). Later versions
// may add fields at its end, never change these: a caller passes the size of its
// own record, and recordSize says how large the library's is. All but recordSize
// are 0 while control is off or no stream is open.
struct ZVAudioOutputLatencyLimits {
    uint64_t recordSize;       // bytes of the record as this library knows it
    uint64_t limitedByRing;    // 1 when the cadence needs more than the ring allows
    uint64_t neededSamples;    // depth the current cadence needs, margin included,
                               // whatever the ring holds (whole frames)
    uint64_t limitSamples;     // largest depth the ring allows, with the cadence's
                               // writes and a platform buffer to spare (whole frames)
    double neededMilliseconds; // the same two in milliseconds
    double limitMilliseconds;
    uint64_t ringSamples;        // capacity of the current ring
    uint64_t fittingRingSamples; // smallest ring that holds what the cadence needs
                                 // with the same room to spare
    uint64_t fittingRingSeconds; // the same in whole seconds, as CreateOutputBuffer's
                                 // bufferSeconds takes them
};
static_assert(sizeof(ZVAudioOutputLatencyLimits) == 72, "the limits record is 72 bytes");

#if defined(_WIN32)
#    define ZV_PLUGIN_API __declspec(dllexport)
#else
#    define ZV_PLUGIN_API __attribute__((visibility("default")))
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
// A null block or a negative count is ignored: nothing is read or counted,
// and the call still returns true.
ZV_PLUGIN_API bool OnUnityAudio(float* data, int32_t count);

// Counters since the instance was created; false (and nothing written) when
// no instance exists or stats is null.
ZV_PLUGIN_API bool GetAudioOutputStats(ZVAudioOutputStats* stats);

// Optional for the host. Sets the queue depth the plug-in steers its ring
// towards, for the current stream and every later one of this instance; 0
// (the default) switches latency control off. A running stream takes a new
// target in place, without a gap. The depth steered to is raised where the
// cadence of blocks and requests needs more. False without an instance.
ZV_PLUGIN_API bool SetAudioOutputLatencyTarget(uint32_t milliseconds);

// Latency control's record; false (and nothing written) when no instance
// exists or stats is null.
ZV_PLUGIN_API bool GetAudioOutputLatencyStats(ZVAudioOutputLatencyStats* stats);

// Optional for the host, and newer than the other exports. Writes the first
// min(recordSize, sizeof(ZVAudioOutputLatencyLimits)) bytes of latency control's
// limits into *limits and nothing beyond them, so a caller built against a
// smaller or a larger record keeps working; false (and nothing written) when no
// instance exists, limits is null or recordSize cannot hold recordSize itself.
ZV_PLUGIN_API bool GetAudioOutputLatencyLimits(ZVAudioOutputLatencyLimits* limits,
                                               uint32_t recordSize);

// The engine's load and unload hooks; neither does anything.
ZV_PLUGIN_API void UnityPluginLoad(void* unityInterfaces);
ZV_PLUGIN_API void UnityPluginUnload();

} // extern "C"
