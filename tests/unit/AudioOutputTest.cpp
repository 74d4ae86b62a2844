#include "AudioOutputFixture.h"

#include <cmath>
#include <limits>

using zvtest::FakeCall;

namespace {

constexpr ZVResult kFailure = 0x7001;

std::string FailureLine(const char* call) {
    return std::string(call) + "() failed with error FAKE_FAILURE";
}

} // namespace

TEST_F(AudioOutputTest, ConstructionMakesNoPlatformCall) {
    EXPECT_TRUE(platform().Calls().empty());
    EXPECT_EQ(output->GetStats().ringCapacity, 0u);
}

TEST_F(AudioOutputTest, OpensStartsAndReplacesStreamsInOrder) {
    OpenSmallStream();
    const ZVSoundHandle first = platform().LastCreatedHandle();
    EXPECT_EQ(
        platform().CallKinds(),
        (std::vector<FakeCall>{FakeCall::GetBufferedOutputDefaults,
                               FakeCall::CreateSoundWithBufferedOutput, FakeCall::StartSound}));
    EXPECT_EQ(zvaudio::soundHandle, first);
    EXPECT_EQ(output->GetStats().ringCapacity, 600u);

    OpenSmallStream();
    const auto calls = platform().Calls();
    ASSERT_EQ(calls.size(), 8u);
    EXPECT_EQ(calls[3].call, FakeCall::GetBufferedOutputDefaults);
    EXPECT_EQ(calls[4].call, FakeCall::StopSound);
    EXPECT_EQ(calls[4].handle, first);
    EXPECT_EQ(calls[5].call, FakeCall::DestroySound);
    EXPECT_EQ(calls[5].handle, first);
    EXPECT_EQ(calls[6].call, FakeCall::CreateSoundWithBufferedOutput);
    EXPECT_EQ(calls[7].call, FakeCall::StartSound);
    EXPECT_EQ(calls[7].handle, platform().LastCreatedHandle());
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(AudioOutputTest, RequestsCarryingAStaleHandleAreIgnored) {
    OpenSmallStream();
    const ZVSoundHandle old = platform().LastCreatedHandle();
    OpenSmallStream();
    Push(Ramp(1, 50));
    platform().RaiseRequest(old);
    EXPECT_EQ(platform().CountCalls(FakeCall::GetOutputBuffer), 0u);
    const auto stats = output->GetStats();
    EXPECT_EQ(stats.requestsDeferred, 0u);
    EXPECT_EQ(stats.queuedSamples, 50u);
}

TEST_F(AudioOutputTest, RingIsSizedFromChannelsRateAndSeconds) {
    output->CreateOutputBuffer(256, 2, 48000, 0, 0, 0.0f, 2);
    EXPECT_EQ(output->GetStats().ringCapacity, 192000u);
    output->CreateOutputBuffer(256, 2, 48000, 0, 0, 0.0f, 0);
    EXPECT_EQ(output->GetStats().ringCapacity, 0u);
    EXPECT_NE(zvaudio::soundHandle, kInvalidSoundHandle);
}

TEST_F(AudioOutputTest, RingBeyondItsLimitOpensNothingAndSaysWhy) {
    OpenSmallStream();
    platform().Reset();
    // 8 x 192000 x 1400 = 2,150,400,000 samples, beyond 2^31 - 1.
    output->CreateOutputBuffer(256, 8, 192000, 0, 0, 0.0f, 1400);
    EXPECT_EQ(platform().CallKinds(),
              (std::vector<FakeCall>{FakeCall::StopSound, FakeCall::DestroySound}));
    EXPECT_EQ(zvaudio::soundHandle, kInvalidSoundHandle);
    ASSERT_EQ(LogLines().size(), 1u);
    EXPECT_EQ(LogLines()[0], "CreateOutputBuffer() failed with error ring of 2150400000 samples "
                             "exceeds the limit of 2147483647 samples");
    EXPECT_EQ(platform().Logs()[0].level, 1);

    // A product that wraps to a small 32-bit value is caught too.
    platform().Reset();
    output->CreateOutputBuffer(256, 65536, 65536, 0, 0, 0.0f, 1);
    EXPECT_EQ(LogLines().size(), 1u);
    EXPECT_TRUE(platform().Calls().empty());

    // So is one that wraps 64 bits, here to exactly 0.
    platform().Reset();
    output->CreateOutputBuffer(256, 4194304, 4194304, 0, 0, 0.0f, 1048576);
    EXPECT_EQ(LogLines(), std::vector<std::string>{
                              "CreateOutputBuffer() failed with error ring of more than "
                              "18446744073709551615 samples exceeds the limit of 2147483647 "
                              "samples"});
    EXPECT_TRUE(platform().Calls().empty());
}

TEST_F(AudioOutputTest, CreateThatReturnsTheInvalidHandleLeavesNoStream) {
    platform().SetNextHandle(kInvalidSoundHandle);
    OpenSmallStream();
    EXPECT_EQ(zvaudio::soundHandle, kInvalidSoundHandle);
    EXPECT_EQ(platform().CountCalls(FakeCall::StartSound), 0u);
    EXPECT_TRUE(LogLines().empty());
    Push(Ramp(0, 10));
    const auto stats = output->GetStats();
    EXPECT_EQ(stats.samplesQueued, 0u);
    EXPECT_EQ(stats.samplesWithoutStream, 10u);
}

// Each failing call gives exactly one log line in the standard format, and
// the rest of the operation goes on as far as it sensibly can.
TEST_F(AudioOutputTest, EveryFailingCallIsLoggedOnceAndSwallowed) {
    struct Case {
        FakeCall call;
        std::vector<FakeCall> expectedCalls; // after a first stream is open
        bool streamAfter;
    };
    const std::vector<Case> cases = {
        {FakeCall::GetBufferedOutputDefaults,
         {FakeCall::GetBufferedOutputDefaults, FakeCall::StopSound, FakeCall::DestroySound},
         false},
        {FakeCall::CreateSoundWithBufferedOutput,
         {FakeCall::GetBufferedOutputDefaults, FakeCall::StopSound, FakeCall::DestroySound,
          FakeCall::CreateSoundWithBufferedOutput},
         false},
        {FakeCall::StartSound,
         {FakeCall::GetBufferedOutputDefaults, FakeCall::StopSound, FakeCall::DestroySound,
          FakeCall::CreateSoundWithBufferedOutput, FakeCall::StartSound},
         true},
        {FakeCall::StopSound,
         {FakeCall::GetBufferedOutputDefaults, FakeCall::StopSound, FakeCall::DestroySound,
          FakeCall::CreateSoundWithBufferedOutput, FakeCall::StartSound},
         true},
        {FakeCall::DestroySound,
         {FakeCall::GetBufferedOutputDefaults, FakeCall::StopSound, FakeCall::DestroySound,
          FakeCall::CreateSoundWithBufferedOutput, FakeCall::StartSound},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(zvtest::FakeCallName(c.call));
        OpenSmallStream();
        platform().Reset();
        platform().ScriptResults(c.call, {kFailure});
        OpenSmallStream();
        EXPECT_EQ(platform().CallKinds(), c.expectedCalls);
        EXPECT_EQ(LogLines(), std::vector<std::string>{FailureLine(zvtest::FakeCallName(c.call))});
        EXPECT_EQ(platform().Logs()[0].level, 1);
        EXPECT_EQ(zvaudio::soundHandle != kInvalidSoundHandle, c.streamAfter);

        // With a stream in place, even an unstarted one, blocks are queued.
        Push(Ramp(1, 4));
        EXPECT_EQ(output->GetStats().queuedSamples, c.streamAfter ? 4u : 0u);
        output->ReleaseSound();
    }
}

TEST_F(AudioOutputTest, ReleaseWithoutAStreamMakesNoCall) {
    output->ReleaseSound();
    EXPECT_TRUE(platform().Calls().empty());
}

TEST_F(AudioOutputTest, RequestFillsFromTheRingAndPadsWithSilence) {
    OpenSmallStream();
    platform().SetBufferBytes(512);
    Push(Ramp(1, 100));
    platform().RaiseRequest(zvaudio::soundHandle);

    const auto buffers = platform().ReleasedBuffers();
    ASSERT_EQ(buffers.size(), 1u);
    ASSERT_EQ(buffers[0].size(), 256u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(buffers[0][static_cast<size_t>(i)], i + 1);
    }
    for (size_t i = 100; i < 256; ++i) {
        EXPECT_EQ(buffers[0][i], 0) << "sample " << i;
    }
    const auto stats = output->GetStats();
    EXPECT_EQ(stats.queuedSamples, 0u);
    EXPECT_EQ(stats.samplesDelivered, 100u);
    EXPECT_EQ(stats.silenceSamples, 156u);
    EXPECT_EQ(stats.buffersFilled, 1u);
    ExpectInvariant(stats);
}

TEST_F(AudioOutputTest, RequestDeliversTheOldestSamplesAndKeepsTheRest) {
    OpenSmallStream();
    platform().SetBufferBytes(512);
    Push(Ramp(1, 500));
    Push(Ramp(501, 400)); // 900 pushed into a ring of 600: the oldest 300 are lost
    platform().RaiseRequest(zvaudio::soundHandle);
    const auto buffers = platform().ReleasedBuffers();
    ASSERT_EQ(buffers.size(), 1u);
    EXPECT_EQ(buffers[0].front(), 301);
    EXPECT_EQ(buffers[0].back(), 556);
    const auto stats = output->GetStats();
    EXPECT_EQ(stats.queuedSamples, 344u);
    EXPECT_EQ(stats.samplesDropped, 300u);
    ExpectInvariant(stats);
}

TEST_F(AudioOutputTest, OddBufferSizeLeavesTheLastByteAlone) {
    OpenSmallStream();
    platform().SetBufferBytes(7); // three samples and one spare byte
    Push(Ramp(1, 10));
    platform().RaiseRequest(zvaudio::soundHandle);
    const auto buffers = platform().ReleasedBuffers();
    ASSERT_EQ(buffers.size(), 1u);
    EXPECT_EQ(buffers[0][0], 1);
    EXPECT_EQ(buffers[0][2], 3);
    EXPECT_EQ(buffers[0][3], zvtest::FakePlatform::kUnwrittenSample);
    EXPECT_EQ(output->GetStats().queuedSamples, 7u);
}

TEST_F(AudioOutputTest, RequestOnAnEmptyRingIsAnsweredByTheNextBlock) {
    OpenSmallStream();
    platform().RaiseRequest(zvaudio::soundHandle);
    EXPECT_EQ(platform().CountCalls(FakeCall::GetOutputBuffer), 0u);
    EXPECT_EQ(output->GetStats().requestsDeferred, 1u);

    Push(Ramp(1, 10));
    EXPECT_EQ(platform().ReleasedBuffers().size(), 1u);
    EXPECT_EQ(platform().ReleasedBuffers()[0][9], 10);

    // The request was served: the next block only queues.
    Push(Ramp(1, 10));
    EXPECT_EQ(platform().CountCalls(FakeCall::GetOutputBuffer), 1u);
    EXPECT_EQ(output->GetStats().queuedSamples, 10u);
}

TEST_F(AudioOutputTest, PendingRequestSurvivesABusyPlatformUntilABlockGetsABuffer) {
    OpenSmallStream();
    platform().RaiseRequest(zvaudio::soundHandle);
    platform().ScriptResults(FakeCall::GetOutputBuffer, {kResultBufferNotReady});
    Push(Ramp(1, 10));
    EXPECT_EQ(platform().ReleasedBuffers().size(), 0u);
    EXPECT_EQ(output->GetStats().queuedSamples, 10u);
    EXPECT_EQ(LogLines(), std::vector<std::string>{
                              "ZVAudioGetOutputBuffer() failed with error BUFFER_NOT_READY"});

    Push(Ramp(11, 10));
    ASSERT_EQ(platform().ReleasedBuffers().size(), 1u);
    EXPECT_EQ(platform().ReleasedBuffers()[0][19], 20);
    EXPECT_EQ(platform().CountCalls(FakeCall::ReleaseOutputBuffer), 1u);
}

TEST_F(AudioOutputTest, BusyPlatformOnTheRequestPathDropsThatRequest) {
    OpenSmallStream();
    Push(Ramp(1, 10));
    platform().ScriptResults(FakeCall::GetOutputBuffer, {kResultBufferNotReady});
    platform().RaiseRequest(zvaudio::soundHandle);
    EXPECT_EQ(output->GetStats().queuedSamples, 10u);
    EXPECT_EQ(platform().CountCalls(FakeCall::ReleaseOutputBuffer), 0u);
    // Nothing stays pending: the next block does not fetch.
    Push(Ramp(11, 10));
    EXPECT_EQ(platform().CountCalls(FakeCall::GetOutputBuffer), 1u);
}

TEST_F(AudioOutputTest, SecondRequestWithSamplesQueuedClearsThePendingFlagAndFills) {
    OpenSmallStream();
    platform().RaiseRequest(zvaudio::soundHandle); // pending
    platform().ScriptResults(FakeCall::GetOutputBuffer, {kResultBufferNotReady});
    Push(Ramp(1, 10));                             // still pending
    platform().RaiseRequest(zvaudio::soundHandle); // fills and clears
    EXPECT_EQ(platform().ReleasedBuffers().size(), 1u);
    Push(Ramp(11, 10));
    EXPECT_EQ(platform().CountCalls(FakeCall::GetOutputBuffer), 2u);
}

TEST_F(AudioOutputTest, FailedFetchTakesNothingAndWritesNothingThroughTheDescriptor) {
    OpenSmallStream();
    Push(Ramp(1, 10));
    platform().SetScribbleOnFailedFetch(true);
    platform().ScriptResults(FakeCall::GetOutputBuffer, {kFailure});
    platform().RaiseRequest(zvaudio::soundHandle);
    EXPECT_TRUE(platform().GuardBlockUntouched());
    EXPECT_EQ(platform().CountCalls(FakeCall::ReleaseOutputBuffer), 0u);
    EXPECT_EQ(output->GetStats().queuedSamples, 10u);
    EXPECT_EQ(LogLines(), std::vector<std::string>{FailureLine("ZVAudioGetOutputBuffer")});

    // The queued samples wait for the next fill.
    platform().RaiseRequest(zvaudio::soundHandle);
    ASSERT_EQ(platform().ReleasedBuffers().size(), 1u);
    EXPECT_EQ(platform().ReleasedBuffers()[0][0], 1);
}

TEST_F(AudioOutputTest, FailedReleaseIsLoggedAndTheBufferStillCounts) {
    OpenSmallStream();
    Push(Ramp(1, 10));
    platform().ScriptResults(FakeCall::ReleaseOutputBuffer, {kFailure});
    platform().RaiseRequest(zvaudio::soundHandle);
    EXPECT_EQ(LogLines(), std::vector<std::string>{FailureLine("ZVAudioReleaseOutputBuffer")});
    EXPECT_EQ(output->GetStats().buffersFilled, 1u);
}

TEST_F(AudioOutputTest, PendingRequestCarriesOverToTheNextStream) {
    OpenSmallStream();
    platform().RaiseRequest(zvaudio::soundHandle);
    OpenSmallStream();
    Push(Ramp(1, 10));
    ASSERT_EQ(platform().ReleasedBuffers().size(), 1u);
    EXPECT_EQ(platform().Calls().back().handle, platform().LastCreatedHandle());
}

TEST_F(AudioOutputTest, BlocksAreConvertedWithSaturation) {
    OpenSmallStream();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    Push({1.0f, -1.0f, 0.001f, -0.001f, 0.0f, -0.0f, 2.0f, -2.0f, -3.0f, 1e10f, nan, inf, -inf});
    platform().SetBufferBytes(26);
    platform().RaiseRequest(zvaudio::soundHandle);
    ASSERT_EQ(platform().ReleasedBuffers().size(), 1u);
    EXPECT_EQ(platform().ReleasedBuffers()[0],
              (std::vector<int16_t>{32767, -32768, 32, -32, 0, 0, 32767, -32768, -32768, 32767, 0,
                                    0, 0}));
}

TEST_F(AudioOutputTest, StatisticsAccountForEverySample) {
    OpenSmallStream();
    Push(Ramp(1, 10)); // queued
    output->ReleaseSound();
    Push(Ramp(1, 7)); // no stream
    OpenSmallStream();
    Push(Ramp(1, 700)); // 100 overwritten
    platform().SetBufferBytes(512);
    platform().RaiseRequest(zvaudio::soundHandle);
    const auto stats = output->GetStats();
    EXPECT_EQ(stats.samplesQueued, 710u);
    EXPECT_EQ(stats.samplesDropped, 110u);
    EXPECT_EQ(stats.samplesDelivered, 256u);
    EXPECT_EQ(stats.queuedSamples, 344u);
    EXPECT_EQ(stats.samplesWithoutStream, 7u);
    ExpectInvariant(stats);
}

TEST_F(AudioOutputTest, CapacityZeroRingQueuesAndDropsEverything) {
    output->CreateOutputBuffer(256, 2, 0, 0, 0, 0.0f, 3);
    Push(Ramp(1, 10));
    platform().RaiseRequest(zvaudio::soundHandle);
    const auto stats = output->GetStats();
    EXPECT_EQ(stats.samplesQueued, 10u);
    EXPECT_EQ(stats.samplesDropped, 10u);
    EXPECT_EQ(stats.requestsDeferred, 1u);
    ExpectInvariant(stats);
}

TEST_F(AudioOutputTest, DestructionReleasesTheStream) {
    OpenSmallStream();
    const ZVSoundHandle handle = platform().LastCreatedHandle();
    platform().Reset();
    output.reset();
    const auto calls = platform().Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].call, FakeCall::StopSound);
    EXPECT_EQ(calls[0].handle, handle);
    EXPECT_EQ(calls[1].call, FakeCall::DestroySound);
}
