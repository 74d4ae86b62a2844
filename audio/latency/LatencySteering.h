#pragma once

#include "SampleRingBuffer.h"
#include "latency/CadenceClock.h"
#include "latency/CadenceNeed.h"
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
// stages of kSmoothingSeconds each.
//
// The depth steered to, the effective target, is the requested one raised to what the
// cadence needs: at every request the queue must hold the buffer the platform takes. Over
// a recent window (DepthWindow), the mean depth before a block less the lowest depth before
// a block or at a request, plus the buffer, is the least depth that never starves; a margin
// goes on top. CadenceNeed meets the need seen now at once and holds only a need that
// recurs, so a hitch, a stall or a pause raises the target only while it is measured.
//
// Gaps and cuts. A stream that starts or has run dry, and a need that the queue does not
// hold, get one gap of silence of the missing depth, faded out and in over
// kCrossfadeFrames inside the next host block. A depth far above the target is cut once,
// crossfaded, by as much as the lowest queue of the recent window can spare beyond a
// buffer and the margin, so a cut never takes the queue below what the cadence needs; a
// cut longer than a block skips the audio of the blocks that follow until it is done.
//
// The correction changes by at most kSlewPerSecond, and each block is resampled in pieces
// of kRampFrames with the ratio moving evenly from the last block's to this one's.
//
// Threads: the *Locked calls run under streamMutex (intake and request path); Prepare, Flush
// and JoinLocked's resampler set-up run on the intake or a host call, never beside one
// another. Only host calls, which are serialised, create or destroy the object.
class LatencySteering {
public:
    // What the steering is doing; changed only under streamMutex.
    enum class Mode {
        LeadIn,     // a start or a dry ring: the next block brings the queue to the target
        Joining,    // joined a running stream: the depth is only built up, by the glide
        Settling,   // after a lead-in, which was sized on one block: trimmed more closely
        Steady,     // the loop holds the target; needs are met, excess is cut
        Recovering, // a cut is removing an excess; the loop's integral is held meanwhile
    };

    static constexpr double kSmoothingSeconds = 1.0;
    // Where the depth may lie between what the cadence needs now and what it held, it is
    // steered to where it has been over about this long.
    static constexpr double kBandSeconds = 20.0;
    // A depth this far above the target is cut down to kCutUntilSeconds above it, as far
    // as the queue can spare; during the settling after a lead-in from kSettlingCutSeconds.
    static constexpr double kFarAboveSeconds = 0.020;
    static constexpr double kCutUntilSeconds = 0.002;
    static constexpr double kSettlingSeconds = 10.0;
    static constexpr double kSettlingCutSeconds = 0.005;
    // After a catch-up, the block loop takes this long to find its phase again; the need
    // is not learnt meanwhile.
    static constexpr double kQuietSeconds = 3.0;
    // Kept above what the cadence needs, and left in the queue by every cut. A queue whose
    // low comes within kGapBelowSeconds of the buffer gets a gap at once.
    static constexpr double kMarginSeconds = 0.004;
    static constexpr double kGapBelowSeconds = 0.001;
    // A ring that ran dry on the cadence (a block later than any before) while the platform
    // padded its buffer gets a gap that, with that silence, lasts at most this; the loop
    // raises the rest of the depth. An event's (a hitch's, a pause's) gap, and one after
    // longer padding than this, restore the depth in full.
    static constexpr double kRestoreSeconds = 0.020;
    // How fast the target rises towards a higher request: half the correction bound, which
    // leaves room for the largest drift the controller corrects. The slope is fed forward,
    // and speeds up and slows down within the correction's slew.
    static constexpr double kGlidePerSecond = 0.0005;
    // Bound on how fast the correction moves. A ramp of r per second bends the phase of a
    // 997 Hz sine over a 50 ms window by 0.58 r rms beyond what a fitted frequency takes
    // out: 60 ppm/s costs at most 89 dB of SINAD (87.4 dB measured in the worst window,
    // beside the resampler's own 94.5 dB), above the 85 dB goal, and still turns a 600 ppm
    // drift step round in 10 s; 40 ppm/s gained 2 dB but let the depth wander further from
    // its target under a random lateness. The loop plans its return from a large error at
    // half of it, so that the depth, seen seconds late through the smoothing, is not
    // overshot.
    static constexpr double kSlewPerSecond = 60e-6;
    static constexpr uint32_t kRampFrames = 128;
    // The queue's recent low and mean are taken over the last one to two windows of this
    // length, or of four requests or four host blocks if longer, so that a window spans the
    // pattern of any common cadence.
    static constexpr double kWindowSeconds = 0.5;
    // Bandwidths of the loops timing the platform's requests and the host's blocks.
    static constexpr double kRequestClockHz = 0.2;
    static constexpr double kBlockClockHz = 0.03;
    // How blocks deviate from the loop's prediction is taken relative to its mean, over
    // kSmoothingSeconds for the first kDeviationLockSeconds of the loop, then over
    // kDeviationMeanSeconds.
    static constexpr double kDeviationLockSeconds = 8.0;
    static constexpr double kDeviationMeanSeconds = 3.0;
    // Crossfade over a cut's join, and fade out and in around a gap: 1.3 ms at 48 kHz.
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
        // Faded out before and in after this many samples: a gap may go there.
        uint32_t gapAt = 0;
        bool shaped = false;
    };

    // Intake, outside streamMutex: updates the correction from the depth seen at the
    // previous block, resamples the block and applies a cut or shapes it for a gap. A
    // trailing partial frame is left out so the ring stays interleaved.
    Block Prepare(const float* data, uint32_t count);

    // Most samples a host block of `count` samples can become.
    uint32_t RoomFor(uint32_t count) const {
        return static_cast<uint32_t>(resampler.MaxOutputFrames(count / channels) * channels);
    }

    // Intake, outside streamMutex, when control is switched off: the frames the resampler
    // still holds back, ready to queue before the unresampled blocks that follow.
    Block Flush();

    // A host call, under streamMutex, before a steering joining a running stream takes
    // over, finding `queued` samples; flushedBefore is what the last switch-off of control
    // flushed into the queue (0 if none), which the resampler's delay may take back.
    void JoinLocked(uint32_t queued, uint32_t flushedBefore);

    // Intake, under streamMutex: measures the depth, writes `pcm` (the block Prepare made,
    // converted) to the ring with any gap of silence its shape allows, and plans the
    // correction and the cut or gap of the next block. Returns the samples of silence
    // written. hostSamples is the host block this measurement stands for; requestPending
    // says that a platform request waits to be served from the ring right after the write.
    uint32_t QueueBlockLocked(SampleRingBuffer& ring, uint32_t hostSamples, const Block& block,
                              const int16_t* pcm, bool requestPending);

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
    // What the cadence needs now, margin included, in whole frames, whether or not the ring
    // holds it.
    uint32_t NeededSamples() const;
    // The largest target the ring allows: its capacity less what the cadence writes on top
    // of the target (at least a host block) and a platform buffer, in whole frames.
    uint32_t LimitSamples() const { return limitSamples; }
    // Never negative: a measurement against a buffer that has played out can read below
    // an empty ring.
    double DepthSamples() const { return std::max(0.0, smoothedDepth); }
    double CorrectionPpm() const { return correctionPpm.load(std::memory_order_relaxed); }
    Mode CurrentMode() const { return mode; }

private:
    // Intake steps of Prepare.
    double SteerRate(double blockSeconds);
    uint32_t Resample(const float* data, uint32_t frames, double correction);
    // Removes what a planned cut takes from the block's `frames` (updated); finishNow ends
    // a cut in progress here. Returns the frames removed.
    uint32_t ApplyCut(uint32_t& frames, bool finishNow);
    // Fades the block out over its first fadeOutFrames and in over the kCrossfadeFrames
    // after them, where the gap goes.
    void ShapeForGap(uint32_t frames, uint32_t fadeOutFrames, Block& block);
    void RemoveFrames(float* block, uint32_t frames, uint32_t removedFrames) const;

    // Locked steps of QueueBlockLocked.
    struct Measurement {
        double depth;       // as it stands
        double steadyDepth; // as of when the block was due
        double early;       // what a waiting request takes ahead of the cadence
    };
    Measurement MeasureDepthLocked(const SampleRingBuffer& ring, uint32_t hostSamples,
                                   bool requestPending, double now);
    // Returns false while the block is to be written as it is, unmeasured.
    bool JoinRunningStreamLocked(const Measurement& measured, bool requestPending, double now);
    // Moves the effective target on by `seconds` of audio.
    void UpdateTargetLocked(double seconds, double now);
    // Advances a glide of `remaining` samples by `seconds`; the glide's rate speeds up and
    // slows down within the correction's slew.
    double GlideStep(double remaining, double seconds);
    uint32_t GapSamplesLocked(const Measurement& measured);
    void WriteLocked(SampleRingBuffer& ring, const Block& block, const int16_t* pcm,
                     uint32_t gap) const;
    void FollowDepthLocked(const Measurement& measured, const Block& block, uint32_t gap,
                           bool leadInDone, double now, double hostSeconds);
    void LearnNeedLocked(double now, double hostSeconds);
    // The next block's correction, and whether it brings a gap or starts a cut.
    void PlanNextBlockLocked(double now);
    void SetModeLocked(Mode next, double since);

    double WindowSeconds(double hostSeconds) const;
    bool OnCadence() const;
    double Lowest() const;
    double BufferOrBlock() const;
    double Seconds(double samples) const { return samples / channels / sampleRate; }
    double Samples(double seconds) const { return seconds * sampleRate * channels; }
    uint32_t Frames(double samples) const;

    const uint32_t channels;
    const double sampleRate;
    const uint32_t ringCapacity;

    // Under streamMutex.
    Mode mode;
    uint32_t requestedSamples;
    double glidingSamples;      // the requested target as glided to so far
    double exactTarget = 0.0;   // effective, steered to
    uint32_t targetSamples;     // the same in whole frames, as reported
    uint32_t limitSamples = 0;  // largest target the ring allows, whole frames
    double neededSamples = 0.0; // what the cadence needs now, margin included
    double holdSamples = 0.0;   // the depth is not steered above this, nor cut below it
    double lastDepth = 0.0;     // after the last block
    double lastSteadyDepth = 0.0;
    uint32_t lastQueued = 0;    // in the ring after the last block
    double quietUntil = 0.0;    // on SteeringClock: the need is not learnt until then
    double modeSince = 0.0;     // on SteeringClock: when the mode last changed
    double meanDeviation = 0.0; // of blocks from the block loop's predictions, as depth
    double firstDepth = 0.0;    // smoothing stage one
    double smoothedDepth = 0.0; // stage two: the depth steered
    double bandDepth = 0.0;     // where the depth has been lately, within what is held
    bool measured = false;      // a depth has been measured
    double lastBlockSeconds = 0.0;
    double sinceLastBlock = 0.0; // before the block being queued
    CadenceClock requestClock;
    CadenceClock blockClock;
    CadenceNeed need;
    DepthWindow requestDepths;   // queued samples at requests, before the take
    DepthWindow blockDepths;     // depths measured before blocks
    uint32_t bufferSamples = 0;  // of the platform's buffers; 0 before the first fill
    uint32_t playingSamples = 0; // taken at the last request, now playing
    double paddedSamples = 0.0;  // padded by the platform since the ring ran dry
    bool dryByEvent = false;     // it ran dry in a hitch or a pause
    uint32_t largestRoom = 0;    // of the host blocks seen, as the ring receives them
    // Set on the request path, read by Prepare: a request found the ring empty or a take
    // found it short (then the platform padded, and there is nothing left to fade out).
    std::atomic<int> dryKind{0};

    // Handed from the intake's locked step to its next Prepare (the intake's own thread).
    double errorSeconds = 0.0;
    double targetSlope = 0.0;      // glide per second of audio, fed forward
    double glideRate = 0.0;        // of the glide under way, per second of audio
    uint32_t plannedCutFrames = 0; // a cut to start with the next block
    bool gapPlanned;               // shape the next block for a gap
    bool joining;                  // correction never below 0
    bool holdIntegral = false;
    bool audioQueued; // the stream has had audio: a gap fades it out

    // Intake only.
    LatencyController controller;
    VariableRateResampler resampler;
    std::vector<float> scratch;
    std::vector<float> fadeFrom; // a cut across blocks: the frames it fades from
    uint32_t skipFrames = 0;     // of the cut in progress, still to skip
    bool skipping = false;
    double appliedCorrection = 0.0;
    double lastPrepareSeconds = -1e300;
    double smoothingWeight = 0.0; // of the measurement for the block being prepared
    std::atomic<double> correctionPpm{0.0};
};

} // namespace zvaudio
