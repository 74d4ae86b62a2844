#pragma once

#include "LatencyController.h"
#include "SampleRingBuffer.h"
#include "VariableRateResampler.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace zvaudio {

// Steers one stream's queue depth towards a target: a smoothed measurement of
// the depth, a LatencyController turning its error into a rate correction, and
// a VariableRateResampler applying it to each host block. Large errors skip the
// slow loop: after a start or an underrun the queue is topped up with silence
// to the target at once, and a depth far above the target (a burst after an
// engine hitch) loses whole frames at once, joined by a short crossfade.
// Everything works in whole frames, so channels stay interleaved.
//
// The depth is measured at every host block, before it is written: the queued
// samples plus the part of the platform's last buffer not played yet, taking
// it to play evenly from its request until the next one (the request cadence
// is measured on SteeringClock). That is the ring's depth averaged over time,
// and it moves smoothly, where a count of the queued samples at the pushes or
// the pulls alone jumps by a whole block each time the drift slides a pull
// past a push. It is smoothed over kSmoothingSeconds.
//
// Threads: the *Locked calls run under streamMutex (intake and request path);
// Prepare runs on the intake outside it and touches only the intake's own
// state. Only host calls, which are serialised, create or destroy the object.
class LatencySteering {
public:
    static constexpr double kSmoothingSeconds = 1.0;
    // A depth this far above the target is cut at once, block by block, down
    // to kCutUntilSeconds above it.
    static constexpr double kFarAboveSeconds = 0.020;
    static constexpr double kCutUntilSeconds = 0.002;
    // Weight of each new interval in the measured request cadence.
    static constexpr double kIntervalWeight = 0.05;
    // Crossfade over the join of a removal: 1.3 ms at 48 kHz.
    static constexpr uint32_t kCrossfadeFrames = 64;

    // Allocates the resampler and the lead-in silence; nothing afterwards but
    // the scratch growing to the largest block seen. targetSamples is already
    // limited to the ring and a whole number of frames.
    LatencySteering(uint32_t channelCount, uint32_t sampleRate, uint32_t targetSamples);

    struct Block {
        const float* data;
        uint32_t count;   // samples, whole frames
        uint32_t removed; // samples removed by the far-above path
        uint32_t room;    // most samples a block of this host size can become
    };

    // Intake, outside streamMutex: updates the correction from the depth seen
    // at the previous block, resamples the block and applies a removal. A
    // trailing partial frame is left out so the ring stays interleaved.
    Block Prepare(const float* data, uint32_t count);

    // Intake, under streamMutex, before the block is written: measures the
    // depth, and after a start or an underrun queues silence so that it
    // reaches the target at once; returns the samples queued. hostSamples is
    // the host block this measurement stands for, removed what Prepare cut
    // from it; requestPending says that a platform request waits to be
    // served from the ring right after the write.
    uint32_t QueueLeadInLocked(SampleRingBuffer& ring, uint32_t hostSamples, uint32_t removed,
                               bool requestPending);

    // Under streamMutex: the platform asked for a buffer (whether or not the
    // ring could serve it), on its own cadence.
    void OnRequestLocked();
    // Under streamMutex: a fill found `queuedBefore` samples and took `taken`
    // of the `requested` its buffer holds; onRequest is false for a fill the
    // intake made for a request that had waited.
    void OnTakeLocked(uint32_t queuedBefore, uint32_t taken, uint32_t requested, bool onRequest);

    uint32_t TargetSamples() const { return targetSamples; }
    // Under streamMutex.
    double DepthSamples() const { return smoothedDepth; }
    double CorrectionPpm() const { return correctionPpm.load(std::memory_order_relaxed); }

private:
    void RemoveFrames(float* block, uint32_t frames, uint32_t removedFrames) const;

    const uint32_t channels;
    const double sampleRate;
    const uint32_t targetSamples;
    const std::vector<int16_t> silence;

    // Under streamMutex.
    double smoothedDepth;
    bool leadInPending = true;
    bool requestSeen = false;
    double lastRequestSeconds = 0.0; // on SteeringClock
    double requestInterval = 0.0;    // seconds between requests, smoothed; 0 until measured
    uint32_t bufferSamples = 0;      // of the platform's buffers; 0 before the first fill
    uint32_t playingSamples = 0;     // taken at the last request, now playing

    // Intake only.
    LatencyController controller;
    VariableRateResampler resampler;
    std::vector<float> scratch;
    double depthSeen;    // smoothed, at the last block
    double rawDepthSeen; // as measured at the last block, less what it cut
    bool cutting = false;
    double smoothingWeight = 0.0; // of the measurement for the block being prepared
    std::atomic<double> correctionPpm{0.0};
};

} // namespace zvaudio
