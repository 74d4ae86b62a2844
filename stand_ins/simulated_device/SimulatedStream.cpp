#include "SimulatedStream.h"

#include "DeviceClock.h"
#include "SimulatedDevice.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace zvsim {

namespace {

// The stream whose clock runs on this thread, if any.
thread_local const SimulatedStream* clockThreadStream = nullptr;

} // namespace

SimulatedStream::SimulatedStream(SimulatedDevice& owner, ZVSoundHandle streamHandle,
                                 const AudioBufferFormat& streamFormat, uint32_t frames,
                                 uint32_t bufferCount, ZVAudioBufferCallback streamCallback,
                                 void* streamContext)
    : device(owner), handle(streamHandle), format(streamFormat), framesPerBuffer(frames),
      samplesPerBuffer(frames * streamFormat.channelCount), callback(streamCallback),
      context(streamContext) {
    buffers.Allocate(bufferCount, samplesPerBuffer);
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
    int16_t* const data = buffers.Lend();
    if (data == nullptr) {
        DeviceCounters::Increment(device.Counters().fetchesNotReady);
        return kResultBufferNotReady;
    }
    outBuffer->data = data;
    outBuffer->size = samplesPerBuffer * static_cast<uint32_t>(sizeof(int16_t));
    DeviceCounters::Increment(device.Counters().buffersFetched);
    return kResultOk;
}

ZVResult SimulatedStream::ReleaseBuffer() {
    const int16_t* samples = nullptr;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (shutDown) {
            return kSimResultInvalidHandle;
        }
        if (!buffers.IsLent() || releasing) {
            return kSimResultInvalidState;
        }
        // The buffer stays lent while it plays, so no fetch can hand it out meanwhile.
        releasing = true;
        samples = buffers.LentData();
    }

    device.Play(handle, format, samples, samplesPerBuffer);

    std::lock_guard<std::mutex> lock(stateMutex);
    buffers.QueueLent();
    releasing = false;
    return kResultOk;
}

void SimulatedStream::Run() {
    clockThreadStream = this;

    // A change of speed or drift starts counting anew at the last deadline.
    zvplatform::DeviceClock clock;
    clock.Begin(PeriodSeconds());
    uint64_t periods = 0;

    std::unique_lock<std::mutex> lock(stateMutex);
    while (!stopRequested) {
        // A stalled device thread asks for nothing; the catch-up below accounts for the
        // periods that pass meanwhile.
        if (const double stall = device.TakeStall(); stall > 0.0) {
            using Clock = zvplatform::DeviceClock::Clock;
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
        if (stopSignal.wait_until(lock, clock.Deadline(periods),
                                  [this] { return stopRequested; })) {
            break;
        }
        PlayQueuedBufferLocked();
        // The clock keeps time through a stall (a slow callback, a busy
        // machine): periods that went by meanwhile play what is queued or
        // starve, as a real device's would, with no request of their own.
        // Counted, not looped over, so that a process paused for hours at a
        // high speed catches up at once.
        if (const uint64_t due = clock.PeriodsElapsed(); due > periods) {
            const uint64_t missed = due - periods;
            periods = due;
            const uint64_t played = std::min<uint64_t>(missed, buffers.QueuedCount());
            for (uint64_t i = 0; i < played; ++i) {
                PlayQueuedBufferLocked();
            }
            DeviceCounters::Increment(device.Counters().starvedPeriods, missed - played);
            DeviceCounters::Increment(device.Counters().clockPeriods, missed - played);
        }
        if (const double current = PeriodSeconds(); current != clock.PeriodSeconds()) {
            clock.Rebase(periods, current);
            periods = 0;
        }
    }
    clockThreadStream = nullptr;
}

void SimulatedStream::PlayQueuedBufferLocked() {
    DeviceCounters::Increment(device.Counters().clockPeriods);
    if (buffers.PlayOldest() == nullptr) {
        DeviceCounters::Increment(device.Counters().starvedPeriods);
    }
}

double SimulatedStream::PeriodSeconds() const {
    // A device clock that runs fast (positive drift) asks for buffers sooner.
    return static_cast<double>(framesPerBuffer) / static_cast<double>(format.sampleRate) /
           device.SpeedFactor() / (1.0 + device.ClockDriftPpm() * 1e-6);
}

} // namespace zvsim
