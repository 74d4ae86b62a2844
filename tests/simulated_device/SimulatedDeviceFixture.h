// Shared fixture of the simulated device tests: puts the device into a known
// state, owns every stream a test creates and gives deadlock-safe waits.
#pragma once

#include "ZVSimulatedDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>
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

    // Runs `call` on a thread of its own; a call that does not return in time
    // is a deadlock and ends the run, since a hung thread cannot be joined.
    // The thread is joined rather than detached: under Wine a thread detached
    // at once sometimes never starts.
    template <typename Call> static std::invoke_result_t<Call> CallWithin(Call call) {
        std::packaged_task<std::invoke_result_t<Call>()> task(std::move(call));
        auto result = task.get_future();
        std::thread worker(std::move(task));
        if (result.wait_for(kLimit) != std::future_status::ready) {
            std::fprintf(stderr, "a device call did not return: deadlock\n");
            std::abort();
        }
        worker.join();
        return result.get();
    }

    // Polls until `condition` holds; false after the limit.
    static bool WaitFor(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + kLimit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    static void IgnoreRequest(ZVSoundHandle, void*) {}

    std::vector<ZVSoundHandle> handles;
};
