// The simulated audio device: the streams by handle and the settings, counters,
// recording, tap and failures shared by all of them.
#pragma once

#include "DeviceCounters.h"
#include "FailureScript.h"
#include "HandleTable.h"
#include "PlatformModel.h"
#include "WavRecorder.h"
#include "ZVSimulatedDevice.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace zvsim {

class SimulatedStream;

// One instance lives for as long as the library is loaded: the platform model
// the library's platform calls go to. Every method may be called from any thread. `streamsMutex` is
// held only to look a handle up, add or remove it, never around a stream call; lookups hand out
// shared pointers, so a stream destroyed during a call stays valid until it returns.
class SimulatedDevice : public zvplatform::PlatformModel {
public:
    static constexpr uint32_t kRecommendedFrames = 1024;
    static constexpr uint32_t kMinimumFrames = 256;
    static constexpr uint32_t kMaximumFrames = 65536;
    static constexpr uint32_t kMaximumChannels = 32;
    static constexpr uint32_t kMaximumSampleRate = 768000;
    static constexpr uint32_t kDefaultBuffersInFlight = 3;
    static constexpr uint32_t kMaximumBuffersInFlight = 16;

    static constexpr double kMaximumDriftPpm = 500000.0;
    static constexpr double kMaximumStallSeconds = 60.0;

    // Reads ZV_SIM_WAV, ZV_SIM_SPEED, ZV_SIM_DRIFT_PPM and ZV_SIM_BUFFERS.
    SimulatedDevice();
    // Stops and frees every stream still open, then completes the recording.
    ~SimulatedDevice();
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    ZVResult GetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate, float formatHint,
                                       AudioBufferFormat* outFormat, uint32_t* outRecommendedSize,
                                       uint32_t* outMinimumSize) override;
    ZVResult CreateSound(const AudioBufferFormat* format, uint32_t bufferSize,
                         ZVAudioBufferCallback callback, void* context,
                         ZVSoundHandle* outHandle) override;
    ZVResult StartSound(ZVSoundHandle handle) override;
    ZVResult StopSound(ZVSoundHandle handle) override;
    ZVResult DestroySound(ZVSoundHandle handle) override;
    ZVResult GetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) override;
    ZVResult ReleaseOutputBuffer(ZVSoundHandle handle) override;
    const char* ResultString(ZVResult result) override;

    DeviceCounters& Counters() { return counters; }
    zvplatform::FailureScript& Failures() { return failures; }
    WavRecorder& Recorder() { return recorder; }

    double SpeedFactor() const { return speedFactor.load(std::memory_order_relaxed); }
    void SetSpeedFactor(double factor);
    double ClockDriftPpm() const { return driftPpm.load(std::memory_order_relaxed); }
    void SetClockDriftPpm(double ppm);
    void SetBuffersInFlight(uint32_t count);
    // A stall for the next stream clock to take (seconds of device time); TakeStall
    // hands it to one caller and leaves 0.
    void RequestStall(double seconds);
    double TakeStall() { return pendingStall.exchange(0.0, std::memory_order_relaxed); }
    void SetPlaybackTap(ZVSimPlaybackTap tap, void* context);

    // Counts, taps and records one released buffer. Called by streams on the
    // releasing thread, with no stream lock held.
    void Play(ZVSoundHandle handle, const AudioBufferFormat& format, const int16_t* samples,
              uint32_t count);

private:
    std::shared_ptr<SimulatedStream> Find(ZVSoundHandle handle);
    void ReadEnvironment();

    DeviceCounters counters;
    zvplatform::FailureScript failures;
    WavRecorder recorder;

    std::atomic<double> speedFactor{1.0};
    std::atomic<double> driftPpm{0.0};
    std::atomic<double> pendingStall{0.0};
    std::atomic<uint32_t> buffersInFlight{kDefaultBuffersInFlight};

    std::mutex tapMutex;
    ZVSimPlaybackTap tap = nullptr;
    void* tapContext = nullptr;

    std::mutex streamsMutex;
    zvplatform::HandleTable<std::shared_ptr<SimulatedStream>> streams;
};

} // namespace zvsim
