#include "FakePlatform.h"
#include "ZVAudioOutput.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using zvtest::FakeCall;
using zvtest::FakePlatform;

namespace {

class ExportsTest : public ::testing::Test {
protected:
    void SetUp() override { FakePlatform::Instance().Reset(); }
    void TearDown() override {
        DestroyAudioOutput();
        FakePlatform::Instance().Reset();
    }
    static ZVAudioOutputStats Stats() {
        ZVAudioOutputStats stats{};
        EXPECT_TRUE(GetAudioOutputStats(&stats));
        return stats;
    }
};

} // namespace

TEST_F(ExportsTest, CreateAndDestroyReportWhetherAnInstanceExisted) {
    EXPECT_TRUE(CreateAudioOutput());
    EXPECT_FALSE(CreateAudioOutput());
    EXPECT_TRUE(DestroyAudioOutput());
    EXPECT_FALSE(DestroyAudioOutput());
    EXPECT_TRUE(CreateAudioOutput()); // and again after a destroy
    EXPECT_TRUE(FakePlatform::Instance().Calls().empty());
}

TEST_F(ExportsTest, SecondCreateLeavesTheExistingInstanceAsItWas) {
    ASSERT_TRUE(CreateAudioOutput());
    ASSERT_TRUE(CreateOutputBuffer(256, 2, 100, 0, 0, 0.0f, 3));
    float block[4] = {0.5f, 0.5f, 0.5f, 0.5f};
    ASSERT_TRUE(OnUnityAudio(block, 4));
    EXPECT_FALSE(CreateAudioOutput());
    EXPECT_EQ(Stats().queuedSamples, 4u);
}

TEST_F(ExportsTest, ForwardingExportsWithoutAnInstanceReturnFalseAndCallNothing) {
    float block[2] = {0.1f, 0.2f};
    ZVAudioOutputStats stats{};
    stats.samplesQueued = 77;
    EXPECT_FALSE(CreateOutputBuffer(256, 2, 48000, 0, 0, 0.0f, 1));
    EXPECT_FALSE(OnUnityAudio(block, 2));
    EXPECT_FALSE(GetAudioOutputStats(&stats));
    EXPECT_EQ(stats.samplesQueued, 77u) << "nothing is written without an instance";
    EXPECT_TRUE(FakePlatform::Instance().Calls().empty());
}

TEST_F(ExportsTest, CreateOutputBufferIsTrueEvenWhenEveryPlatformCallFails) {
    auto& platform = FakePlatform::Instance();
    for (const FakeCall call :
         {FakeCall::GetBufferedOutputDefaults, FakeCall::CreateSoundWithBufferedOutput,
          FakeCall::StartSound, FakeCall::StopSound, FakeCall::DestroySound}) {
        platform.SetDefaultResult(call, 0x7002);
    }
    ASSERT_TRUE(CreateAudioOutput());
    EXPECT_TRUE(CreateOutputBuffer(256, 2, 48000, 0, 0, 0.0f, 1));
    EXPECT_EQ(platform.Logs().size(), 1u);
    EXPECT_TRUE(CreateOutputBuffer(256, 2, 48000, 0, 0, 0.0f, 100000)); // ring too large
    EXPECT_EQ(platform.Logs().size(), 2u);
}

TEST_F(ExportsTest, UnsafeOrEmptyBlocksChangeNothing) {
    ASSERT_TRUE(CreateAudioOutput());
    ASSERT_TRUE(CreateOutputBuffer(256, 2, 100, 0, 0, 0.0f, 3));
    float block[3] = {0.25f, 0.5f, 0.75f};
    EXPECT_TRUE(OnUnityAudio(nullptr, 3));
    EXPECT_TRUE(OnUnityAudio(block, -1));
    EXPECT_TRUE(OnUnityAudio(block, std::numeric_limits<int32_t>::min()));
    EXPECT_TRUE(OnUnityAudio(block, 0));
    const auto stats = Stats();
    EXPECT_EQ(stats.samplesQueued, 0u);
    EXPECT_EQ(stats.samplesWithoutStream, 0u);
    EXPECT_TRUE(OnUnityAudio(block, 3));
    EXPECT_EQ(Stats().samplesQueued, 3u);
}

TEST_F(ExportsTest, StatisticsNeedAPlaceToGo) {
    ASSERT_TRUE(CreateAudioOutput());
    EXPECT_FALSE(GetAudioOutputStats(nullptr));
    const auto stats = Stats();
    EXPECT_EQ(stats.ringCapacity, 0u);
    EXPECT_EQ(stats.samplesQueued, 0u);
}

TEST_F(ExportsTest, StatisticsStartAfreshWithEachInstance) {
    ASSERT_TRUE(CreateAudioOutput());
    float block[2] = {0.1f, 0.2f};
    ASSERT_TRUE(OnUnityAudio(block, 2));
    EXPECT_EQ(Stats().samplesWithoutStream, 2u);
    ASSERT_TRUE(DestroyAudioOutput());
    ASSERT_TRUE(CreateAudioOutput());
    EXPECT_EQ(Stats().samplesWithoutStream, 0u);
}

TEST_F(ExportsTest, DestroyReleasesTheOpenStream) {
    ASSERT_TRUE(CreateAudioOutput());
    ASSERT_TRUE(CreateOutputBuffer(256, 2, 100, 0, 0, 0.0f, 3));
    auto& platform = FakePlatform::Instance();
    const ZVSoundHandle handle = platform.LastCreatedHandle();
    ASSERT_TRUE(DestroyAudioOutput());
    ASSERT_GE(platform.Calls().size(), 2u);
    const auto calls = platform.Calls();
    EXPECT_EQ(calls[calls.size() - 2].call, FakeCall::StopSound);
    EXPECT_EQ(calls.back().call, FakeCall::DestroySound);
    EXPECT_EQ(calls.back().handle, handle);
}

TEST_F(ExportsTest, LoadAndUnloadHooksTouchNothing) {
    UnityPluginLoad(nullptr);
    UnityPluginUnload();
    EXPECT_TRUE(CreateAudioOutput());
    ASSERT_TRUE(CreateOutputBuffer(256, 2, 100, 0, 0, 0.0f, 3));
    const auto callsBefore = FakePlatform::Instance().Calls().size();
    int dummy = 0;
    for (int i = 0; i < 3; ++i) {
        UnityPluginLoad(&dummy);
        UnityPluginUnload();
    }
    EXPECT_EQ(FakePlatform::Instance().Calls().size(), callsBefore);
    EXPECT_FALSE(CreateAudioOutput()); // the instance is still there
    EXPECT_EQ(Stats().ringCapacity, 600u);
}

// A request already on its way when the instance is freed arrives with the old
// context. It must not read the freed instance, whatever handle it carries.
TEST_F(ExportsTest, LateRequestsToAFreedInstanceAreIgnored) {
    auto& platform = FakePlatform::Instance();
    ASSERT_TRUE(CreateAudioOutput());
    ASSERT_TRUE(CreateOutputBuffer(256, 2, 100, 0, 0, 0.0f, 3));
    const ZVAudioBufferCallback callback = platform.Callback();
    void* const freed = platform.Context();
    const ZVSoundHandle old = platform.LastCreatedHandle();
    ASSERT_TRUE(DestroyAudioOutput());
    callback(old, freed);
    callback(kInvalidSoundHandle, freed);

    // A new instance whose stream got the old handle value.
    ASSERT_TRUE(CreateAudioOutput());
    platform.SetNextHandle(old);
    ASSERT_TRUE(CreateOutputBuffer(256, 2, 100, 0, 0, 0.0f, 3));
    ASSERT_EQ(platform.LastCreatedHandle(), old);
    const size_t calls = platform.Calls().size();
    callback(old, freed);
    callback(kInvalidSoundHandle, freed);
    callback(kInvalidSoundHandle, platform.Context());
    EXPECT_EQ(platform.Calls().size(), calls);
    if (platform.Context() != freed) { // the new instance may reuse the old address
        EXPECT_EQ(Stats().requestsDeferred, 0u);
    }
}

// A logger that throws (out of memory while formatting) loses its line and
// nothing else: every export answers as usual, the release still reaches the
// destroy call, both fill paths count their buffer and serve their request,
// and no lock stays held (the later calls would block).
TEST_F(ExportsTest, ThrowingLoggerLosesTheLineNeverTheCall) {
    auto& platform = FakePlatform::Instance();
    platform.SetLoggerThrows(true);
    constexpr ZVResult kFailure = 0x7003;
    float block[4] = {0.25f, 0.25f, 0.25f, 0.25f};
    ZVAudioOutputLatencyStats latency{};

    ASSERT_TRUE(CreateAudioOutput());
    EXPECT_TRUE(CreateOutputBuffer(256, 2, 48000, 0, 0, 0.0f, 100000)); // ring too large
    platform.ScriptResults(FakeCall::StartSound, {kFailure});
    EXPECT_TRUE(CreateOutputBuffer(256, 2, 100, 0, 0, 0.0f, 3));
    const ZVSoundHandle handle = platform.LastCreatedHandle();
    EXPECT_TRUE(SetAudioOutputLatencyTarget(0));
    EXPECT_TRUE(GetAudioOutputLatencyStats(&latency));

    // Platform thread: a request served from the ring, whose release fails.
    EXPECT_TRUE(OnUnityAudio(block, 4));
    platform.ScriptResults(FakeCall::ReleaseOutputBuffer, {kFailure});
    platform.RaiseRequest(handle);
    EXPECT_EQ(Stats().buffersFilled, 1u);

    // Host thread: a pending request answered by the next block, whose release fails.
    platform.RaiseRequest(handle);
    platform.ScriptResults(FakeCall::ReleaseOutputBuffer, {kFailure});
    EXPECT_TRUE(OnUnityAudio(block, 4));
    EXPECT_EQ(Stats().buffersFilled, 2u);
    EXPECT_TRUE(OnUnityAudio(block, 4));
    EXPECT_EQ(platform.CountCalls(FakeCall::GetOutputBuffer), 2u) << "the request stayed pending";

    platform.ScriptResults(FakeCall::StopSound, {kFailure});
    platform.ScriptResults(FakeCall::DestroySound, {kFailure});
    UnityPluginLoad(nullptr);
    UnityPluginUnload();
    EXPECT_TRUE(DestroyAudioOutput());
    EXPECT_EQ(platform.Calls().back().call, FakeCall::DestroySound);
    // Each failure reached the logger once: no handler logged again.
    EXPECT_EQ(platform.Logs().size(), 6u);
    EXPECT_TRUE(CreateAudioOutput());
}
