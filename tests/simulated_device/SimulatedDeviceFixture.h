// Shared fixture of the simulated device tests: puts the device into a known
// state, owns every stream a test creates and gives deadlock-safe waits.
#pragma once

#include "ZVSimulatedDevice.h"

#include "../support/Deadline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <type_traits>
#include <vector>

class SimulatedDeviceFixture : public ::testing::Test {
protected:
    static constexpr uint32_t kRate = 48000;
    static constexpr uint32_t kChannels = 2;
    static constexpr uint32_t kFrames = 480; // 10 ms of real time per buffer
    static constexpr uint32_t kSamples = kFrames * kChannels;
    // Fast enough to keep the suite quick, slow enough for sanitizer builds.
    static constexpr double kSpeed = 10.0;
    static constexpr std::chrono::seconds kLimit{10};

    void SetUp() override {
        ZVSimClearFailures();
        ZVSimSetSpeedFactor(kSpeed);
        ZVSimSetClockDriftPpm(0.0);
        ZVSimSetBuffersInFlight(3);
        ZVSimSetPlaybackTap(nullptr, nullptr);
        ZVSimSetRecordingPath(nullptr);
        ZVSimResetDeviceStats();
    }

    void TearDown() override {
        for (ZVSoundHandle handle : handles) {
            CallWithin([handle] { return ZVAudioDestroySound(handle); });
        }
        ZVSimClearFailures();
        ZVSimSetPlaybackTap(nullptr, nullptr);
        ZVSimFinishRecording();
    }

    static AudioBufferFormat Format(uint32_t channels = kChannels, uint32_t rate = kRate) {
        return AudioBufferFormat{channels, rate, 16, 0};
    }

    // Creates a stream that the fixture destroys after the test.
    ZVSoundHandle Create(ZVAudioBufferCallback callback, void* context,
                         AudioBufferFormat format = Format(), uint32_t frames = kFrames) {
        ZVSoundHandle handle = kInvalidSoundHandle;
        EXPECT_EQ(ZVAudioCreateSoundWithBufferedOutput(&format, frames, callback, context, &handle),
                  kResultOk);
        EXPECT_NE(handle, kInvalidSoundHandle);
        handles.push_back(handle);
        return handle;
    }

    // Destroys a stream before the test ends (the fixture would do it anyway).
    ZVResult Destroy(ZVSoundHandle handle) {
        const ZVResult result = CallWithin([handle] { return ZVAudioDestroySound(handle); });
        if (result == kResultOk) {
            handles.erase(std::remove(handles.begin(), handles.end(), handle), handles.end());
        }
        return result;
    }

    static ZVSimDeviceStats Stats() {
        ZVSimDeviceStats stats{};
        ZVSimGetDeviceStats(&stats);
        return stats;
    }

    template <typename Call> static std::invoke_result_t<Call> CallWithin(Call call) {
        return zvtest::CallWithin(kLimit, "a device call", std::move(call));
    }

    static bool WaitFor(const std::function<bool()>& condition) {
        return zvtest::WaitFor(kLimit, condition);
    }

    static void IgnoreRequest(ZVSoundHandle, void*) {}

    std::vector<ZVSoundHandle> handles;
};
