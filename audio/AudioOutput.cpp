#include "AudioOutput.h"

#include "PlatformLog.h"
#include "StreamLibraryReference.h"
#include "conversion/SampleConversion.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

namespace zvaudio {

ZVSoundHandle soundHandle = kInvalidSoundHandle;
std::mutex streamMutex;

namespace {

// The instance that BufferCallback may reach; any other context may be freed
// memory. Changed and read only under streamMutex.
const AudioOutput* liveInstance = nullptr;

// Host calls only (serialised by the exports' lock).
StreamLibraryReference libraryReference;

// False when a x b does not fit in 64 bits.
bool MultiplyChecked(uint64_t a, uint64_t b, uint64_t& product) {
    if (a != 0 && b > UINT64_MAX / a) {
        return false;
    }
    product = a * b;
    return true;
}

// Ends a stream: stops it, runs `afterStop`, then destroys it. Called without
// streamMutex: the platform waits for a callback in flight, and that callback
// may be waiting for streamMutex.
template <typename AfterStop> void StopAndDestroy(ZVSoundHandle handle, AfterStop&& afterStop) {
    if (const ZVResult result = ZVAudioStopSound(handle); result != kResultOk) {
        LogPlatformFailure("ZVAudioStopSound", result);
    }
    afterStop();
    if (const ZVResult result = ZVAudioDestroySound(handle); result != kResultOk) {
        LogPlatformFailure("ZVAudioDestroySound", result);
    } else {
        libraryReference.StreamDestroyed();
    }
}

} // namespace

AudioOutput::AudioOutput() {
    std::lock_guard<std::mutex> lock(streamMutex);
    liveInstance = this;
}

AudioOutput::~AudioOutput() {
    ReleaseSound();
    std::lock_guard<std::mutex> lock(streamMutex);
    if (liveInstance == this) {
        liveInstance = nullptr;
    }
}

void AudioOutput::CreateOutputBuffer(uint32_t bufferSize, uint32_t channelCount,
                                     uint32_t sampleRate, uint32_t /*ignoredA*/,
                                     uint32_t /*ignoredB*/, float formatHint,
                                     uint32_t bufferSeconds) {
    // Computed exactly: a wrapped product would silently size the ring wrong,
    // and one beyond the ring's limit breaks its signed arithmetic.
    uint64_t ringSamples = 0;
    const bool fits =
        MultiplyChecked(uint64_t{channelCount} * sampleRate, bufferSeconds, ringSamples);
    if (!fits || ringSamples > SampleRingBuffer::kMaxCapacity) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "ring of %s%" PRIu64 " samples exceeds the limit of %" PRIu32 " samples",
                      fits ? "" : "more than ", fits ? ringSamples : UINT64_MAX,
                      SampleRingBuffer::kMaxCapacity);
        LogFailure("CreateOutputBuffer", text);
        ReleaseSound();
        return;
    }

    AudioBufferFormat format{};
    uint32_t recommendedSize = 0;
    uint32_t minimumSize = 0;
    if (const ZVResult result = ZVAudioGetBufferedOutputDefaults(
            channelCount, sampleRate, formatHint, &format, &recommendedSize, &minimumSize);
        result != kResultOk) {
        LogPlatformFailure("ZVAudioGetBufferedOutputDefaults", result);
        ReleaseSound();
        return;
    }

    ReleaseSound();

    ZVSoundHandle handle = kInvalidSoundHandle;
    if (const ZVResult result = ZVAudioCreateSoundWithBufferedOutput(&format, bufferSize,
                                                                     BufferCallback, this, &handle);
        result != kResultOk) {
        LogPlatformFailure("ZVAudioCreateSoundWithBufferedOutput", result);
        return;
    }
    if (handle == kInvalidSoundHandle) {
        return;
    }
    libraryReference.StreamCreated();

    // Allocated before streamMutex is taken, so that zero-filling a large ring
    // never stalls the platform's thread. If either fails, no half-open stream
    // is left behind.
    std::unique_ptr<SampleRingBuffer> newRing;
    std::unique_ptr<LatencySteering> newSteering;
    try {
        newRing = std::make_unique<SampleRingBuffer>(static_cast<uint32_t>(ringSamples));
        newSteering = MakeSteering(latencyTargetMilliseconds, channelCount, sampleRate,
                                   newRing->Capacity(), false);
    } catch (const std::bad_alloc&) {
        char text[160];
        std::snprintf(text, sizeof text, "out of memory for %sa ring of %" PRIu64 " samples",
                      newRing ? "latency control of " : "", ringSamples);
        LogFailure("CreateOutputBuffer", text);
        StopAndDestroy(handle, [] {});
        return;
    }
    streamChannelCount = channelCount;
    streamSampleRate = sampleRate;
    samplesFlushedAtSwitchOff = 0;

    std::lock_guard<std::mutex> lock(streamMutex);
    soundHandle = handle;
    ring = std::move(newRing);
    steering = std::move(newSteering);
    // Started under streamMutex: a request raised during the start waits and
    // then finds the handle and the ring in place.
    if (const ZVResult result = ZVAudioStartSound(soundHandle); result != kResultOk) {
        LogPlatformFailure("ZVAudioStartSound", result);
    }
}

void AudioOutput::ReleaseSound() {
    const ZVSoundHandle handle = soundHandle;
    if (handle == kInvalidSoundHandle) {
        return;
    }
    StopAndDestroy(handle, [this] {
        std::unique_ptr<SampleRingBuffer> discarded;
        std::unique_ptr<LatencySteering> discardedSteering;
        {
            std::lock_guard<std::mutex> lock(streamMutex);
            soundHandle = kInvalidSoundHandle;
            if (ring) {
                stats.samplesDropped += ring->Available();
            }
            discarded = std::move(ring);
            discardedSteering = std::move(steering);
        }
        // Both are freed here, outside the lock.
    });
}

void AudioOutput::OnUnityAudio(const float* data, uint32_t count) {
    if (data == nullptr || count == 0 || count > static_cast<uint32_t>(INT32_MAX)) {
        return;
    }
    if (soundHandle == kInvalidSoundHandle) {
        stats.samplesWithoutStream += count;
        return;
    }
    largestBlockSamples = std::max(largestBlockSamples, count);

    // With latency control on, the ring is handed the resampled block.
    LatencySteering::Block block{data, count, 0, count};
    if (steering) {
        block = steering->Prepare(data, count);
    }

    // Grows only; after the largest block seen, the intake allocates nothing.
    // Sized for the longest the resampler can make a block of this size, so
    // that the correction moving does not grow it again.
    if (convertBuffer.size() < block.room) {
        convertBuffer.resize(block.room);
    }
    ConvertToPcm16(block.data, convertBuffer.data(), block.count);

    std::lock_guard<std::mutex> lock(streamMutex);
    if (!ring || soundHandle == kInvalidSoundHandle) {
        stats.samplesWithoutStream += count;
        return;
    }
    const uint64_t queuedBefore = ring->Available();
    uint32_t leadIn = 0;
    if (steering) {
        // The steering writes the block, with any gap of silence it planned inside it.
        leadIn = steering->QueueBlockLocked(*ring, count, block, convertBuffer.data(),
                                            bufferRequested.load(std::memory_order_relaxed));
        latencyCounters.hostSamples += count;
        latencyCounters.ringSamples += leadIn + block.count;
        latencyCounters.samplesRemoved += block.removed;
        latencyCounters.samplesInserted += leadIn;
    } else {
        ring->Write(convertBuffer.data(), static_cast<int32_t>(block.count));
    }
    CountQueuedLocked(uint64_t{leadIn} + block.count, queuedBefore);
}

void AudioOutput::CountQueuedLocked(uint64_t handed, uint64_t queuedBefore) {
    stats.samplesQueued += handed;
    // Whatever the ring overwrote to make room left it unplayed.
    stats.samplesDropped += queuedBefore + handed - ring->Available();

    if (bufferRequested.load(std::memory_order_relaxed) && FillOutputBuffer(ring->Available())) {
        bufferRequested.exchange(false);
    }
}

void AudioOutput::OnBufferRequested(ZVSoundHandle handle) {
    if (handle != soundHandle || !ring) {
        return; // a stream that is no longer current, or not yet in place
    }
    // Counted once: latency control and the fill below run under the same lock hold.
    const uint32_t queued = ring->Available();
    if (steering) {
        steering->OnRequestLocked(queued); // whether or not the ring can serve it
    }
    if (queued == 0) {
        bufferRequested.exchange(true);
        ++stats.requestsDeferred;
        return;
    }
    if (bufferRequested.load(std::memory_order_relaxed)) {
        bufferRequested.exchange(false);
    }
    // A request that meets a busy platform is dropped; the device asks again.
    FillOutputBuffer(queued);
}

bool AudioOutput::FillOutputBuffer(uint32_t queuedBefore) {
    AudioOutputBuffer buffer{nullptr, 0};
    if (const ZVResult result = ZVAudioGetOutputBuffer(soundHandle, &buffer); result != kResultOk) {
        LogPlatformFailure("ZVAudioGetOutputBuffer", result);
        // Nothing was lent, so nothing is taken, written or released; the
        // queued samples wait for the next fill.
        return result != kResultBufferNotReady;
    }

    const uint32_t capacity = buffer.data != nullptr ? buffer.size / 2 : 0;
    auto* const samples = static_cast<int16_t*>(buffer.data);
    const uint32_t taken = ring->Take(samples, capacity);
    if (steering) {
        steering->OnTakeLocked(queuedBefore, taken, capacity);
    }
    // A short ring is padded with silence, never repeated.
    if (taken < capacity) {
        std::memset(samples + taken, 0, size_t{capacity - taken} * sizeof(int16_t));
    }
    stats.samplesDelivered += taken;
    stats.silenceSamples += capacity - taken;

    if (const ZVResult result = ZVAudioReleaseOutputBuffer(soundHandle); result != kResultOk) {
        LogPlatformFailure("ZVAudioReleaseOutputBuffer", result);
    }
    ++stats.buffersFilled;
    return true;
}

ZVAudioOutputStats AudioOutput::GetStats() const {
    std::lock_guard<std::mutex> lock(streamMutex);
    ZVAudioOutputStats snapshot = stats;
    snapshot.queuedSamples = ring ? ring->Available() : 0;
    snapshot.ringCapacity = ring ? ring->Capacity() : 0;
    return snapshot;
}

void AudioOutput::SetLatencyTarget(uint32_t milliseconds) {
    // The same target again keeps the loop as it is: a host that sets it on
    // every frame must not restart the steering each time.
    if (milliseconds == latencyTargetMilliseconds) {
        return;
    }
    if (soundHandle == kInvalidSoundHandle) {
        latencyTargetMilliseconds = milliseconds;
        return; // applied when the next stream opens
    }
    uint32_t capacity = 0;
    bool running = false;
    {
        std::lock_guard<std::mutex> lock(streamMutex);
        capacity = ring ? ring->Capacity() : 0;
        running = steering != nullptr;
        if (running && milliseconds != 0) {
            // In place: the resampler's history, the measured cadence and the
            // loop's integral carry on, and the depth moves to the new target
            // without a gap.
            steering->SetRequestedLocked(
                TargetSamples(milliseconds, streamChannelCount, streamSampleRate, capacity));
            latencyTargetMilliseconds = milliseconds;
            return;
        }
    }
    if (running) {
        EndSteering();
    } else if (capacity > 0) {
        // Built outside the lock. If it cannot be built, the target and the
        // stream stay as they were.
        std::unique_ptr<LatencySteering> joining =
            MakeSteering(milliseconds, streamChannelCount, streamSampleRate, capacity, true);
        // Resampled blocks may come out a little longer than the host's: room for the
        // largest one already, so that the intake allocates nothing when it meets it.
        if (joining && convertBuffer.size() < joining->RoomFor(largestBlockSamples)) {
            convertBuffer.resize(joining->RoomFor(largestBlockSamples));
        }
        std::lock_guard<std::mutex> lock(streamMutex);
        if (joining && ring) {
            joining->JoinLocked(ring->Available(), samplesFlushedAtSwitchOff);
        }
        steering = std::move(joining);
    }
    latencyTargetMilliseconds = milliseconds;
}

void AudioOutput::EndSteering() {
    // Host calls are serialised with the intake, so the steering's intake
    // state is ours here; only the ring needs the lock.
    const LatencySteering::Block tail = steering->Flush();
    // A steering switched off before its first block flushes nothing and took nothing:
    // what an earlier one flushed is still in the queue.
    if (tail.count > 0) {
        samplesFlushedAtSwitchOff = tail.count;
    }
    if (convertBuffer.size() < tail.count) {
        convertBuffer.resize(tail.count);
    }
    ConvertToPcm16(tail.data, convertBuffer.data(), tail.count);
    std::unique_ptr<LatencySteering> ended;
    {
        std::lock_guard<std::mutex> lock(streamMutex);
        if (ring && tail.count > 0) {
            latencyCounters.ringSamples += tail.count;
            const uint64_t queuedBefore = ring->Available();
            ring->Write(convertBuffer.data(), static_cast<int32_t>(tail.count));
            CountQueuedLocked(tail.count, queuedBefore);
        }
        ended = std::move(steering);
    }
    // Freed outside the lock.
}

std::unique_ptr<LatencySteering>
AudioOutput::MakeSteering(uint32_t milliseconds, uint32_t channelCount, uint32_t sampleRate,
                          uint32_t ringCapacity, bool midStream) const {
    if (milliseconds == 0 || channelCount == 0 || sampleRate == 0) {
        return nullptr;
    }
    return std::make_unique<LatencySteering>(
        channelCount, sampleRate, ringCapacity,
        TargetSamples(milliseconds, channelCount, sampleRate, ringCapacity), largestBlockSamples,
        midStream);
}

uint32_t AudioOutput::TargetSamples(uint32_t milliseconds, uint32_t channelCount,
                                    uint32_t sampleRate, uint32_t ringCapacity) {
    if (channelCount == 0) {
        return 0;
    }
    const uint64_t frames = uint64_t{sampleRate} * milliseconds / 1000;
    const uint64_t wanted = std::min<uint64_t>(frames * channelCount, ringCapacity);
    return static_cast<uint32_t>(wanted / channelCount * channelCount);
}

ZVAudioOutputLatencyStats AudioOutput::GetLatencyStats() const {
    std::lock_guard<std::mutex> lock(streamMutex);
    ZVAudioOutputLatencyStats snapshot = latencyCounters;
    snapshot.targetMilliseconds = latencyTargetMilliseconds;
    if (steering && streamSampleRate != 0) {
        snapshot.targetSamples = steering->TargetSamples();
        snapshot.depthMilliseconds =
            steering->DepthSamples() * 1000.0 / streamChannelCount / streamSampleRate;
        snapshot.correctionPpm = steering->CorrectionPpm();
    }
    return snapshot;
}

ZVAudioOutputLatencyLimits AudioOutput::GetLatencyLimits() const {
    ZVAudioOutputLatencyLimits limits{};
    limits.recordSize = sizeof limits;
    std::lock_guard<std::mutex> lock(streamMutex);
    if (!steering || !ring || streamSampleRate == 0) {
        return limits;
    }
    const uint64_t frameRate = uint64_t{streamChannelCount} * streamSampleRate;
    const uint32_t needed = steering->NeededSamples();
    const uint32_t limit = steering->LimitSamples();
    limits.limitedByRing = needed > limit ? 1 : 0;
    limits.neededSamples = needed;
    limits.limitSamples = limit;
    limits.neededMilliseconds = needed * 1000.0 / static_cast<double>(frameRate);
    limits.limitMilliseconds = limit * 1000.0 / static_cast<double>(frameRate);
    limits.ringSamples = ring->Capacity();
    // What the ring keeps free beside the deepest target it allows stays the same in a
    // larger ring. A ring smaller than that room allows no depth at all, and then at
    // least the whole of it is counted as the room.
    limits.fittingRingSamples = uint64_t{needed} + (ring->Capacity() - limit);
    limits.fittingRingSeconds = (limits.fittingRingSamples + frameRate - 1) / frameRate;
    return limits;
}

void BufferCallback(ZVSoundHandle handle, void* context) {
    // The invalid handle names no stream: it equals soundHandle whenever none
    // is open, so it must never reach the handle test.
    if (handle == kInvalidSoundHandle || context == nullptr) {
        return;
    }
    try {
        std::lock_guard<std::mutex> lock(streamMutex);
        // A request already on its way when its instance was freed: nothing
        // may be read through the context.
        if (context != liveInstance) {
            return;
        }
        static_cast<AudioOutput*>(context)->OnBufferRequested(handle);
    } catch (...) {
        // The platform's thread is not ours to unwind; the request is dropped.
    }
}

} // namespace zvaudio
