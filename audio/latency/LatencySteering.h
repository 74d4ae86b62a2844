#pragma once

#include "SampleRingBuffer.h"
#include "latency/CadenceClock.h"
#include "latency/DepthWindow.h"
#include "latency/LatencyController.h"
#include "latency/VariableRateResampler.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

namespace zvaudio {

// Steers one stream's queue depth towards a target: a smoothed measurement of the depth,
// a LatencyController turning its error into a rate correction, and a VariableRateResampler
// applying it to each host block. Everything works in whole frames, so channels stay
// interleaved.
//
// The depth is measured at every host block, before it is written: the queued samples plus
// the part of the platform's last buffer not played yet, taking it to play evenly from its
// request until the next one. Both streams of events are timed by a CadenceClock: the
// platform's buffer is taken to start playing at its request's smoothed time, and a block
// is measured as of when the block loop expected it (its deviation from the prediction,
// less that deviation's recent mean), so that neither the scheduling of two threads nor a
// late or bunched block jitters the measurement. It is then smoothed by two first-order
// stages of kSmoothingSeconds each, so that what jitter is left moves the correction by a
// small fraction of a ppm.
//
// The depth steered to, the effective target, is the requested one raised to what the
// cadence needs: at every request the queue must hold the buffer the platform takes. Over
// a recent window (DepthWindow), the mean depth before a block less the lowest depth before
// a block or at a request, plus the buffer and a margin, is the least depth that never
// starves. It is learnt at once while a lead-in settles, glided or crept up to afterwards,
// held while the cadence keeps coming near it and given back slowly when it calms; it never
// exceeds what the ring holds with the cadence's writes and a platform buffer to spare. A
// higher requested target is glided to within the correction bound; a lower one is reached
// by crossfaded cuts, which are only made from audio that the lowest queue of the window can
// spare, so that a cut never starves the platform and the controller never pushes back
// against it. Silence is queued only when a stream starts or has run dry.
//
// Threads: the *Locked calls run under streamMutex (intake and request path); Prepare and
// Flush run on the intake outside it and touch only the intake's own state. Only host calls,
// which are serialised, create or destroy the object.
class LatencySteering {
public:
    static constexpr double kSmoothingSeconds = 1.0;
    // A depth this far above the target is cut, block by block, down to kCutUntilSeconds
    // above it, as far as the queue can spare.
    static constexpr double kFarAboveSeconds = 0.020;
    static constexpr double kCutUntilSeconds = 0.002;
    // For this long after a lead-in, any depth more than kSettlingCutSeconds above the
    // target is cut: a lead-in is sized on one block, and a cadence that bunches its
    // blocks lifts the depth above it by up to a burst.
    static constexpr double kSettlingSeconds = 10.0;
    static constexpr double kSettlingCutSeconds = 0.005;
    // Kept above what the cadence needs, and left in the queue by every cut.
    static constexpr double kMarginSeconds = 0.004;
    // The learnt need is held this long after it was last reached, then falls this fast,
    // slow enough that the controller follows without a cut.
    static constexpr double kNeedHoldSeconds = 60.0;
    static constexpr double kNeedFallPerSecond = 0.0003;
    // While a lead-in settles, what the queue does is partly the lead-in's own doing: the
    // need is held only briefly and falls fast, and cuts take what it overstated.
    static constexpr double kSettlingHoldSeconds = 1.0;
    static constexpr double kSettlingFallPerSecond = 0.02;
    // How fast the target rises towards a higher request, or a need that outgrew the
    // margin: half the correction bound, which leaves room for the largest drift the
    // controller corrects. The slope is fed forward, eased in and out over kEaseSeconds.
    static constexpr double kGlidePerSecond = 0.0005;
    static constexpr double kEaseSeconds = 1.0;
    // How fast the target creeps up to a need that grew within the margin.
    static constexpr double kNeedCreepPerSecond = 0.0001;
    // The queue's recent low and mean are taken over the last one to two windows of this
    // length, or of four requests or four host blocks if longer, so that a window spans the
    // pattern of any common cadence.
    static constexpr double kWindowSeconds = 0.5;
    // Bandwidths of the loops timing the platform's requests, which a scheduler delays by
    // fractions of a millisecond, and the host's blocks, which an engine may hand over
    // tens of milliseconds late or several at once.
    static constexpr double kRequestClockHz = 0.2;
    static constexpr double kBlockClockHz = 0.03;
    // How blocks deviate from the loop's prediction is taken relative to its mean, over
    // kSmoothingSeconds for the first kDeviationLockSeconds of the loop, then over
    // kDeviationMeanSeconds.
    static constexpr double kDeviationLockSeconds = 8.0;
    static constexpr double kDeviationMeanSeconds = 3.0;
    // Crossfade over the join of a removal: 1.3 ms at 48 kHz.
    static constexpr uint32_t kCrossfadeFrames = 64;

    // Allocates the resampler's history and the scratch for blocks of up to
    // largestBlockSamples; nothing afterwards but the scratch growing to a larger block.
    // requestedSamples is a whole number of frames, limited to the ring. A steering joining
    // a stream already playing (midStream) queues no lead-in unless the stream has run dry,
    // and glides up from the depth it finds.
    LatencySteering(uint32_t channelCount, uint32_t sampleRate, uint32_t ringCapacity,
                    uint32_t requestedSamples, uint32_t largestBlockSamples, bool midStream);

    struct Block {
        const float* data;
        uint32_t count;   // samples, whole frames
        uint32_t removed; // samples removed by a cut
        uint32_t room;    // most samples a block of this host size can become
    };

    // Intake, outside streamMutex: updates the correction from the depth seen at the
    // previous block, resamples the block and applies a cut. A trailing partial frame is
    // left out so the ring stays interleaved.
    Block Prepare(const float* data, uint32_t count);

    // Most samples a host block of `count` samples can become.
    uint32_t RoomFor(uint32_t count) const {
        return static_cast<uint32_t>(resampler.MaxOutputFrames(count / channels) * channels);
    }

    // Intake, outside streamMutex, when control is switched off: the frames the resampler
    // still holds back, ready to queue before the unresampled blocks that follow.
    Block Flush();

    // Intake, under streamMutex, before the block is written: measures the depth, and after
    // a start or an underrun queues silence so that it reaches the target at once; returns
    // the samples queued. hostSamples is the host block this measurement stands for, block
    // what Prepare made of it; requestPending says that a platform request waits to be
    // served from the ring right after the write.
    uint32_t QueueLeadInLocked(SampleRingBuffer& ring, uint32_t hostSamples, const Block& block,
                               bool requestPending);

    // Under streamMutex: the platform asked for a buffer (whether or not the ring could
    // serve it), on its own cadence, finding `queued` samples in the ring.
    void OnRequestLocked(uint32_t queued);
    // Under streamMutex: a fill found `queuedBefore` samples and took `taken` of the
    // `requested` its buffer holds, on the request or later for a request that had waited.
    void OnTakeLocked(uint32_t queuedBefore, uint32_t taken, uint32_t requested);

    // Under streamMutex: a new requested target (whole frames) for the running stream.
    void SetRequestedLocked(uint32_t requestedSamples);

    // Under streamMutex. The effective target, whole frames.
    uint32_t TargetSamples() const { return targetSamples; }
    // What the cadence needs, margin included, in whole frames, whether or not the ring
    // holds it: the effective target is at least this unless LimitSamples is lower.
    uint32_t NeededSamples() const;
    // The largest effective target the ring allows: its capacity less what the cadence
    // writes on top of the target and a platform buffer, in whole frames.
    uint32_t LimitSamples() const { return limitSamples; }
    // Never negative: a measurement taken against a buffer that has played out reads
    // below an empty ring.
    double DepthSamples() const { return std::max(0.0, smoothedDepth); }
    double CorrectionPpm() const { return correctionPpm.load(std::memory_order_relaxed); }

private:
    void RemoveFrames(float* block, uint32_t frames, uint32_t removedFrames) const;
    // Under streamMutex: learns the need of the cadence from the recent depths.
    void LearnNeedLocked(double now);
    double WindowSeconds(double hostSeconds) const;
    // Under streamMutex: moves the effective target on by `seconds` of audio.
    void UpdateTargetLocked(double seconds);
    double Seconds(double samples) const { return samples / channels / sampleRate; }
    double Samples(double seconds) const { return seconds * sampleRate * channels; }

    const uint32_t channels;
    const double sampleRate;
    const uint32_t ringCapacity;

    // Under streamMutex.
    uint32_t requestedSamples;
    double glidingSamples;  // the requested target as glided to so far
    double needFloor = 0.0; // the learnt need with its margin, as glided to so far
    double neededWithMargin = 0.0;
    double exactTarget = 0.0;   // effective, steered to
    uint32_t targetSamples;     // the same in whole frames, as reported
    uint32_t limitSamples = 0;  // largest target the ring allows, whole frames
    double neededSamples = 0.0; // learnt need of the cadence, margin excluded
    double needHeldUntil = 0.0; // on SteeringClock
    double lastLearnSeconds = 0.0;
    double settledAt = 0.0;     // on SteeringClock: a lead-in's or a join's settling ends
    double meanDeviation = 0.0; // of blocks from the block loop's predictions, as depth
    double firstDepth = 0.0;    // smoothing stage one
    double smoothedDepth = 0.0; // stage two: the depth steered
    bool leadInPending;
    bool joining;          // joined a running stream, depth not yet built up
    bool measured = false; // a depth has been measured
    CadenceClock requestClock;
    CadenceClock blockClock;
    DepthWindow requestDepths;   // queued samples at requests, before the take
    DepthWindow blockDepths;     // depths measured before blocks
    uint32_t bufferSamples = 0;  // of the platform's buffers; 0 before the first fill
    uint32_t playingSamples = 0; // taken at the last request, now playing
    uint32_t largestRoom = 0;    // of the host blocks seen, as the ring receives them
    // Handed from the intake's locked step to its next Prepare.
    double errorSeconds = 0.0;
    double targetSlope = 0.0; // glide per second of audio, fed forward
    uint32_t cutAllowanceSamples = 0;
    bool cutting = false;

    // Intake only.
    LatencyController controller;
    VariableRateResampler resampler;
    std::vector<float> scratch;
    double smoothingWeight = 0.0; // of the measurement for the block being prepared
    std::atomic<double> correctionPpm{0.0};
};

} // namespace zvaudio
