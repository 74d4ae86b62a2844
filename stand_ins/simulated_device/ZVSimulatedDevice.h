// Control interface of the simulated audio device, the project's stand-in for
// the platform audio service. The plug-in never calls these; tests, the demo
// player and tools do, to steer the device clock, listen to what it played and
// make it fail on purpose. Every setting can also come from the environment
// (read once, when the library loads):
//   ZV_SIM_WAV     path of a 16-bit PCM WAV file recording every released buffer
//   ZV_SIM_SPEED   device clock speed factor (default 1.0 = real time)
//   ZV_SIM_DRIFT_PPM device clock drift against the host's clock in ppm (default 0)
//   ZV_SIM_BUFFERS buffers in flight per stream (default 3)
#pragma once

#include "ZVAudio.h"

#include <cstdint>

extern "C" {

// The platform calls that can be made to fail on purpose.
enum ZVSimCall : int32_t {
    kSimCallGetBufferedOutputDefaults = 0,
    kSimCallCreateSoundWithBufferedOutput = 1,
    kSimCallStartSound = 2,
    kSimCallStopSound = 3,
    kSimCallDestroySound = 4,
    kSimCallGetOutputBuffer = 5,
    kSimCallReleaseOutputBuffer = 6,
    kSimCallCount = 7
};

// Result codes of the simulated device besides kResultOk and kResultBufferNotReady.
constexpr ZVResult kSimResultInvalidHandle = static_cast<ZVResult>(0x9E110001u);
constexpr ZVResult kSimResultInvalidArgument = static_cast<ZVResult>(0x9E110002u);
constexpr ZVResult kSimResultInvalidState = static_cast<ZVResult>(0x9E110003u);
constexpr ZVResult kSimResultOutOfMemory = static_cast<ZVResult>(0x9E110004u);
constexpr ZVResult kSimResultInjectedFailure = static_cast<ZVResult>(0x9E1100FFu);

// Counters since the library was loaded or since the last reset, over all streams.
struct ZVSimDeviceStats {
    uint64_t streamsCreated;
    uint64_t streamsDestroyed;
    uint64_t requestsIssued;  // callbacks made to ask for a buffer
    uint64_t buffersFetched;  // successful ZVAudioGetOutputBuffer calls
    uint64_t fetchesNotReady; // fetches answered with kResultBufferNotReady
    uint64_t buffersPlayed;   // released buffers ("played")
    uint64_t samplesPlayed;   // samples in released buffers
    uint64_t silentSamples;   // zero samples among them
    uint64_t starvedPeriods;  // device periods that found no released buffer to play
    uint64_t clockPeriods;    // device periods elapsed on the clocks of all streams
};

typedef void (*ZVSimPlaybackTap)(ZVSoundHandle handle, const int16_t* samples, uint32_t count,
                                 void* context);

ZV_SDK_API void ZVSimGetDeviceStats(ZVSimDeviceStats* outStats);
ZV_SDK_API void ZVSimResetDeviceStats();

// Device clock speed: 1.0 is real time, 50.0 runs fifty periods in the time of one.
ZV_SDK_API void ZVSimSetSpeedFactor(double factor);

// Device clock drift in parts per million against the clock that paces the
// caller (the speed factor applies to both): +100 runs the device 100 ppm fast,
// so it asks for buffers that much sooner. Takes effect from the next period;
// values outside -500000 to +500000 are ignored.
ZV_SDK_API void ZVSimSetClockDriftPpm(double ppm);

// Stalls the clock thread of the next running stream for `seconds` of device
// time (scaled by the speed factor) before its next request: no requests
// meanwhile, and the periods that pass play what was queued or starve, as when
// a real device's thread is held up. Values outside 0 to 60 are ignored.
ZV_SDK_API void ZVSimStallDevice(double seconds);

// Buffers in flight per stream, for streams created afterwards (1 to 16).
ZV_SDK_API void ZVSimSetBuffersInFlight(uint32_t count);

// Records every released buffer into a WAV file at `path`; a null path stops
// recording. The file is complete after each stream is destroyed and after
// ZVSimFinishRecording.
ZV_SDK_API void ZVSimSetRecordingPath(const char* path);
ZV_SDK_API void ZVSimFinishRecording();

// Called on the releasing thread with the samples of every released buffer.
ZV_SDK_API void ZVSimSetPlaybackTap(ZVSimPlaybackTap tap, void* context);

// The next `count` calls of `call` fail with `result` (0 clears).
ZV_SDK_API void ZVSimInjectFailure(ZVSimCall call, ZVResult result, uint32_t count);
ZV_SDK_API void ZVSimClearFailures();

} // extern "C"
