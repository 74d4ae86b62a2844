// The simulated device's control calls. Its platform calls are the platform
// core's (PlatformExports.cpp), answered by the device below, which turn an
// exception into a result code, so none crosses the C boundary.
#include "PlatformCall.h"
#include "SimulatedDevice.h"
#include "ZVSimulatedDevice.h"

#include <new>
#include <system_error>

static_assert(kSimResultOutOfMemory == zvplatform::kResultOutOfResources,
              "a call that runs out of memory or threads reports the device's own code");

namespace {

// Constructed when the library loads, so the environment is read then.
zvsim::SimulatedDevice device;

bool IsKnownCall(ZVSimCall call) {
    return call >= 0 && call < kSimCallCount;
}

} // namespace

namespace zvplatform {

// The platform calls go to the device (PlatformExports.cpp).
PlatformModel& ActivePlatform() {
    return device;
}

} // namespace zvplatform

extern "C" {

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
    try {
        device.Recorder().Start(path);
    } catch (const std::bad_alloc&) {
        // The path could not be kept: nothing is recorded.
    } catch (const std::system_error&) {
        // Nor could the recorder's lock be taken.
    }
}

void ZVSimFinishRecording() {
    device.Recorder().Stop();
}

void ZVSimSetPlaybackTap(ZVSimPlaybackTap tap, void* context) {
    device.SetPlaybackTap(tap, context);
}

void ZVSimInjectFailure(ZVSimCall call, ZVResult result, uint32_t count) {
    if (IsKnownCall(call)) {
        device.Failures().Arm(static_cast<zvplatform::PlatformCall>(call), result, count);
    }
}

void ZVSimClearFailures() {
    device.Failures().Clear();
}

} // extern "C"
