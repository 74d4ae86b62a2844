// One buffered output stream of the simulated device.
#pragma once

#include "BufferPool.h"
#include "ZVAudio.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace zvsim {

class SimulatedDevice;

// A stream owns a fixed set of output buffers and, while started, a thread
// that acts as the device clock: once per period it plays one queued buffer
// (or counts the period as starved) and calls the registered callback to ask
// for the next one. Each buffer is free, lent (from a fetch to its release) or
// queued (released, waiting for the clock). Only one buffer is lent at a time.
//
// Locks: `lifecycleMutex` serialises Start, Stop and Shutdown and is held while
// the clock thread is joined; `stateMutex` guards the buffers and the stop flag
// and is never held while the callback or the playback tap runs, so both may
// call back into the device.
class SimulatedStream {
public:
    // Allocates every buffer; nothing is allocated afterwards. May throw std::bad_alloc.
    SimulatedStream(SimulatedDevice& device, ZVSoundHandle handle, const AudioBufferFormat& format,
                    uint32_t framesPerBuffer, uint32_t bufferCount, ZVAudioBufferCallback callback,
                    void* context);
    ~SimulatedStream();
    SimulatedStream(const SimulatedStream&) = delete;
    SimulatedStream& operator=(const SimulatedStream&) = delete;

    // Starts the clock thread; the first request follows at once.
    // kSimResultInvalidState while running. May throw std::system_error.
    ZVResult Start();

    // Returns once the clock thread has ended, after any callback in flight.
    // A stream that is not running is left as it is (kResultOk).
    ZVResult Stop();

    // Stops the stream for good; every later call answers kSimResultInvalidHandle.
    void Shutdown();

    ZVResult FetchBuffer(AudioOutputBuffer* outBuffer);
    ZVResult ReleaseBuffer();

    // True on this stream's clock thread, where Stop would wait for itself.
    bool IsClockThread() const;

private:
    void Run();
    void StopLocked();
    void PlayQueuedBufferLocked();
    double PeriodSeconds() const;

    SimulatedDevice& device;
    const ZVSoundHandle handle;
    const AudioBufferFormat format;
    const uint32_t framesPerBuffer;
    const uint32_t samplesPerBuffer;
    const ZVAudioBufferCallback callback;
    void* const context;

    std::mutex lifecycleMutex;
    std::thread clockThread;

    std::mutex stateMutex;
    std::condition_variable stopSignal;
    bool stopRequested = false;
    bool shutDown = false;
    zvplatform::BufferPool buffers;
    bool releasing = false; // the lent buffer is being played
};

} // namespace zvsim
