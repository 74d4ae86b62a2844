#include "FakePlatform.h"
#include "ZVAudioOutput.h"

#include <gtest/gtest.h>

#include <cstring>
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
// context: with the old handle, the invalid one, or the old one reused by a new
// instance's stream. Nothing may be read through it (the asan build checks).
TEST_F(ExportsTest, LateRequestsToAFreedInstanceAreIgnored) {
    auto& platform = FakePlatform::Instance();
    ASSERT_TRUE(CreateAudioOutput());
    ASSERT_TRUE(CreateOutputBuffer(256, 2, 100, 0, 0, 0.0f, 3));
    const ZVAudioBufferCallback late = platform.Callback();
    void* const freed = platform.Context();
    const ZVSoundHandle old = platform.LastCreatedHandle();
    ASSERT_TRUE(DestroyAudioOutput());
    late(old, freed);
    late(kInvalidSoundHandle, freed); // equal to soundHandle while no stream is open
    ASSERT_TRUE(CreateAudioOutput());
    platform.SetNextHandle(old);
    ASSERT_TRUE(CreateOutputBuffer(256, 2, 100, 0, 0, 0.0f, 3));
    const size_t calls = platform.Calls().size();
    late(old, freed);
    EXPECT_EQ(platform.Calls().size(), calls);
    EXPECT_TRUE(platform.Context() == freed || Stats().requestsDeferred == 0u);
}

// A logger that throws (out of memory while formatting) loses its line and
// nothing else: every export answers as usual, the release reaches the destroy
// call, both fill paths count their buffer, and no lock stays held.
TEST_F(ExportsTest, ThrowingLoggerLosesTheLineNeverTheCall) {
    auto& platform = FakePlatform::Instance();
    platform.SetLoggerThrows(true);
    float block[4] = {0.25f, 0.25f, 0.25f, 0.25f};
    ZVAudioOutputLatencyStats latency{};
    ASSERT_TRUE(CreateAudioOutput());
    EXPECT_TRUE(CreateOutputBuffer(256, 2, 48000, 0, 0, 0.0f, 100000)); // ring too large
    platform.ScriptResults(FakeCall::StartSound, {0x7003});
    EXPECT_TRUE(CreateOutputBuffer(256, 2, 100, 0, 0, 0.0f, 3));
    EXPECT_TRUE(SetAudioOutputLatencyTarget(0) && GetAudioOutputLatencyStats(&latency));

    // A failed release on the request path, then on the intake path.
    platform.ScriptResults(FakeCall::ReleaseOutputBuffer, {0x7003, 0x7003});
    EXPECT_TRUE(OnUnityAudio(block, 4));
    platform.RaiseRequest(platform.LastCreatedHandle());
    platform.RaiseRequest(platform.LastCreatedHandle()); // finds the ring empty
    EXPECT_TRUE(OnUnityAudio(block, 4));
    EXPECT_TRUE(OnUnityAudio(block, 4)); // the pending request was served
    EXPECT_EQ(Stats().buffersFilled, 2u);
    EXPECT_EQ(platform.CountCalls(FakeCall::GetOutputBuffer), 2u);

    platform.ScriptResults(FakeCall::StopSound, {0x7003});
    platform.ScriptResults(FakeCall::DestroySound, {0x7003});
    UnityPluginLoad(nullptr);
    UnityPluginUnload();
    EXPECT_TRUE(DestroyAudioOutput());
    EXPECT_EQ(platform.Calls().back().call, FakeCall::DestroySound);
    EXPECT_EQ(platform.Logs().size(), 6u) << "a handler logged again";
    EXPECT_TRUE(CreateAudioOutput());
}

// The limits record is read by callers built against an older (shorter) or a
// newer (longer) record: exactly the bytes both know are written, and the
// record says how large the library's own is.
TEST_F(ExportsTest, LatencyLimitsFillOnlyTheCallersRecord) {
    struct Padded {
        ZVAudioOutputLatencyLimits limits;
        uint64_t beyond;
    };
    Padded record{};
    std::memset(&record, 0xA5, sizeof record);
    const Padded untouched = record;
    EXPECT_FALSE(GetAudioOutputLatencyLimits(&record.limits, sizeof record.limits));
    ASSERT_TRUE(CreateAudioOutput());
    EXPECT_FALSE(GetAudioOutputLatencyLimits(nullptr, sizeof record.limits));
    EXPECT_FALSE(GetAudioOutputLatencyLimits(&record.limits, 4)); // cannot hold recordSize
    EXPECT_EQ(std::memcmp(&record, &untouched, sizeof record), 0);

    // Only the size field: the shortest record a caller can pass.
    ASSERT_TRUE(GetAudioOutputLatencyLimits(&record.limits, 8));
    EXPECT_EQ(record.limits.recordSize, sizeof(ZVAudioOutputLatencyLimits));
    EXPECT_EQ(std::memcmp(&record.limits.limitedByRing, &untouched.limits.limitedByRing, 8), 0);

    // A newer caller's longer record: its extra field stays as it was. Control is off.
    ASSERT_TRUE(SetAudioOutputLatencyTarget(0));
    ASSERT_TRUE(GetAudioOutputLatencyLimits(&record.limits, sizeof record));
    EXPECT_EQ(record.beyond, untouched.beyond);
    EXPECT_EQ(record.limits.limitedByRing, 0u);
    EXPECT_EQ(record.limits.neededSamples, 0u);
    EXPECT_EQ(record.limits.fittingRingSeconds, 0u);
}
