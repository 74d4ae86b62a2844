// Shared fixture of the tests that load the real plug-in library by path, as
// the engine does, in front of the simulated device.
#pragma once

#include "PluginLibrary.h"
#include "ZVSimulatedDevice.h"

#include "../support/Deadline.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
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

    template <typename Call> static std::invoke_result_t<Call> CallWithin(Call call) {
        return zvtest::CallWithin(kLimit, "a plug-in call", std::move(call));
    }

    static bool WaitFor(const std::function<bool()>& condition) {
        return zvtest::WaitFor(kLimit, condition);
    }

    zvdemo::PluginLibrary plugin;
};
