#include "SimulatedStream.h"

#include "SimulatedDevice.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace zvsim {

namespace {

constexpr std::size_t kBufferAlignment = 64;
constexpr std::size_t kSamplesPerAlignment = kBufferAlignment / sizeof(int16_t);

// The stream whose clock runs on this thread, if any.
thread_local const SimulatedStream* clockThreadStream = nullptr;

std::size_t RoundUp(std::size_t value, std::size_t multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

} // namespace

SimulatedStream::SimulatedStream(SimulatedDevice& owner, ZVSoundHandle streamHandle,
                                 const AudioBufferFormat& streamFormat, uint32_t frames,
                                 uint32_t bufferCount, ZVAudioBufferCallback streamCallback,
                                 void* streamContext)
    : device(owner), handle(streamHandle), format(streamFormat), framesPerBuffer(frames),
      samplesPerBuffer(frames * streamFormat.channelCount), callback(streamCallback),
      context(streamContext), states(bufferCount, BufferState::Free),
      playQueue(bufferCount, kNoBuffer) {
    // One extra alignment unit lets the first buffer start on a 64-byte boundary.
    bufferStride = RoundUp(samplesPerBuffer, kSamplesPerAlignment);
    storage.assign(bufferStride * bufferCount + kSamplesPerAlignment, 0);
    const auto address = reinterpret_cast<std::uintptr_t>(storage.data());
    storageOffset =
        ((kBufferAlignment - address % kBufferAlignment) % kBufferAlignment) / sizeof(int16_t);
}

SimulatedStream::~SimulatedStream() {
    Shutdown();
}

ZVResult SimulatedStream::Start() {
    if (IsClockThread()) {
        return kSimResultInvalidState;
    }
    std::lock_guard<std::mutex> lifecycle(lifecycleMutex);
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (shutDown) {
            return kSimResultInvalidHandle;
        }
        if (clockThread.joinable()) {
            return kSimResultInvalidState;
        }
        stopRequested = false;
    }
    clockThread = std::thread(&SimulatedStream::Run, this);
    return kResultOk;
}

ZVResult SimulatedStream::Stop() {
    if (IsClockThread()) {
        return kSimResultInvalidState;
    }
    std::lock_guard<std::mutex> lifecycle(lifecycleMutex);
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (shutDown) {
            return kSimResultInvalidHandle;
        }
    }
    StopLocked();
    return kResultOk;
}

void SimulatedStream::Shutdown() {
    std::lock_guard<std::mutex> lifecycle(lifecycleMutex);
    StopLocked();
    std::lock_guard<std::mutex> lock(stateMutex);
    shutDown = true;
}

void SimulatedStream::StopLocked() {
    if (!clockThread.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        stopRequested = true;
    }
    stopSignal.notify_all();
    clockThread.join();
}

bool SimulatedStream::IsClockThread() const {
    return clockThreadStream == this;
}

ZVResult SimulatedStream::FetchBuffer(AudioOutputBuffer* outBuffer) {
    std::lock_guard<std::mutex> lock(stateMutex);
    if (shutDown) {
        return kSimResultInvalidHandle;
    }
    const auto count = static_cast<uint32_t>(states.size());
    uint32_t found = kNoBuffer;
    if (lentBuffer == kNoBuffer) {
        for (uint32_t i = 0; i < count && found == kNoBuffer; ++i) {
            const uint32_t candidate = (nextCandidate + i) % count;
            if (states[candidate] == BufferState::Free) {
                found = candidate;
            }
        }
    }
    if (found == kNoBuffer) {
        DeviceCounters::Increment(device.Counters().fetchesNotReady);
        return kResultBufferNotReady;
    }
    states[found] = BufferState::Lent;
    lentBuffer = found;
    nextCandidate = (found + 1) % count;
    outBuffer->data = BufferData(found);
    outBuffer->size = samplesPerBuffer * static_cast<uint32_t>(sizeof(int16_t));
    DeviceCounters::Increment(device.Counters().buffersFetched);
    return kResultOk;
}

ZVResult SimulatedStream::ReleaseBuffer() {
    uint32_t index = kNoBuffer;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (shutDown) {
            return kSimResultInvalidHandle;
        }
        if (lentBuffer == kNoBuffer || releasing) {
            return kSimResultInvalidState;
        }
        // The buffer stays lent while it plays, so no fetch can hand it out meanwhile.
        releasing = true;
        index = lentBuffer;
    }

    device.Play(handle, format, BufferData(index), samplesPerBuffer);

    std::lock_guard<std::mutex> lock(stateMutex);
    states[index] = BufferState::Queued;
    const auto capacity = static_cast<uint32_t>(playQueue.size());
    playQueue[(queueHead + queueSize) % capacity] = index;
    ++queueSize;
    lentBuffer = kNoBuffer;
    releasing = false;
    return kResultOk;
}

void SimulatedStream::Run() {
    using Clock = std::chrono::steady_clock;
    clockThreadStream = this;

    // Deadlines are whole periods counted from an origin, so neither late
    // wake-ups nor rounding add up to drift. A change of speed or drift starts
    // a new origin at the last deadline.
    Clock::time_point origin = Clock::now();
    double period = PeriodSeconds();
    uint64_t periods = 0;
    const auto deadlineOf = [&](uint64_t count) {
        return origin + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(period * static_cast<double>(count)));
    };

    std::unique_lock<std::mutex> lock(stateMutex);
    while (!stopRequested) {
        // A stalled device thread asks for nothing; the catch-up below accounts for the
        // periods that pass meanwhile.
        if (const double stall = device.TakeStall(); stall > 0.0) {
            const auto wake =
                Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(stall / device.SpeedFactor()));
            if (stopSignal.wait_until(lock, wake, [this] { return stopRequested; })) {
                break;
            }
        }
        lock.unlock();
        DeviceCounters::Increment(device.Counters().requestsIssued);
        callback(handle, context);
        lock.lock();

        ++periods;
        if (stopSignal.wait_until(lock, deadlineOf(periods), [this] { return stopRequested; })) {
            break;
        }
        PlayQueuedBufferLocked();
        // The clock keeps time through a stall (a slow callback, a busy
        // machine): periods that went by meanwhile play what is queued or
        // starve, as a real device's would, with no request of their own.
        // Counted, not looped over, so that a process paused for hours at a
        // high speed catches up at once.
        const double behind = std::chrono::duration<double>(Clock::now() - origin).count() / period;
        if (const auto due = static_cast<uint64_t>(behind); due > periods) {
            const uint64_t missed = due - periods;
            periods = due;
            const uint64_t played = std::min<uint64_t>(missed, queueSize);
            for (uint64_t i = 0; i < played; ++i) {
                PlayQueuedBufferLocked();
            }
            DeviceCounters::Increment(device.Counters().starvedPeriods, missed - played);
            DeviceCounters::Increment(device.Counters().clockPeriods, missed - played);
        }
        if (const double current = PeriodSeconds(); current != period) {
            origin = deadlineOf(periods);
            period = current;
            periods = 0;
        }
    }
    clockThreadStream = nullptr;
}

void SimulatedStream::PlayQueuedBufferLocked() {
    DeviceCounters::Increment(device.Counters().clockPeriods);
    if (queueSize == 0) {
        DeviceCounters::Increment(device.Counters().starvedPeriods);
        return;
    }
    const uint32_t index = playQueue[queueHead];
    states[index] = BufferState::Free;
    queueHead = (queueHead + 1) % static_cast<uint32_t>(playQueue.size());
    --queueSize;
}

int16_t* SimulatedStream::BufferData(uint32_t index) {
    return storage.data() + storageOffset + bufferStride * index;
}

double SimulatedStream::PeriodSeconds() const {
    // A device clock that runs fast (positive drift) asks for buffers sooner.
    return static_cast<double>(framesPerBuffer) / static_cast<double>(format.sampleRate) /
           device.SpeedFactor() / (1.0 + device.ClockDriftPpm() * 1e-6);
}

} // namespace zvsim
