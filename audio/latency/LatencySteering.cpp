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

} // namespace

LatencySteering::LatencySteering(uint32_t channelCount, uint32_t rate, uint32_t capacity,
                                 uint32_t requested, uint32_t largestBlockSamples, bool midStream)
    : channels(std::max<uint32_t>(channelCount, 1)), sampleRate(std::max<uint32_t>(rate, 1)),
      ringCapacity(capacity), requestedSamples(requested), glidingSamples(requested),
      targetSamples(std::min(requested, capacity) / channels * channels), leadInPending(!midStream),
      joining(midStream), requestClock(1.0 / sampleRate, kRequestClockHz),
      blockClock(1.0 / sampleRate, kBlockClockHz), controller(VariableRateResampler::kMaxDeviation),
      resampler(channels) {
    // A block of the largest size already seen finds its room: the first one after a new
    // steering allocates nothing.
    const size_t frames = largestBlockSamples / channels;
    scratch.resize(
        std::max(resampler.MaxOutputFrames(frames), VariableRateResampler::kMaxFlushFrames) *
        channels);
    resampler.StartAtNextInput();
    largestRoom = static_cast<uint32_t>(std::min<size_t>(scratch.size(), UINT32_MAX));
    UpdateTargetLocked(0.0);
}

LatencySteering::Block LatencySteering::Prepare(const float* data, uint32_t count) {
    // The ring counts in signed 32 bits: a block of more than half that is cut so that its
    // resampled length still fits.
    constexpr uint32_t kLargestSamples = INT32_MAX / 2;
    const uint32_t frames = std::min(count, kLargestSamples) / channels;
    const double blockSeconds = frames / sampleRate;

    // While a cut removes a large error the loop holds its integral, which must learn the
    // drift, not the burst. A target on the move is followed by feeding its slope forward.
    const double loop = controller.Update(errorSeconds, blockSeconds, cutting);

    // Joining a stream, the queue is only ever built up: it may sit right at what the
    // platform takes, and a frame less would be a frame of silence.
    const double correction =
        std::clamp(loop + targetSlope, joining ? 0.0 : -VariableRateResampler::kMaxDeviation,
                   VariableRateResampler::kMaxDeviation);
    // Worked out here, outside the lock, for the measurement that follows.
    smoothingWeight = 1.0 - std::exp(-blockSeconds / kSmoothingSeconds);
    resampler.SetRatio(1.0 + correction);
    correctionPpm.store(correction * 1e6, std::memory_order_relaxed);

    // Grows only; after the largest block seen, the intake allocates nothing.
    const size_t room = resampler.MaxOutputFrames(frames) * channels;
    if (scratch.size() < room) {
        scratch.resize(room);
    }
    auto outFrames = static_cast<uint32_t>(resampler.Process(data, frames, scratch.data()));

    uint32_t removedFrames = 0;
    if (cutAllowanceSamples > 0 && outFrames > 2 * kCrossfadeFrames) {
        removedFrames = std::min(cutAllowanceSamples / channels, outFrames - 2 * kCrossfadeFrames);
        RemoveFrames(scratch.data(), outFrames, removedFrames);
        outFrames -= removedFrames;
        cutAllowanceSamples -= removedFrames * channels;
    }
    return Block{scratch.data(), outFrames * channels, removedFrames * channels,
                 static_cast<uint32_t>(room)};
}

LatencySteering::Block LatencySteering::Flush() {
    const auto frames = static_cast<uint32_t>(resampler.Flush(scratch.data()));
    return Block{scratch.data(), frames * channels, 0, frames * channels};
}

void LatencySteering::RemoveFrames(float* block, uint32_t frames, uint32_t removedFrames) const {
    // The first kCrossfadeFrames fade from the block's own start (which follows the audio
    // already queued) into the frames after the cut.
    for (uint32_t i = 0; i < kCrossfadeFrames; ++i) {
        const float rise = (static_cast<float>(i) + 0.5f) / kCrossfadeFrames;
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

void LatencySteering::UpdateTargetLocked(double seconds) {
    // Room beside the target for what the cadence writes on top of it (at least a host
    // block) and for a platform buffer, so that a write never overwrites what is still to
    // be played, whatever the phase of the requests.
    const double above = blockDepths.Empty() ? 0.0 : blockDepths.Highest() - blockDepths.Mean();
    const double buffer =
        bufferSamples > 0 ? static_cast<double>(bufferSamples) : static_cast<double>(largestRoom);
    const double reserve = std::max(above, static_cast<double>(largestRoom)) + buffer;
    const double limit = std::max(0.0, static_cast<double>(ringCapacity) - reserve);
    limitSamples = static_cast<uint32_t>(limit) / channels * channels;

    if (requestedSamples <= glidingSamples) {
        glidingSamples = requestedSamples; // reached by cuts or by the loop
    } else {
        glidingSamples =
            std::min<double>(requestedSamples, glidingSamples + Samples(kGlidePerSecond * seconds));
    }
    // Before the platform has taken a buffer, a host block stands in for one.
    const double needed =
        neededSamples > 0.0
            ? neededSamples
            : (bufferSamples > 0 ? bufferSamples : static_cast<double>(largestRoom));
    // Once settled, a need that grows within the margin (a block a little later than
    // any before) is crept up to, slowly enough that the loop follows without a step in
    // its rate; the margin covers the queue meanwhile. One that outgrows the margin, or
    // any while a lead-in settles, is met at once.
    const double floor = needed + Samples(kMarginSeconds);
    neededWithMargin = floor;
    bool needGlides = false;
    if (floor <= needFloor || SteeringClock::Now() < settledAt) {
        needFloor = floor;
    } else if (floor > needFloor + Samples(kMarginSeconds)) {
        // Beyond the margin: glided to as fast as a requested target, so that the depth
        // follows without a gap.
        needFloor = std::min(floor, needFloor + Samples(kGlidePerSecond * seconds));
        needGlides = true;
    } else {
        needFloor = std::min(floor, needFloor + Samples(kNeedCreepPerSecond * seconds));
    }
    double wanted = std::min(std::max(glidingSamples, needFloor), limit);
    // Only a glide is fed forward: the need's creep and fall are slow enough for the
    // loop alone, and a slope switched on and off for them would step the rate.
    bool glidingToRequest =
        wanted < limit && ((glidingSamples < requestedSamples && glidingSamples >= needFloor) ||
                           (needGlides && needFloor >= glidingSamples));
    if (joining) {
        // Joining a stream, everything the target asks is glided to from the depth found,
        // never below the depth the stream has, until the measurement has settled on
        // what the cadence draws (the first block may have been the low of a burst);
        // nothing is cut or padded for it.
        const double from = std::max(exactTarget, smoothedDepth);
        if (SteeringClock::Now() >= settledAt &&
            wanted <= from + Samples(kGlidePerSecond * seconds)) {
            joining = false;
        } else {
            wanted = std::min(from + Samples(kGlidePerSecond * seconds), limit);
            glidingToRequest = wanted < limit;
        }
    }
    if (seconds > 0.0) {
        const double slope = glidingToRequest ? std::clamp(Seconds(wanted - exactTarget) / seconds,
                                                           0.0, kGlidePerSecond)
                                              : 0.0;
        // Eased in and out over a second, so that the rate never steps.
        targetSlope += (slope - targetSlope) * (1.0 - std::exp(-seconds / kEaseSeconds));
    }
    exactTarget = wanted;
    targetSamples = static_cast<uint32_t>(wanted) / channels * channels;
}

uint32_t LatencySteering::QueueLeadInLocked(SampleRingBuffer& ring, uint32_t hostSamples,
                                            const Block& block, bool requestPending) {
    const double now = SteeringClock::Now();
    largestRoom = std::max(largestRoom, block.room);
    const uint32_t buffer = bufferSamples > 0 ? bufferSamples : hostSamples;
    const double sinceRequest = requestClock.FractionSince(now, Seconds(buffer));
    double depth = ring.Available() + playingSamples * (1.0 - sinceRequest);
    // The queue drains at the stream's rate: at the time the block was due it stood
    // higher than now by what played since (lower, if that time is still to come).
    const double lateness = blockClock.OnEvent(now, static_cast<double>(hostSamples / channels));
    // Less its own recent mean, so that the loop's phase while it locks on, or any
    // lasting offset, never moves the measured depth; what is left is the block's
    // lateness or bunching, which it takes out.
    const double deviation = Samples(lateness);
    if (!measured || leadInPending) {
        meanDeviation = deviation;
    }
    // Quick while the loop locks on, then slow, so that it follows the loop's settling
    // but not a block's lateness.
    const double meanSeconds = now - blockClock.StartTime() < kDeviationLockSeconds
                                   ? kSmoothingSeconds
                                   : kDeviationMeanSeconds;
    meanDeviation +=
        (deviation - meanDeviation) * (1.0 - std::exp(-Seconds(hostSamples) / meanSeconds));
    double steadyDepth = depth + deviation - meanDeviation;

    if (!measured && !leadInPending) {
        if (!requestPending && bufferSamples == 0) {
            // Joining a running stream: until the platform has taken a buffer in front of
            // this steering, what plays is unknown and the depth would read short.
            return 0;
        }
        if (requestPending) {
            // Joining a stream whose ring the platform found empty: it has run dry, and
            // gliding up from empty would pad request after request with silence. It
            // starts as a stream does, at the least depth the cadence needs.
            leadInPending = true;
            joining = false;
            glidingSamples = 0.0;
        } else {
            // Joining a running stream: glide from the depth it has to the one requested.
            glidingSamples = std::min<double>(requestedSamples, steadyDepth);
            exactTarget = glidingSamples;
            settledAt = now + kSettlingSeconds;
        }
    }
    UpdateTargetLocked(Seconds(hostSamples));

    uint32_t added = 0;
    if (leadInPending) {
        leadInPending = false;
        // A waiting request takes its buffer from the ring right after this block, ahead of
        // the platform's cadence; the part of a buffer's time since it asked is what that
        // take costs the queue.
        const double early = requestPending ? buffer * sinceRequest : 0.0;
        const double wanted = exactTarget - steadyDepth + early;
        if (wanted > 0) {
            added = std::min(static_cast<uint32_t>(wanted) / channels * channels, ringCapacity);
            WriteSilence(ring, added);
        }
        depth += added - early;
        steadyDepth += added - early;
        firstDepth = smoothedDepth = steadyDepth;
        settledAt = now + kSettlingSeconds;
        // What the queue did before it ran dry says nothing about the cadence.
        blockDepths.Clear();
        requestDepths.Clear();
        measured = true;
    } else if (!measured) {
        firstDepth = smoothedDepth = steadyDepth;
        measured = true;
    } else {
        // A cut lowers every depth from here on by what it removed.
        firstDepth -= block.removed;
        smoothedDepth -= block.removed;
        blockDepths.Shift(-static_cast<double>(block.removed));
        requestDepths.Shift(-static_cast<double>(block.removed));
        firstDepth += (steadyDepth - firstDepth) * smoothingWeight;
        smoothedDepth += (firstDepth - smoothedDepth) * smoothingWeight;
    }
    // The depth before a block is the lowest it gets until that block.
    blockDepths.Add(depth, depth, depth + block.count, now, WindowSeconds(Seconds(hostSamples)));

    LearnNeedLocked(now);

    const double excess = smoothedDepth - exactTarget;
    errorSeconds = Seconds(excess);
    const double farAbove = now < settledAt ? kSettlingCutSeconds : kFarAboveSeconds;
    if (excess > Samples(farAbove)) {
        cutting = true;
    } else if (excess < Samples(kCutUntilSeconds)) {
        cutting = false;
    }
    cutAllowanceSamples = 0;
    if (cutting && bufferSamples > 0 && !requestDepths.Empty()) {
        // Only what the queue held beyond a buffer and the margin at every recent request
        // and before every recent block.
        const double lowest = std::min(blockDepths.Lowest(), requestDepths.Lowest());
        const double spare = lowest - bufferSamples - Samples(kMarginSeconds);
        const double allowance = std::min(excess - Samples(kCutUntilSeconds), spare);
        if (allowance > 0.0) {
            cutAllowanceSamples = static_cast<uint32_t>(allowance) / channels * channels;
        }
    }
    return added;
}

void LatencySteering::OnRequestLocked(uint32_t queued) {
    const double now = SteeringClock::Now();
    // The buffer this request takes is known only after the take: the last one stands in.
    requestClock.OnEvent(now, static_cast<double>(bufferSamples / channels));
    requestDepths.Add(queued, now, WindowSeconds(0.0));
    playingSamples = 0; // until a take hands it a buffer
}

double LatencySteering::WindowSeconds(double hostSeconds) const {
    return std::max({kWindowSeconds, 4.0 * requestClock.Period(), 4.0 * hostSeconds});
}

void LatencySteering::LearnNeedLocked(double now) {
    if (bufferSamples == 0 || blockDepths.Empty()) {
        return;
    }
    // How far below its recent mean the queue fell, before a block or when the platform
    // came for a buffer, plus the buffer the platform takes: the depth this cadence needs,
    // whatever pattern it draws and whichever phase the requests meet it at. Mean and
    // low come from the same recent window, so a depth still on its way to the target
    // does not count as a dip.
    const double lowest = std::min(blockDepths.Lowest(), requestDepths.Lowest());
    const double need = blockDepths.Mean() - lowest + bufferSamples;
    const bool settling = now < settledAt;
    // Held while the cadence still comes within the margin of it, so that a random
    // lateness does not let it fall between its rarer extremes.
    if (need >= neededSamples - (settling ? 0.0 : Samples(kMarginSeconds))) {
        neededSamples = std::max(neededSamples, need);
        needHeldUntil = now + (settling ? kSettlingHoldSeconds : kNeedHoldSeconds);
    } else if (now > needHeldUntil) {
        const double fall = settling ? kSettlingFallPerSecond : kNeedFallPerSecond;
        neededSamples = std::max(need, neededSamples - Samples(fall * (now - lastLearnSeconds)));
    }
    lastLearnSeconds = now;
}

void LatencySteering::OnTakeLocked(uint32_t queuedBefore, uint32_t taken, uint32_t requested) {
    // A ring found empty has run dry. One found short while a join builds the depth up is
    // what the stream did before control came: it is left to the glide, not to silence.
    if (queuedBefore == 0 || (taken < requested && !joining)) {
        leadInPending = true;
    }
    bufferSamples = requested;
    // A buffer taken late, for a request that had waited, is still ahead of the platform's
    // playback as much as one taken on time.
    playingSamples = requested;
}

uint32_t LatencySteering::NeededSamples() const {
    return static_cast<uint32_t>(std::ceil(neededWithMargin / channels)) * channels;
}

void LatencySteering::SetRequestedLocked(uint32_t requested) {
    // A higher target is glided to from the depth steered to now, which the cadence may
    // already have raised above the old request.
    if (requested > glidingSamples) {
        glidingSamples = std::min<double>(requested, std::max(glidingSamples, exactTarget));
    }
    requestedSamples = requested;
    UpdateTargetLocked(0.0);
}

} // namespace zvaudio
