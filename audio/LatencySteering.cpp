#include "LatencySteering.h"

#include "SteeringClock.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace zvaudio {

LatencySteering::LatencySteering(uint32_t channelCount, uint32_t rate, uint32_t target)
    : channels(std::max<uint32_t>(channelCount, 1)), sampleRate(std::max<uint32_t>(rate, 1)),
      targetSamples(target), silence(size_t{target} * 2, 0), smoothedDepth(target),
      controller(VariableRateResampler::kMaxDeviation), resampler(channels), depthSeen(target),
      rawDepthSeen(target) {}

LatencySteering::Block LatencySteering::Prepare(const float* data, uint32_t count) {
    // The ring counts in signed 32 bits: a block of more than half that is cut
    // so that its resampled length still fits.
    constexpr uint32_t kLargestSamples = INT32_MAX / 2;
    const uint32_t frames = std::min(count, kLargestSamples) / channels;
    const double frameSeconds = 1.0 / sampleRate;
    const double errorSeconds = (depthSeen - targetSamples) / channels * frameSeconds;
    // Cuts start far above the target and go on until the depth is close to
    // it; meanwhile the loop holds its integral, which must learn the drift,
    // not the burst.
    const double excessSeconds = (rawDepthSeen - targetSamples) / channels * frameSeconds;
    if (excessSeconds > kFarAboveSeconds) {
        cutting = true;
    } else if (excessSeconds < kCutUntilSeconds) {
        cutting = false;
    }

    const double correction = controller.Update(errorSeconds, frames * frameSeconds, cutting);
    // Worked out here, outside the lock, for the measurement that follows.
    smoothingWeight = 1.0 - std::exp(-(frames * frameSeconds) / kSmoothingSeconds);
    resampler.SetRatio(1.0 + correction);
    correctionPpm.store(correction * 1e6, std::memory_order_relaxed);

    // Grows only; after the largest block seen, the intake allocates nothing.
    const size_t room = resampler.MaxOutputFrames(frames) * channels;
    if (scratch.size() < room) {
        scratch.resize(room);
    }
    auto outFrames = static_cast<uint32_t>(resampler.Process(data, frames, scratch.data()));

    uint32_t removedFrames = 0;
    if (cutting && outFrames > 2 * kCrossfadeFrames) {
        const auto excessFrames = static_cast<uint32_t>(excessSeconds * sampleRate);
        removedFrames = std::min(excessFrames, outFrames - 2 * kCrossfadeFrames);
        RemoveFrames(scratch.data(), outFrames, removedFrames);
        outFrames -= removedFrames;
    }
    return Block{scratch.data(), outFrames * channels, removedFrames * channels,
                 static_cast<uint32_t>(room)};
}

void LatencySteering::RemoveFrames(float* block, uint32_t frames, uint32_t removedFrames) const {
    // The first kCrossfadeFrames fade from the block's own start (which follows
    // the audio already queued) into the frames after the cut.
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

uint32_t LatencySteering::QueueLeadInLocked(SampleRingBuffer& ring, uint32_t hostSamples,
                                            uint32_t removed, bool requestPending) {
    // Fraction of a platform buffer's time since the platform last asked.
    double sinceRequest = 0.0;
    if (requestSeen) {
        // Until two requests give a cadence, the buffer's nominal length.
        const uint32_t buffer = bufferSamples > 0 ? bufferSamples : hostSamples;
        const double interval = requestInterval > 0.0
                                    ? requestInterval
                                    : static_cast<double>(buffer) / channels / sampleRate;
        sinceRequest = std::clamp((SteeringClock::Now() - lastRequestSeconds) / interval, 0.0, 1.0);
    }
    const double depth = ring.Available() + playingSamples * (1.0 - sinceRequest);

    uint32_t added = 0;
    if (leadInPending) {
        leadInPending = false;
        // A waiting request takes its buffer from the ring right after this
        // block, ahead of the platform's cadence; the part of a buffer's time
        // since it asked is what that take costs the queue.
        const double early =
            requestPending ? (bufferSamples > 0 ? bufferSamples : hostSamples) * sinceRequest : 0.0;
        const double wanted = targetSamples - depth + early;
        if (wanted > 0) {
            added = std::min(static_cast<uint32_t>(wanted) / channels * channels,
                             static_cast<uint32_t>(silence.size()));
            ring.Write(silence.data(), static_cast<int32_t>(added));
        }
        smoothedDepth = depth + added - early;
    } else if (removed > 0) {
        // A cut follows the depth as it is, not as it was over the last second.
        smoothedDepth = depth - removed;
    } else {
        smoothedDepth += (depth - smoothedDepth) * smoothingWeight;
    }
    depthSeen = smoothedDepth;
    // What the next block will find, had the platform taken a block meanwhile.
    rawDepthSeen = leadInPending ? depth : depth + added - removed;
    return added;
}

void LatencySteering::OnRequestLocked() {
    const double now = SteeringClock::Now();
    if (requestSeen) {
        // The platform's cadence as measured, not as nominal: it follows
        // whatever pace the device clock keeps. One stall moves it little.
        const double interval = now - lastRequestSeconds;
        if (requestInterval <= 0.0) {
            requestInterval = interval;
        } else {
            const double bounded =
                std::clamp(interval, requestInterval * 0.25, requestInterval * 4.0);
            requestInterval += (bounded - requestInterval) * kIntervalWeight;
        }
    }
    requestSeen = true;
    lastRequestSeconds = now;
    playingSamples = 0; // until a take hands it a buffer
}

void LatencySteering::OnTakeLocked(uint32_t queuedBefore, uint32_t taken, uint32_t requested,
                                   bool onRequest) {
    if (taken < requested || queuedBefore == 0) {
        leadInPending = true;
    }
    bufferSamples = requested;
    if (onRequest) {
        playingSamples = requested;
    }
}

} // namespace zvaudio
