// The exported C calls of the simulated device: each one forwards to the
// device and turns an exception into a result code, so none crosses the C boundary.
#include "SimulatedDevice.h"
#include "ZVSimulatedDevice.h"

#include <new>
#include <system_error>

namespace {

// Constructed when the library loads, so the environment is read then.
zvsim::SimulatedDevice device;

template <typename Call> ZVResult Guarded(Call call) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return kSimResultOutOfMemory;
    } catch (const std::system_error&) {
        // A thread or lock could not be created: the machine is out of resources.
        return kSimResultOutOfMemory;
    }
}

} // namespace

extern "C" {

ZVResult ZVAudioGetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate,
                                          float /*formatHint*/, AudioBufferFormat* outFormat,
                                          uint32_t* outRecommendedSize, uint32_t* outMinimumSize) {
    return Guarded([&] {
        return device.GetBufferedOutputDefaults(channelCount, sampleRate, outFormat,
                                                outRecommendedSize, outMinimumSize);
    });
}

ZVResult ZVAudioCreateSoundWithBufferedOutput(const AudioBufferFormat* format, uint32_t bufferSize,
                                              ZVAudioBufferCallback callback, void* context,
                                              ZVSoundHandle* outHandle) {
    return Guarded(
        [&] { return device.CreateSound(format, bufferSize, callback, context, outHandle); });
}

ZVResult ZVAudioStartSound(ZVSoundHandle handle) {
    return Guarded([&] { return device.StartSound(handle); });
}

ZVResult ZVAudioStopSound(ZVSoundHandle handle) {
    return Guarded([&] { return device.StopSound(handle); });
}

ZVResult ZVAudioDestroySound(ZVSoundHandle handle) {
    return Guarded([&] { return device.DestroySound(handle); });
}

ZVResult ZVAudioGetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) {
    return Guarded([&] { return device.GetOutputBuffer(handle, outBuffer); });
}

ZVResult ZVAudioReleaseOutputBuffer(ZVSoundHandle handle) {
    return Guarded([&] { return device.ReleaseOutputBuffer(handle); });
}

const char* ZVAudioGetResultString(ZVResult result) {
    switch (result) {
    case kResultOk: return "the call succeeded";
    case kResultBufferNotReady: return "no output buffer is free yet";
    case kSimResultInvalidHandle: return "the sound handle is unknown or was destroyed";
    case kSimResultInvalidArgument: return "an argument is null or out of range";
    case kSimResultInvalidState: return "the call is not allowed in the stream's current state";
    case kSimResultOutOfMemory: return "the device ran out of memory or threads";
    case kSimResultInjectedFailure: return "the call was made to fail on purpose";
    default: return "unknown result code";
    }
}

void ZVSimGetDeviceStats(ZVSimDeviceStats* outStats) {
    if (outStats != nullptr) {
        *outStats = device.Counters().Snapshot();
    }
}

void ZVSimResetDeviceStats() {
    device.Counters().Reset();
}

void ZVSimSetSpeedFactor(double factor) {
    device.SetSpeedFactor(factor);
}

void ZVSimSetClockDriftPpm(double ppm) {
    device.SetClockDriftPpm(ppm);
}

void ZVSimStallDevice(double seconds) {
    device.RequestStall(seconds);
}

void ZVSimSetBuffersInFlight(uint32_t count) {
    device.SetBuffersInFlight(count);
}

void ZVSimSetRecordingPath(const char* path) {
    Guarded([&] {
        device.Recorder().Start(path);
        return kResultOk;
    });
}

void ZVSimFinishRecording() {
    device.Recorder().Stop();
}

void ZVSimSetPlaybackTap(ZVSimPlaybackTap tap, void* context) {
    device.SetPlaybackTap(tap, context);
}

void ZVSimInjectFailure(ZVSimCall call, ZVResult result, uint32_t count) {
    device.Failures().Arm(call, result, count);
}

void ZVSimClearFailures() {
    device.Failures().Clear();
}

} // extern "C"
