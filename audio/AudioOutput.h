#pragma once

#include "CacheLineAllocator.h"
#include "SampleRingBuffer.h"
#include "ZVAudio.h"
#include "ZVAudioOutput.h"
#include "latency/LatencySteering.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace zvaudio {

// Process-wide stream state, shared by the instance and the platform callback.
// soundHandle changes only under both the exports' lock and streamMutex, so a
// reader holding either one sees a stable value.
extern ZVSoundHandle soundHandle;
// Guards soundHandle changes, the ring pointer, every ring operation and every
// fill. Never held across the platform's stop or destroy calls.
extern std::mutex streamMutex;

// The single plug-in instance: owns the platform stream's ring, answers the
// platform's buffer requests and takes in the host's sample blocks.
//
// Threads: CreateOutputBuffer, ReleaseSound, OnUnityAudio, GetStats and the
// destructor run on host threads, serialised by the caller (the exports' lock).
// BufferCallback runs on the platform's thread and takes only streamMutex.
class AudioOutput {
public:
    // The instance is live, reachable through BufferCallback, from here until
    // its destruction has released the stream.
    AudioOutput();
    ~AudioOutput();

    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Ends any current stream, then opens, sizes and starts a new one in the
    // platform's default format. Platform failures are logged, never reported.
    void CreateOutputBuffer(uint32_t bufferSize, uint32_t channelCount, uint32_t sampleRate,
                            uint32_t ignoredA, uint32_t ignoredB, float formatHint,
                            uint32_t bufferSeconds);

    // Stops the current stream, discards its ring and destroys it.
    void ReleaseSound();

    // Converts a host block to 16-bit samples, queues it, and answers a request
    // the platform left pending while the ring was empty. Requires data to hold
    // count floats; count must stay below 2^31.
    void OnUnityAudio(const float* data, uint32_t count);

    // Platform thread. Answers a buffer request from the ring, or remembers it
    // when the ring is empty so that the next host block answers it.
    // Requires streamMutex held.
    void OnBufferRequested(ZVSoundHandle handle);

    ZVAudioOutputStats GetStats() const;

    // Queue depth to steer the ring towards, for this stream and every later
    // one; 0 switches latency control off.
    void SetLatencyTarget(uint32_t milliseconds);
    ZVAudioOutputLatencyStats GetLatencyStats() const;
    // Whether the ring limits latency control, and the ring that would not.
    ZVAudioOutputLatencyLimits GetLatencyLimits() const;

private:
    // Writes one platform buffer from the ring, padding with silence.
    // Returns false only when the platform had no buffer to give.
    // Requires streamMutex held, ring non-null and queuedBefore its Available().
    bool FillOutputBuffer(uint32_t queuedBefore);

    // Counts `handed` samples just written to the ring and what it dropped since
    // it held `queuedBefore`, and answers a request left pending. Requires
    // streamMutex held, ring non-null.
    void CountQueuedLocked(uint64_t handed, uint64_t queuedBefore);

    // A steering for a stream of this format at this target, or null when
    // control is off. Allocates; host calls only.
    std::unique_ptr<LatencySteering> MakeSteering(uint32_t milliseconds, uint32_t channelCount,
                                                  uint32_t sampleRate, uint32_t ringCapacity,
                                                  bool midStream) const;
    // A target in whole frames of the stream, limited to the ring.
    static uint32_t TargetSamples(uint32_t milliseconds, uint32_t channelCount, uint32_t sampleRate,
                                  uint32_t ringCapacity);

    // Switching latency control off on a running stream: the resampler's held-back
    // frames go to the ring before the unresampled blocks that follow.
    void EndSteering();

    CacheLineSamples convertBuffer;
    std::unique_ptr<SampleRingBuffer> ring;
    // Read and written only under streamMutex, which orders it, so reads are
    // relaxed; changed only by exchange, and only when it changes, since on x86
    // an exchange is a locked XCHG ("C/C++11 mappings to processors",
    // cl.cam.ac.uk/~pes20/cpp/cpp0xmappings.html).
    std::atomic<bool> bufferRequested{false};
    // The current stream's latency control; null when it is off. Replaced
    // only by host calls, under streamMutex; a change of target keeps it.
    std::unique_ptr<LatencySteering> steering;
    // Largest host block seen, so that a new steering's scratch is sized for it.
    uint32_t largestBlockSamples = 0;

    // Under streamMutex, except samplesWithoutStream, which only the host's
    // (serialised) calls touch.
    ZVAudioOutputStats stats{};
    // Counters of latency control, under streamMutex; the other fields are
    // filled when the record is read.
    ZVAudioOutputLatencyStats latencyCounters{};

    // Host calls only (serialised by the exports' lock).
    uint32_t latencyTargetMilliseconds = 0;
    uint32_t streamChannelCount = 0;
    uint32_t streamSampleRate = 0;
    // What the last switch-off flushed from the resampler: a steering joining after it
    // may take as much back.
    uint32_t samplesFlushedAtSwitchOff = 0;
};

// The callback registered with every stream; context is the AudioOutput. A
// context that is not the live instance, or the invalid handle, is ignored.
// No exception leaves it.
void BufferCallback(ZVSoundHandle handle, void* context);

} // namespace zvaudio
