#include "ExportedOutputFixture.h"

#include "AudioOutput.h"

#include <string>

using zvtest::AllocationCounter;

namespace {

// Above every bookkeeping allocation of the fake and the log, below a ring of
// kRingSamples or a scratch buffer of kLargeBlock samples.
constexpr size_t kSmallAllocations = 64 * 1024;
constexpr int32_t kLargeBlock = 48000;

} // namespace

TEST_F(ExportedOutputTest, FailedRingAllocationClosesTheNewStreamAndLogsOnce) {
    ASSERT_TRUE(CreateAudioOutput());

    AllocationCounter::FailAbove(kSmallAllocations);
    EXPECT_TRUE(OpenStream());
    AllocationCounter::StopFailing();

    const ZVSoundHandle created = platform().LastCreatedHandle();
    ASSERT_NE(created, kInvalidSoundHandle);
    const std::vector<FakeCall> expected = {FakeCall::GetBufferedOutputDefaults,
                                            FakeCall::CreateSoundWithBufferedOutput,
                                            FakeCall::StopSound, FakeCall::DestroySound};
    EXPECT_EQ(platform().CallKinds(), expected) << "the stream is never started";
    for (const auto& record : platform().Calls()) {
        if (record.call == FakeCall::StopSound || record.call == FakeCall::DestroySound) {
            EXPECT_EQ(record.handle, created);
        }
    }
    EXPECT_EQ(zvaudio::soundHandle, kInvalidSoundHandle);
    EXPECT_EQ(Stats().ringCapacity, 0u);

    const auto logs = platform().Logs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].level, 1);
    const std::string prefix = "CreateOutputBuffer() failed with error ";
    EXPECT_EQ(logs[0].line.rfind(prefix, 0), 0u) << logs[0].line;
    EXPECT_GT(logs[0].line.size(), prefix.size()) << "the error has no text";

    // A block now finds no stream and is counted as such.
    std::vector<float> block = Block(kBlockSamples);
    EXPECT_TRUE(Push(block, kBlockSamples));
    EXPECT_EQ(Stats().samplesQueued, 0u);

    // The instance stays usable: the next attempt opens, sizes and starts a stream.
    platform().Reset();
    EXPECT_TRUE(OpenStream());
    const std::vector<FakeCall> reopened = {FakeCall::GetBufferedOutputDefaults,
                                            FakeCall::CreateSoundWithBufferedOutput,
                                            FakeCall::StartSound};
    EXPECT_EQ(platform().CallKinds(), reopened);
    EXPECT_EQ(zvaudio::soundHandle, platform().LastCreatedHandle());
    EXPECT_EQ(Stats().ringCapacity, kRingSamples);
    EXPECT_TRUE(Push(block, kBlockSamples));
    EXPECT_EQ(Stats().queuedSamples, uint64_t{kBlockSamples});
    EXPECT_TRUE(platform().Logs().empty());
}

TEST_F(ExportedOutputTest, FailedRingAllocationStillReleasesThePreviousStreamFirst) {
    ASSERT_TRUE(CreateAudioOutput());
    ASSERT_TRUE(OpenStream());
    const ZVSoundHandle previous = platform().LastCreatedHandle();
    platform().Reset();

    AllocationCounter::FailAbove(kSmallAllocations);
    EXPECT_TRUE(OpenStream());
    AllocationCounter::StopFailing();

    const ZVSoundHandle created = platform().LastCreatedHandle();
    const auto calls = platform().Calls();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[0].call, FakeCall::GetBufferedOutputDefaults);
    EXPECT_EQ(calls[1].call, FakeCall::StopSound);
    EXPECT_EQ(calls[1].handle, previous);
    EXPECT_EQ(calls[2].call, FakeCall::DestroySound);
    EXPECT_EQ(calls[2].handle, previous);
    EXPECT_EQ(calls[3].call, FakeCall::CreateSoundWithBufferedOutput);
    EXPECT_EQ(calls[4].call, FakeCall::StopSound);
    EXPECT_EQ(calls[4].handle, created);
    EXPECT_EQ(calls[5].call, FakeCall::DestroySound);
    EXPECT_EQ(calls[5].handle, created);
    EXPECT_EQ(zvaudio::soundHandle, kInvalidSoundHandle);
    EXPECT_EQ(platform().Logs().size(), 1u);
}

TEST_F(ExportedOutputTest, LatencyControlThatCannotBeAllocatedLeavesNoStreamOrTargetBehind) {
    // An 8-channel ring of 4000 samples fits under the limit; latency control's
    // resampler history for 8 channels (33 KB) does not.
    constexpr size_t kAboveSmallRing = 16 * 1024;
    const auto openSmall = [] { return CreateOutputBuffer(kBufferBytes, 8, 500, 0, 0, 0.0f, 1); };
    ASSERT_TRUE(CreateAudioOutput());
    ASSERT_TRUE(SetAudioOutputLatencyTarget(40));

    AllocationCounter::FailAbove(kAboveSmallRing);
    EXPECT_TRUE(openSmall());
    AllocationCounter::StopFailing();
    const std::vector<FakeCall> closed = {FakeCall::GetBufferedOutputDefaults,
                                          FakeCall::CreateSoundWithBufferedOutput,
                                          FakeCall::StopSound, FakeCall::DestroySound};
    EXPECT_EQ(platform().CallKinds(), closed) << "the new stream is closed, never started";
    EXPECT_EQ(zvaudio::soundHandle, kInvalidSoundHandle);
    EXPECT_EQ(platform().Logs().size(), 1u);

    // On a running stream a new target is taken in place, allocating nothing.
    platform().Reset();
    ASSERT_TRUE(openSmall());
    AllocationCounter::FailAbove(0);
    EXPECT_TRUE(SetAudioOutputLatencyTarget(80));
    AllocationCounter::StopFailing();
    ZVAudioOutputLatencyStats latency{};
    ASSERT_TRUE(GetAudioOutputLatencyStats(&latency));
    EXPECT_EQ(latency.targetMilliseconds, 80u);

    // Switching control on for a running stream that cannot get it leaves control off.
    ASSERT_TRUE(SetAudioOutputLatencyTarget(0));
    AllocationCounter::FailAbove(kAboveSmallRing);
    EXPECT_TRUE(SetAudioOutputLatencyTarget(80));
    AllocationCounter::StopFailing();
    ASSERT_TRUE(GetAudioOutputLatencyStats(&latency));
    EXPECT_EQ(latency.targetMilliseconds, 0u);
    EXPECT_EQ(latency.targetSamples, 0u);
    EXPECT_EQ(platform().Logs().size(), 1u);
}

TEST_F(ExportedOutputTest, FailedInstanceAllocationLeavesNoInstance) {
    AllocationCounter::FailAbove(sizeof(zvaudio::AudioOutput) - 1);
    EXPECT_FALSE(CreateAudioOutput());
    AllocationCounter::StopFailing();

    ZVAudioOutputStats stats{};
    EXPECT_FALSE(GetAudioOutputStats(&stats));
    EXPECT_FALSE(OpenStream());
    EXPECT_FALSE(DestroyAudioOutput());
    EXPECT_TRUE(platform().Calls().empty());

    EXPECT_TRUE(CreateAudioOutput()) << "a later attempt succeeds";
}

TEST_F(ExportedOutputTest, BlockWhoseScratchBufferCannotGrowIsDroppedQuietly) {
    ASSERT_TRUE(CreateAudioOutput());
    ASSERT_TRUE(OpenStream());
    const ZVSoundHandle handle = platform().LastCreatedHandle();
    std::vector<float> block = Block(kLargeBlock);
    ASSERT_TRUE(Push(block, kBlockSamples));
    // Left pending on the empty ring: a dropped block must not answer it.
    platform().RaiseRequest(handle);
    platform().RaiseRequest(handle);
    const ZVAudioOutputStats start = Stats();
    ASSERT_EQ(start.queuedSamples, 0u);
    const size_t fillsBefore = platform().CountCalls(FakeCall::GetOutputBuffer);

    AllocationCounter::FailAbove(kSmallAllocations);
    EXPECT_TRUE(Push(block, kLargeBlock));
    AllocationCounter::StopFailing();

    const ZVAudioOutputStats afterDrop = Stats();
    EXPECT_EQ(afterDrop.samplesQueued, start.samplesQueued);
    EXPECT_EQ(afterDrop.queuedSamples, 0u);
    EXPECT_EQ(platform().CountCalls(FakeCall::GetOutputBuffer), fillsBefore);
    EXPECT_EQ(zvaudio::soundHandle, handle);

    // The same block goes through once the heap recovers, and answers the request.
    EXPECT_TRUE(Push(block, kLargeBlock));
    const ZVAudioOutputStats end = Stats();
    EXPECT_EQ(end.samplesQueued - start.samplesQueued, uint64_t{kLargeBlock});
    EXPECT_EQ(end.buffersFilled - start.buffersFilled, 1u);
    EXPECT_EQ(end.queuedSamples, uint64_t{kLargeBlock} - kBufferBytes / 2);
}
