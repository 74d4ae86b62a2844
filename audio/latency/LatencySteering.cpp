#include "latency/LatencySteering.h"

#include "latency/SteeringClock.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace zvaudio {

namespace {

// Lead-in silence is written from this in pieces, so that a lead-in as long as the ring
// costs no allocation.
constexpr int32_t kSilenceChunk = 4096;
const int16_t kSilence[kSilenceChunk] = {};

void WriteSilence(SampleRingBuffer& ring, uint32_t samples) {
    while (samples > 0) {
        const auto piece = static_cast<int32_t>(std::min<uint32_t>(samples, kSilenceChunk));
        ring.Write(kSilence, piece);
        samples -= static_cast<uint32_t>(piece);
    }
}

// What a take found, for Prepare: nothing, a ring it waited on, or one it padded.
constexpr int kNotDry = 0;
constexpr int kWaited = 1;
constexpr int kPadded = 2;

// Blocks further apart than this (and at least this many host periods) are an event of the
// engine (a hitch, a pause), not its cadence.
constexpr double kEventSeconds = 0.1;
constexpr double kEventPeriods = 3.0;

float Rise(uint32_t i, uint32_t frames) {
    return (static_cast<float>(i) + 0.5f) / static_cast<float>(frames);
}

} // namespace

LatencySteering::LatencySteering(uint32_t channelCount, uint32_t rate, uint32_t capacity,
                                 uint32_t requested, uint32_t largestBlockSamples, bool midStream)
    : channels(std::max<uint32_t>(channelCount, 1)), sampleRate(std::max<uint32_t>(rate, 1)),
      ringCapacity(capacity), mode(midStream ? Mode::Joining : Mode::LeadIn),
      requestedSamples(requested), glidingSamples(requested),
      targetSamples(std::min(requested, capacity) / channels * channels),
      requestClock(1.0 / sampleRate, kRequestClockHz), blockClock(1.0 / sampleRate, kBlockClockHz),
      need(sampleRate * channels, kMarginSeconds * sampleRate * channels), gapPlanned(!midStream),
      joining(midStream), audioQueued(midStream),
      controller(VariableRateResampler::kMaxDeviation, kSlewPerSecond / 2.0), resampler(channels),
      fadeFrom(size_t{kCrossfadeFrames} * channels) {
    // A block of the largest size already seen finds its room: the first one after a new
    // steering allocates nothing.
    const size_t frames = largestBlockSamples / channels;
    scratch.resize(
        std::max(resampler.MaxOutputFrames(frames), VariableRateResampler::kMaxFlushFrames) *
        channels);
    resampler.StartAtNextInput();
    largestRoom = static_cast<uint32_t>(std::min<size_t>(scratch.size(), UINT32_MAX));
    UpdateTargetLocked(0.0, 0.0);
}

// ---- Intake, outside the lock -------------------------------------------------------------

LatencySteering::Block LatencySteering::Prepare(const float* data, uint32_t count) {
    // The ring counts in signed 32 bits: a block of more than half that is cut so that its
    // resampled length still fits.
    constexpr uint32_t kLargestSamples = INT32_MAX / 2;
    const uint32_t frames = std::min(count, kLargestSamples) / channels;
    const double blockSeconds = frames / sampleRate;
    const double now = SteeringClock::Now();
    const double interval = now - lastPrepareSeconds;
    lastPrepareSeconds = now;

    const double correction = SteerRate(blockSeconds);
    // Worked out here, outside the lock, for the measurement that follows.
    smoothingWeight = 1.0 - std::exp(-blockSeconds / kSmoothingSeconds);

    // Grows only; after the largest block seen, the intake allocates nothing.
    const size_t room = resampler.MaxOutputFrames(frames) * channels;
    if (scratch.size() < room) {
        scratch.resize(room);
    }
    uint32_t outFrames = Resample(data, frames, correction);

    // A ring that ran dry gets its gap in a block that comes on the cadence: not the first
    // after a hitch or a pause, which answers the request that waited, nor one of a burst
    // or a catch-up, which may refill the ring by itself.
    const int dry = dryKind.load(std::memory_order_relaxed);
    const bool onCadence = interval > 0.25 * blockSeconds &&
                           interval < std::max(kEventSeconds, kEventPeriods * blockSeconds);
    const bool shape = gapPlanned || (dry != kNotDry && onCadence);
    const uint32_t removedFrames = ApplyCut(outFrames, shape);

    Block block{scratch.data(), outFrames * channels, removedFrames * channels,
                static_cast<uint32_t>(room)};
    if (shape) {
        // After silence the platform padded, there is nothing to fade out.
        const bool fadeOut = audioQueued && dry != kPadded;
        ShapeForGap(outFrames, fadeOut ? kCrossfadeFrames : 0, block);
        if (block.shaped) {
            gapPlanned = false;
            dryKind.store(kNotDry, std::memory_order_relaxed);
        }
    }
    return block;
}

double LatencySteering::SteerRate(double blockSeconds) {
    // While a cut removes a large error the loop holds its integral, which must learn the
    // drift, not the burst. A target on the move is followed by feeding its slope forward.
    const double loop = controller.Update(errorSeconds, blockSeconds, holdIntegral);
    // Joining a stream, the queue is only ever built up: it may sit right at what the
    // platform takes, and a frame less would be a frame of silence.
    const double wanted =
        std::clamp(loop + targetSlope, joining ? 0.0 : -VariableRateResampler::kMaxDeviation,
                   VariableRateResampler::kMaxDeviation);
    const double step = kSlewPerSecond * blockSeconds;
    const double correction =
        std::clamp(wanted, appliedCorrection - step, appliedCorrection + step);
    if (correction != wanted && !holdIntegral) {
        controller.Track(correction - targetSlope, errorSeconds);
    }
    correctionPpm.store(correction * 1e6, std::memory_order_relaxed);
    return correction;
}

uint32_t LatencySteering::Resample(const float* data, uint32_t frames, double correction) {
    const double from = appliedCorrection;
    appliedCorrection = correction;
    // The first block after a start primes the filter's history in one piece.
    if (frames <= kRampFrames || from == correction || resampler.StartsAtNextInput()) {
        resampler.SetRatio(1.0 + correction);
        return static_cast<uint32_t>(resampler.Process(data, frames, scratch.data()));
    }
    // The ratio moves evenly across the block, a piece at a time, so that the block rate
    // leaves no sidebands.
    const uint32_t pieces = (frames + kRampFrames - 1) / kRampFrames;
    size_t written = 0;
    uint32_t done = 0;
    for (uint32_t p = 0; p < pieces; ++p) {
        const uint32_t take = std::min(kRampFrames, frames - done);
        resampler.SetRatio(1.0 + from + (correction - from) * (p + 1) / pieces);
        written += resampler.Process(data + size_t{done} * channels, take,
                                     scratch.data() + written * channels);
        done += take;
    }
    return static_cast<uint32_t>(written);
}

uint32_t LatencySteering::ApplyCut(uint32_t& frames, bool finishNow) {
    float* out = scratch.data();
    if (!skipping) {
        if (plannedCutFrames == 0 || frames < kCrossfadeFrames) {
            return 0;
        }
        uint32_t cut = plannedCutFrames;
        plannedCutFrames = 0;
        if (cut >= frames && !finishNow) {
            // Longer than the block: the block's first frames are kept to fade from, and
            // the audio of the blocks that follow is skipped until the cut is done.
            std::memcpy(fadeFrom.data(), out, fadeFrom.size() * sizeof(float));
            skipping = true;
            skipFrames = cut - frames;
            const uint32_t removed = frames;
            frames = 0;
            return removed;
        }
        cut = std::min(cut, frames > 2 * kCrossfadeFrames ? frames - 2 * kCrossfadeFrames : 0);
        if (cut > 0) {
            RemoveFrames(out, frames, cut);
            frames -= cut;
        }
        return cut;
    }
    if (finishNow) {
        skipFrames = 0; // a gap is due: the cut ends here
    }
    if (skipFrames >= frames) {
        skipFrames -= frames;
        const uint32_t removed = frames;
        frames = 0;
        return removed;
    }
    if (frames < kCrossfadeFrames) {
        skipFrames = 0; // fades into the next block instead
        const uint32_t removed = frames;
        frames = 0;
        return removed;
    }
    // Fades from the kept frames into the audio where the cut ends; one that would end
    // too close to the block's end ends a little earlier.
    const uint32_t at = std::min(skipFrames, frames - kCrossfadeFrames);
    for (uint32_t i = 0; i < kCrossfadeFrames; ++i) {
        const float rise = Rise(i, kCrossfadeFrames);
        const float* kept = fadeFrom.data() + size_t{i} * channels;
        const float* later = out + size_t{i + at} * channels;
        float* joined = out + size_t{i} * channels;
        for (uint32_t c = 0; c < channels; ++c) {
            joined[c] = kept[c] + (later[c] - kept[c]) * rise;
        }
    }
    const size_t tail = size_t{kCrossfadeFrames} + at;
    std::memmove(out + size_t{kCrossfadeFrames} * channels, out + tail * channels,
                 (frames - tail) * channels * sizeof(float));
    frames -= at;
    skipping = false;
    skipFrames = 0;
    return at;
}

void LatencySteering::ShapeForGap(uint32_t frames, uint32_t fadeOutFrames, Block& block) {
    if (frames < fadeOutFrames + kCrossfadeFrames) {
        return; // too short: a later block takes the gap
    }
    float* out = scratch.data();
    for (uint32_t i = 0; i < fadeOutFrames; ++i) {
        const float fall = 1.0f - Rise(i, fadeOutFrames);
        for (uint32_t c = 0; c < channels; ++c) {
            out[size_t{i} * channels + c] *= fall;
        }
    }
    for (uint32_t i = 0; i < kCrossfadeFrames; ++i) {
        const float rise = Rise(i, kCrossfadeFrames);
        for (uint32_t c = 0; c < channels; ++c) {
            out[size_t{fadeOutFrames + i} * channels + c] *= rise;
        }
    }
    block.gapAt = fadeOutFrames * channels;
    block.shaped = true;
}

LatencySteering::Block LatencySteering::Flush() {
    const auto frames = static_cast<uint32_t>(resampler.Flush(scratch.data()));
    if (skipping && frames > 0) {
        // A cut in progress fades into what the filter still held.
        for (uint32_t i = 0; i < frames; ++i) {
            const float rise = Rise(i, frames);
            for (uint32_t c = 0; c < channels; ++c) {
                float& sample = scratch[size_t{i} * channels + c];
                const float kept =
                    fadeFrom[size_t{std::min(i, kCrossfadeFrames - 1)} * channels + c];
                sample = kept + (sample - kept) * rise;
            }
        }
    }
    skipping = false;
    return Block{scratch.data(), frames * channels, 0, frames * channels};
}

void LatencySteering::RemoveFrames(float* block, uint32_t frames, uint32_t removedFrames) const {
    // The first kCrossfadeFrames fade from the block's own start (which follows the audio
    // already queued) into the frames after the cut.
    for (uint32_t i = 0; i < kCrossfadeFrames; ++i) {
        const float rise = Rise(i, kCrossfadeFrames);
        float* kept = block + size_t{i} * channels;
        const float* later = block + size_t{i + removedFrames} * channels;
        for (uint32_t c = 0; c < channels; ++c) {
            kept[c] += (later[c] - kept[c]) * rise;
        }
    }
    const size_t tailStart = size_t{kCrossfadeFrames} + removedFrames;
    std::memmove(block + size_t{kCrossfadeFrames} * channels, block + tailStart * channels,
                 (frames - tailStart) * channels * sizeof(float));
}

void LatencySteering::JoinLocked(uint32_t queued, uint32_t flushedBefore) {
    // Control switched off and on again: the frames the switch-off flushed are in the
    // queue, and this steering takes the filter's delay back from them, so that the depth
    // is left as it was and the first block keeps its pitch. Otherwise the first block is
    // stretched by the delay, so that nothing is taken from a queue that may be at its low.
    const auto delay = static_cast<uint32_t>(VariableRateResampler::kTaps / 2) * channels;
    resampler.StartAtNextInput(flushedBefore < delay || queued < largestRoom + delay);
}

// ---- Intake, under the lock ---------------------------------------------------------------

uint32_t LatencySteering::QueueBlockLocked(SampleRingBuffer& ring, uint32_t hostSamples,
                                           const Block& block, const int16_t* pcm,
                                           bool requestPending) {
    const double now = SteeringClock::Now();
    const double hostSeconds = Seconds(hostSamples);
    largestRoom = std::max(largestRoom, block.room);
    const Measurement measuredNow = MeasureDepthLocked(ring, hostSamples, requestPending, now);

    if (mode == Mode::Joining && !measured &&
        !JoinRunningStreamLocked(measuredNow, requestPending, now)) {
        WriteLocked(ring, block, pcm, 0);
        audioQueued = true;
        return 0;
    }
    UpdateTargetLocked(hostSeconds, now);
    // A ring that ran dry in a hitch or a pause is the event's: its gap is not bounded.
    dryByEvent = dryByEvent || (mode == Mode::LeadIn && !OnCadence());

    uint32_t gap = 0;
    bool leadInDone = false;
    if (mode == Mode::LeadIn) {
        if (block.shaped) {
            gap = GapSamplesLocked(measuredNow);
            leadInDone = true;
        } else if (measured &&
                   measuredNow.steadyDepth - measuredNow.early + block.count >= exactTarget) {
            // A catch-up refilled the ring by itself.
            leadInDone = true;
            quietUntil = now + kQuietSeconds;
            dryKind.store(kNotDry, std::memory_order_relaxed);
        }
    } else if (block.shaped) {
        gap = GapSamplesLocked(measuredNow);
    }
    WriteLocked(ring, block, pcm, gap);
    lastQueued = ring.Available();
    audioQueued = audioQueued || block.count > 0;
    FollowDepthLocked(measuredNow, block, gap, leadInDone, now, hostSeconds);
    LearnNeedLocked(now, hostSeconds);
    UpdateTargetLocked(0.0, now);
    PlanNextBlockLocked(now);
    return gap;
}

LatencySteering::Measurement LatencySteering::MeasureDepthLocked(const SampleRingBuffer& ring,
                                                                 uint32_t hostSamples,
                                                                 bool requestPending, double now) {
    sinceLastBlock = now - lastBlockSeconds;
    lastBlockSeconds = now;
    const uint32_t buffer = bufferSamples > 0 ? bufferSamples : hostSamples;
    const double sinceRequest = requestClock.FractionSince(now, Seconds(buffer));
    const double depth = ring.Available() + playingSamples * (1.0 - sinceRequest);
    // The queue drains at the stream's rate: at the time the block was due it stood
    // higher than now by what played since (lower, if that time is still to come).
    const double lateness = blockClock.OnEvent(now, static_cast<double>(hostSamples / channels));
    // Less its own recent mean, so that the loop's phase while it locks on, or any
    // lasting offset, never moves the measured depth; what is left is the block's
    // lateness or bunching, which it takes out.
    const double deviation = Samples(lateness);
    if (!measured || mode == Mode::LeadIn || now < quietUntil) {
        // Until the block loop has its phase again after a catch-up, a block is measured
        // as it stands.
        meanDeviation = deviation;
    }
    // Quick while the loop locks on, then slow, so that it follows the loop's settling
    // but not a block's lateness.
    const double meanSeconds = now - blockClock.StartTime() < kDeviationLockSeconds
                                   ? kSmoothingSeconds
                                   : kDeviationMeanSeconds;
    meanDeviation +=
        (deviation - meanDeviation) * (1.0 - std::exp(-Seconds(hostSamples) / meanSeconds));
    // A waiting request takes its buffer from the ring right after this block, ahead of
    // the platform's cadence; the part of a buffer's time since it asked is what that take
    // costs the queue.
    const double early = requestPending ? buffer * sinceRequest : 0.0;
    return Measurement{depth, depth + deviation - meanDeviation, early};
}

bool LatencySteering::JoinRunningStreamLocked(const Measurement& measuredNow, bool requestPending,
                                              double now) {
    if (requestPending) {
        // Joining a stream whose ring the platform found empty: it has run dry, and
        // gliding up from empty would pad request after request with silence. It
        // starts as a stream does, with one gap to the target, in the next block; this
        // one answers the request as it stands.
        SetModeLocked(Mode::LeadIn, now);
        joining = false;
        gapPlanned = true;
        return false;
    }
    if (bufferSamples == 0) {
        // Until the platform has taken a buffer in front of this steering, what plays is
        // unknown and the depth would read short.
        return false;
    }
    // Glide from the depth the stream has to the one requested.
    glidingSamples = std::min<double>(requestedSamples, measuredNow.steadyDepth);
    exactTarget = glidingSamples;
    modeSince = now;
    return true;
}

void LatencySteering::UpdateTargetLocked(double seconds, double now) {
    // Room beside the target for what the cadence writes on top of it (at least a host
    // block) and for a platform buffer, so that a write never overwrites what is still to
    // be played, whatever the phase of the requests.
    const double above = blockDepths.Empty() ? 0.0 : blockDepths.Highest() - blockDepths.Mean();
    const double writes = std::max(above, static_cast<double>(largestRoom));
    const double limit =
        std::max(0.0, static_cast<double>(ringCapacity) - writes - BufferOrBlock());
    limitSamples = static_cast<uint32_t>(limit) / channels * channels;
    // What the ring holds at all: the played buffer is not in it.
    const double holds =
        std::max(0.0, static_cast<double>(ringCapacity) - writes - Samples(kMarginSeconds));

    if (requestedSamples <= glidingSamples) {
        glidingSamples = requestedSamples; // reached by cuts or by the loop
    } else if (mode != Mode::Joining) {
        glidingSamples += GlideStep(requestedSamples - glidingSamples, seconds);
    }

    // The need seen now, and that of the pattern recurring in the history, are met at
    // once: the depth is raised to them. After a pattern has stopped recurring its need
    // is held a while: the depth is not taken below it, nor raised to it, so a pattern that
    // comes and goes costs neither a cut nor a gap each time. Right after a hitch or a
    // pause, what the queue did on its way to empty says nothing of the cadence: the
    // lead-in goes to what was held.
    double seen = need.Seen();
    if (mode == Mode::LeadIn) {
        seen = need.Held();
        if (OnCadence() && !blockDepths.Empty() && bufferSamples > 0) {
            // Run dry on the cadence (a block later than any before): what the window saw.
            seen = std::max(seen, blockDepths.Mean() - Lowest() + bufferSamples);
        }
    }
    // Before anything is learnt, a buffer (or a host block, before the platform has taken
    // one) stands in.
    const double margin = Samples(kMarginSeconds);
    const double raise = std::max(seen, BufferOrBlock()) + margin;
    const double held = std::max(raise, need.Held() + margin);
    neededSamples = held;

    // Where the ring cannot hold a depth with a platform buffer to spare, it still holds
    // what the cadence needs as long as the ring itself has room for it and the cadence's
    // writes: steering below it would only pad.
    const auto fit = [&](double depth) {
        return depth > limit ? std::max(limit, std::min(depth, holds)) : depth;
    };
    const double requested = std::min(glidingSamples, limit);
    const double low = std::max(requested, fit(raise));
    const double high = std::max(requested, fit(held));
    holdSamples = high;
    // Between the two the depth is steered to where it has been lately, so that the loop
    // still learns the drift from it but does not pull it to either edge.
    if (seconds > 0.0) {
        bandDepth += (smoothedDepth - bandDepth) * (1.0 - std::exp(-seconds / kBandSeconds));
    }
    double wanted = mode == Mode::LeadIn || !measured ? high : std::clamp(bandDepth, low, high);
    bandDepth = std::clamp(bandDepth, low, high);
    const double cap = fit(neededSamples);
    // Only a glide to a higher request is fed forward: a need is met at once, and its fall
    // is slow enough for the loop alone.
    bool glidingToRequest = wanted < std::max(limit, cap) && glidingSamples < requestedSamples &&
                            wanted <= glidingSamples;
    if (mode == Mode::Joining && measured) {
        // Joining a stream, everything the target asks is glided to from the depth found,
        // never below the depth the stream has, until the measurement has settled on
        // what the cadence draws (the first block may have been the low of a burst);
        // nothing is cut or padded for it.
        const double from = std::max(exactTarget, smoothedDepth);
        const double top = std::max(limit, cap);
        // The join ends once the depth itself holds what is asked, not only the target
        // glided to: a low the stream had before control came gets no gap.
        if (now - modeSince >= kSettlingSeconds && high <= from && glideRate == 0.0 &&
            smoothedDepth >= high - Samples(kGapBelowSeconds)) {
            SetModeLocked(Mode::Steady, now);
            joining = false;
        } else {
            wanted = std::min(from + GlideStep(std::min(high, top) - from, seconds), top);
            glidingSamples = std::min<double>(requestedSamples, wanted);
            glidingToRequest = wanted < top;
        }
    }
    if (seconds > 0.0) {
        // The glide's own rate is fed forward, and so is the fall of a held need that sets
        // the target; neither steps.
        double slope = glidingToRequest ? glideRate : 0.0;
        if (!glidingToRequest && need.Falling() && wanted >= high && high > low) {
            slope = -CadenceNeed::kFallPerSecond;
        }
        const double step = kSlewPerSecond * seconds;
        targetSlope = std::clamp(slope, targetSlope - step, targetSlope + step);
    }
    exactTarget = wanted;
    targetSamples = static_cast<uint32_t>(wanted) / channels * channels;
}

double LatencySteering::GlideStep(double remaining, double seconds) {
    // As fast as the glide bound allows, and slow enough to stop at the end, speeding up
    // and slowing down at half the correction's slew, which leaves the other half to the
    // loop: rate^2 / (2 acceleration) is the distance a stop takes.
    constexpr double kAcceleration = kSlewPerSecond / 2.0;
    const double stoppable = std::sqrt(2.0 * kAcceleration * std::max(0.0, Seconds(remaining)));
    const double step = kAcceleration * seconds;
    glideRate = std::clamp(std::min(kGlidePerSecond, stoppable), std::max(0.0, glideRate - step),
                           glideRate + step);
    return std::clamp(Samples(glideRate * seconds), 0.0, std::max(0.0, remaining));
}

uint32_t LatencySteering::GapSamplesLocked(const Measurement& measuredNow) {
    double wanted = 0.0;
    if (mode == Mode::LeadIn) {
        // A start or a dry ring: to the target at once.
        wanted = exactTarget - measuredNow.steadyDepth + measuredNow.early;
        const double restore = Samples(kRestoreSeconds);
        if (paddedSamples > 0.0 && paddedSamples < restore && !dryByEvent) {
            // Run dry on the cadence, the platform has already played silence: the gap
            // joins it, and together they stay short; the loop raises the rest. After
            // longer silence than that, the queue is restored in full, so that it does not
            // run dry again.
            wanted = std::min(wanted, restore - paddedSamples);
        }
    } else if (!requestDepths.Empty()) {
        // A need the queue does not hold: what its low missed.
        // The cadence may miss it by a little more in the windows to come: the margin
        // again.
        wanted = BufferOrBlock() + 2.0 * Samples(kMarginSeconds) - Lowest();
    }
    if (wanted <= 0.0) {
        return 0;
    }
    return std::min(Frames(wanted), ringCapacity / channels * channels);
}

void LatencySteering::WriteLocked(SampleRingBuffer& ring, const Block& block, const int16_t* pcm,
                                  uint32_t gap) const {
    const uint32_t at = std::min(block.gapAt, block.count);
    ring.Write(pcm, static_cast<int32_t>(at));
    WriteSilence(ring, gap);
    ring.Write(pcm + at, static_cast<int32_t>(block.count - at));
}

void LatencySteering::FollowDepthLocked(const Measurement& measuredNow, const Block& block,
                                        uint32_t gap, bool leadInDone, double now,
                                        double hostSeconds) {
    double depth = measuredNow.depth + gap;
    double steadyDepth = measuredNow.steadyDepth + gap;
    if (leadInDone) {
        depth -= measuredNow.early;
        steadyDepth -= measuredNow.early;
        firstDepth = smoothedDepth = bandDepth = steadyDepth;
        // A join that found the stream dry glides on from the depth its lead-in gave.
        glidingSamples = std::max(glidingSamples, std::min<double>(requestedSamples, steadyDepth));
        // What the queue did before it ran dry says nothing about the cadence.
        blockDepths.Clear();
        requestDepths.Clear();
        need.Forget();
        // A start's lead-in was sized on one block and is trimmed while it settles; one
        // after the ring ran dry was sized on what the cadence showed, and is not.
        SetModeLocked(measured ? Mode::Steady : Mode::Settling, now);
        paddedSamples = 0.0;
        dryByEvent = false;
        measured = true;
    } else if (!measured) {
        firstDepth = smoothedDepth = bandDepth = steadyDepth;
        measured = true;
    } else {
        // A cut lowers every depth from here on by what it removed, a gap raises it.
        const double moved = static_cast<double>(gap) - block.removed;
        firstDepth += moved;
        smoothedDepth += moved;
        bandDepth += moved;
        blockDepths.Shift(moved);
        requestDepths.Shift(moved);
        firstDepth += (steadyDepth - firstDepth) * smoothingWeight;
        smoothedDepth += (firstDepth - smoothedDepth) * smoothingWeight;
    }
    lastDepth = depth + block.count;
    lastSteadyDepth = steadyDepth + block.count;
    // The depth before a block is the lowest it gets until that block.
    // It counts towards the mean as the loop steers it (as of when the block was due), so
    // that the need and the loop agree on where the queue stands.
    blockDepths.Add(steadyDepth, depth, depth + block.count, now, WindowSeconds(hostSeconds));
}

void LatencySteering::LearnNeedLocked(double now, double hostSeconds) {
    if (bufferSamples == 0 || blockDepths.Empty()) {
        return;
    }
    if (mode == Mode::Recovering || now < quietUntil) {
        // A cut in progress, or the seconds after a hitch or a catch-up, while the block
        // loop finds its phase again: what the queue does is the event's doing.
        need.Forget();
        return;
    }
    // How far below its recent mean the queue fell, before a block or when the platform
    // came for a buffer, plus the buffer the platform takes: the depth this cadence needs,
    // whatever pattern it draws and whichever phase the requests meet it at.
    need.Observe(blockDepths.Mean() - Lowest() + bufferSamples, now, WindowSeconds(hostSeconds));
}

void LatencySteering::PlanNextBlockLocked(double now) {
    if (mode == Mode::Settling && now - modeSince >= kSettlingSeconds) {
        SetModeLocked(Mode::Steady, now);
    }
    if (mode == Mode::Recovering && !skipping && plannedCutFrames == 0) {
        SetModeLocked(now - modeSince < kSettlingSeconds ? Mode::Settling : Mode::Steady, now);
    }
    const double excess = smoothedDepth - exactTarget;
    errorSeconds = Seconds(excess);
    holdIntegral = mode == Mode::Recovering;
    // Handed to Prepare from here only: the request path changes the mode, never this.
    joining = mode == Mode::Joining;

    const bool steering = mode == Mode::Settling || mode == Mode::Steady;
    if (!steering || bufferSamples == 0 || requestDepths.Empty()) {
        return;
    }
    // A need the queue misses by more than kGapBelowSeconds gets a gap in the next block;
    // the window then carries it, so it is one gap.
    const double floor = BufferOrBlock() + Samples(kMarginSeconds);
    if (!gapPlanned && Lowest() < BufferOrBlock() + Samples(kGapBelowSeconds)) {
        gapPlanned = true;
        return;
    }
    // An excess is cut once, down to what is held, sized on the window's mean, which shows
    // a jump within a window where the smoothed depth takes seconds; never while a need
    // rises above what is held, nor below what the lowest queue of the window can spare.
    // A ring about to overflow (a catch-up) is cut from the depth it has now.
    const double level = blockDepths.Mean();
    const double farAbove = mode == Mode::Settling ? kSettlingCutSeconds : kFarAboveSeconds;
    // A need rising above what is held, and setting the target (not below a higher
    // request), is not cut into.
    const bool needRising = need.Seen() > need.Held() + Samples(kMarginSeconds) &&
                            need.Seen() + Samples(kMarginSeconds) >= glidingSamples;
    double cut = 0.0;
    if (lastQueued + largestRoom > ringCapacity) {
        // Down to what the cadence held before: what this window saw is the catch-up.
        const double before = std::max(glidingSamples, std::max(need.Held(), BufferOrBlock()) +
                                                           Samples(kMarginSeconds));
        // The margin again for what a catch-up's timing leaves uncertain.
        cut = lastDepth - std::min(before, holdSamples) - Samples(kMarginSeconds);
        quietUntil = now + kQuietSeconds;
        // What came before the catch-up says nothing of the queue after this cut, which
        // takes only audio still to come: measured afresh from the depth it has now.
        firstDepth = smoothedDepth = bandDepth = lastSteadyDepth;
        blockDepths.Clear();
        requestDepths.Clear();
        need.Forget();
    } else if (level - holdSamples > Samples(farAbove) && !needRising) {
        cut = std::min(level - holdSamples - Samples(kCutUntilSeconds), Lowest() - floor);
    }
    if (cut >= Samples(kCutUntilSeconds)) {
        plannedCutFrames = Frames(cut) / channels;
        SetModeLocked(Mode::Recovering, modeSince);
        holdIntegral = true;
    }
}

void LatencySteering::SetModeLocked(Mode next, double since) {
    mode = next;
    modeSince = since;
}

double LatencySteering::WindowSeconds(double hostSeconds) const {
    return std::max({kWindowSeconds, 4.0 * requestClock.Period(), 4.0 * hostSeconds});
}

bool LatencySteering::OnCadence() const {
    // The block being queued is not an event's: not the first after a hitch or a pause.
    return sinceLastBlock < std::max(kEventSeconds, kEventPeriods * Seconds(largestRoom));
}

double LatencySteering::Lowest() const {
    return std::min(blockDepths.Lowest(), requestDepths.Lowest());
}

double LatencySteering::BufferOrBlock() const {
    // Before the platform has taken a buffer, a host block stands in for one.
    return bufferSamples > 0 ? static_cast<double>(bufferSamples)
                             : static_cast<double>(largestRoom);
}

uint32_t LatencySteering::Frames(double samples) const {
    if (samples <= 0.0) {
        return 0;
    }
    return static_cast<uint32_t>(std::min(samples, 4e9)) / channels * channels;
}

// ---- Request path and host calls, under the lock ------------------------------------------

void LatencySteering::OnRequestLocked(uint32_t queued) {
    const double now = SteeringClock::Now();
    // The buffer this request takes is known only after the take: the last one stands in.
    requestClock.OnEvent(now, static_cast<double>(bufferSamples / channels));
    requestDepths.Add(queued, now, WindowSeconds(0.0));
    playingSamples = 0; // until a take hands it a buffer
    if (queued == 0 && measured && mode != Mode::LeadIn) {
        // Run dry: the platform waits for the next block.
        SetModeLocked(Mode::LeadIn, now);
        dryKind.store(kWaited, std::memory_order_relaxed);
    }
}

void LatencySteering::OnTakeLocked(uint32_t /*queuedBefore*/, uint32_t taken, uint32_t requested) {
    // A ring found short has run dry. One found short while a join builds the depth up is
    // what the stream did before control came: it is left to the glide, not to silence.
    if (taken < requested && measured && mode != Mode::Joining) {
        if (mode != Mode::LeadIn) {
            SetModeLocked(Mode::LeadIn, SteeringClock::Now());
        }
        dryKind.store(kPadded, std::memory_order_relaxed);
        paddedSamples += requested - taken;
    }
    bufferSamples = requested;
    // A buffer taken late, for a request that had waited, is still ahead of the platform's
    // playback as much as one taken on time.
    playingSamples = requested;
}

void LatencySteering::SetRequestedLocked(uint32_t requested) {
    // A higher target is glided to from the depth steered to now, which the cadence may
    // already have raised above the old request.
    if (requested > glidingSamples) {
        glidingSamples = std::min<double>(requested, std::max(glidingSamples, exactTarget));
    }
    requestedSamples = requested;
    UpdateTargetLocked(0.0, SteeringClock::Now());
}

uint32_t LatencySteering::NeededSamples() const {
    return static_cast<uint32_t>(std::ceil(neededSamples / channels)) * channels;
}

} // namespace zvaudio
