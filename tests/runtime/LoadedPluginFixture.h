// Shared fixture of the tests that load the real plug-in library by path, as
// the engine does, in front of the simulated device.
#pragma once

#include "PluginLibrary.h"
#include "ZVSimulatedDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>
#include <type_traits>
#include <utility>

class LoadedPluginFixture : public ::testing::Test {
protected:
    // Fast enough to keep the suites quick, slow enough for sanitizer builds.
    static constexpr double kSpeed = 20.0;
    static constexpr std::chrono::seconds kLimit{20};

    void SetUp() override {
        ZVSimClearFailures();
        ZVSimSetSpeedFactor(kSpeed);
        ZVSimSetBuffersInFlight(3);
        // The tap is left alone: a PlaybackCapture member may have installed it already.
        ZVSimSetRecordingPath(nullptr);
        ZVSimResetDeviceStats();
        ASSERT_TRUE(plugin.Load(ZV_PLUGIN_PATH)) << plugin.Error();
    }

    void TearDown() override {
        if (plugin.IsLoaded()) {
            // An instance left behind would outlive the unloaded code.
            CallWithin([this] { return Api().destroyAudioOutput(); });
            plugin.Unload();
        }
        ZVSimClearFailures();
        ZVSimSetSpeedFactor(1.0);
    }

    const zvdemo::PluginExports& Api() const { return plugin.Exports(); }

    // The plug-in's counters; a failed query fails the test and gives zeros.
    ZVAudioOutputStats Stats() const {
        ZVAudioOutputStats stats{};
        EXPECT_TRUE(Api().getAudioOutputStats(&stats));
        EXPECT_EQ(stats.samplesQueued,
                  stats.samplesDelivered + stats.samplesDropped + stats.queuedSamples);
        return stats;
    }

    static ZVSimDeviceStats DeviceStats() {
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
            std::fprintf(stderr, "a plug-in call did not return: deadlock\n");
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

    zvdemo::PluginLibrary plugin;
};
