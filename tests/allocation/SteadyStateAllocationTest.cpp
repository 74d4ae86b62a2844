#include "ExportedOutputFixture.h"

#include "AudioOutput.h"
#include "latency/SteeringClock.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <new>
#include <thread>

using zvtest::AllocationCounter;

namespace {

// Stores escape through here, so that the compiler cannot drop an allocation
// whose result is never used.
void* volatile sink = nullptr;

constexpr int kIterations = 4000;

// Virtual time for latency control, one platform period (1024 frames at 48 kHz) a step,
// so that the loop's cadence is the one it describes however fast the machine runs it.
double virtualSeconds = 0.0;
double VirtualSeconds() {
    return virtualSeconds;
}
constexpr double kPeriodSeconds = 1024.0 / 48000.0;

} // namespace

TEST(AllocationCounterTest, CountsEveryEntryPointOnEveryThread) {
    uint64_t before = AllocationCounter::Count();
    {
        auto single = std::make_unique<int>(1);
        sink = single.get();
        auto array = std::make_unique<int[]>(16);
        sink = array.get();
        struct alignas(64) Wide {
            char bytes[64];
        };
        auto wide = std::make_unique<Wide>();
        sink = wide.get();
        std::unique_ptr<int> quiet(new (std::nothrow) int(2));
        sink = quiet.get();
    }
    EXPECT_EQ(AllocationCounter::Count() - before, 4u) << "new, new[], aligned new, nothrow new";

    before = AllocationCounter::Count();
    void* block = std::malloc(32);
    sink = block;
    block = std::realloc(block, 4096);
    sink = block;
    std::free(block);
    block = std::calloc(4, 8);
    sink = block;
    std::free(block);
    block = std::aligned_alloc(64, 128);
    sink = block;
    std::free(block);
    EXPECT_EQ(AllocationCounter::Count() - before, 4u) << "malloc, realloc, calloc, aligned_alloc";

    // The thread is started before the checkpoint: only its own request counts.
    std::atomic<bool> go{false};
    auto worker = std::async(std::launch::async, [&go] {
        while (!go.load()) {
            std::this_thread::yield();
        }
        auto value = std::make_unique<long>(3);
        sink = value.get();
    });
    before = AllocationCounter::Count();
    go = true;
    ASSERT_EQ(worker.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(AllocationCounter::Count() - before, 1u) << "another thread's request";
    worker.get();
}

TEST(AllocationCounterTest, ArmedFailureRefusesOnlyLargerRequests) {
    AllocationCounter::FailAbove(1024);
    std::unique_ptr<char[]> small;
    EXPECT_NO_THROW(small = std::make_unique<char[]>(1024));
    EXPECT_THROW(sink = std::make_unique<char[]>(1025).get(), std::bad_alloc);
    EXPECT_EQ(new (std::nothrow) char[2048], nullptr);
    AllocationCounter::StopFailing();
    EXPECT_NO_THROW(sink = std::make_unique<char[]>(1 << 20).get());
}

// After the first block has grown the scratch buffer and the platform has lent
// its first buffer, neither the intake nor the request path may touch the heap:
// both run on audio threads. That holds on through changes of the latency
// target and a re-open of the stream: those are host calls and may allocate,
// but what the audio paths need afterwards is sized from the largest block
// already seen.
TEST_F(ExportedOutputTest, IntakeAndRequestsOnOneThreadAllocateNothing) {
    // Targets set on the running stream after the steady loop, switching
    // control off and on again on the way.
    constexpr uint32_t kChanges[] = {60, 20, 0, 40};
    // Latency control off and on: on, the loop also runs the resampler, the
    // lead-in after each empty ring and the cut after each burst.
    for (const uint32_t target : {0u, 40u}) {
        SCOPED_TRACE(target);
        ASSERT_TRUE(CreateAudioOutput());
        ASSERT_TRUE(SetAudioOutputLatencyTarget(target));
        ASSERT_TRUE(OpenStream());
        ZVSoundHandle handle = platform().LastCreatedHandle();
        std::vector<float> block = Block(kBlockSamples);
        virtualSeconds = 0.0;
        zvaudio::SteeringClock::SetSource(&VirtualSeconds);
        const auto run = [&handle, &block](int iterations, bool bursts) {
            for (int i = 0; i < iterations; ++i) {
                virtualSeconds += kPeriodSeconds;
                // Smaller blocks reuse the scratch buffer too.
                Push(block, i % 3 == 0 ? kBlockSamples / 2 : kBlockSamples);
                platform().RaiseRequest(handle);
                if (i % 3 == 1) {
                    platform().RaiseRequest(handle); // often finds the ring empty
                }
                ZVAudioOutputStats stats{};
                GetAudioOutputStats(&stats);
                ZVAudioOutputLatencyStats latency{};
                GetAudioOutputLatencyStats(&latency);
                if (bursts && i % 500 == 0) {
                    // An engine hitch: the ring run dry, then every block owed at once,
                    // far above the target.
                    for (int request = 0; request < 30; ++request) {
                        virtualSeconds += kPeriodSeconds;
                        platform().RaiseRequest(handle);
                    }
                    for (int burst = 0; burst < 30; ++burst) {
                        Push(block, kBlockSamples);
                    }
                }
            }
        };

        // The first block grows the scratch buffer: the counter sees it.
        uint64_t before = AllocationCounter::Count();
        ASSERT_TRUE(Push(block, kBlockSamples));
        EXPECT_GT(AllocationCounter::Count() - before, 0u) << "the counter misses the first block";

        // Warm both request paths once: a fill from the ring, and a request left
        // pending on an empty ring that the next block answers.
        platform().RaiseRequest(handle);
        platform().RaiseRequest(handle);
        ASSERT_TRUE(Push(block, kBlockSamples));
        platform().SetQuiet(true);
        const ZVAudioOutputStats start = Stats();
        ZVAudioOutputLatencyStats latencyStart{};
        ASSERT_TRUE(GetAudioOutputLatencyStats(&latencyStart));

        before = AllocationCounter::Count();
        run(kIterations, target != 0);
        EXPECT_EQ(AllocationCounter::Count() - before, 0u);

        // The loop really went through the fill, the deferral and the intake's fill.
        const ZVAudioOutputStats end = Stats();
        EXPECT_GE(end.buffersFilled - start.buffersFilled, uint64_t{kIterations});
        EXPECT_GT(end.requestsDeferred - start.requestsDeferred, 0u);
        EXPECT_GT(end.samplesDelivered - start.samplesDelivered, 0u);
        EXPECT_TRUE(platform().Logs().empty());
        if (target != 0) {
            ZVAudioOutputLatencyStats latencyEnd{};
            ASSERT_TRUE(GetAudioOutputLatencyStats(&latencyEnd));
            EXPECT_GT(latencyEnd.samplesInserted, latencyStart.samplesInserted);
            EXPECT_GT(latencyEnd.samplesRemoved, latencyStart.samplesRemoved);
        }

        for (const uint32_t change : kChanges) {
            SCOPED_TRACE(testing::Message() << "after a change of target to " << change << " ms");
            ASSERT_TRUE(SetAudioOutputLatencyTarget(change));
            before = AllocationCounter::Count();
            run(kIterations / 8, change != 0);
            EXPECT_EQ(AllocationCounter::Count() - before, 0u);
        }

        // Re-opened with control on: the new stream's first blocks are no
        // larger than those seen before.
        platform().SetQuiet(false);
        ASSERT_TRUE(OpenStream());
        handle = platform().LastCreatedHandle();
        platform().SetQuiet(true);
        before = AllocationCounter::Count();
        run(kIterations / 8, true);
        EXPECT_EQ(AllocationCounter::Count() - before, 0u) << "after a re-open";
        const ZVAudioOutputStats reopened = Stats();
        EXPECT_GT(reopened.samplesDelivered, end.samplesDelivered) << "the new stream did not play";
        EXPECT_TRUE(platform().Logs().empty());

        ASSERT_TRUE(DestroyAudioOutput());
        zvaudio::SteeringClock::SetSource(nullptr);
        platform().Reset();
        platform().SetBufferBytes(kBufferBytes);
    }
}

TEST_F(ExportedOutputTest, RequestsFromAnotherThreadDuringIntakeAllocateNothing) {
    ASSERT_TRUE(CreateAudioOutput());
    ASSERT_TRUE(OpenStream());
    const ZVSoundHandle handle = platform().LastCreatedHandle();
    std::vector<float> block = Block(kBlockSamples);
    ASSERT_TRUE(Push(block, kBlockSamples));
    platform().RaiseRequest(handle);
    platform().RaiseRequest(handle);
    ASSERT_TRUE(Push(block, kBlockSamples));
    platform().SetQuiet(true);
    const ZVAudioOutputStats start = Stats();

    // The platform's thread exists before the checkpoint and waits for it.
    std::atomic<bool> go{false};
    auto platformThread = std::async(std::launch::async, [&go, handle] {
        while (!go.load()) {
            std::this_thread::yield();
        }
        for (int i = 0; i < kIterations; ++i) {
            zvtest::FakePlatform::Instance().RaiseRequest(handle);
        }
    });

    const uint64_t before = AllocationCounter::Count();
    go = true;
    for (int i = 0; i < kIterations; ++i) {
        Push(block, kBlockSamples);
    }
    ASSERT_EQ(platformThread.wait_for(std::chrono::seconds(60)), std::future_status::ready)
        << "the request thread is stuck";
    const uint64_t allocations = AllocationCounter::Count() - before;
    platformThread.get();
    EXPECT_EQ(allocations, 0u);

    const ZVAudioOutputStats end = Stats();
    EXPECT_GT(end.buffersFilled - start.buffersFilled, 0u);
    EXPECT_EQ(end.samplesQueued - start.samplesQueued, uint64_t{kIterations} * kBlockSamples);
    EXPECT_TRUE(platform().Logs().empty());
}

// Nothing on the audio paths needs the heap once warmed up, so they keep
// working even when every allocation would fail.
TEST_F(ExportedOutputTest, WarmedUpPathsWorkWhileEveryAllocationFails) {
    ASSERT_TRUE(CreateAudioOutput());
    ASSERT_TRUE(OpenStream());
    const ZVSoundHandle handle = platform().LastCreatedHandle();
    std::vector<float> block = Block(kBlockSamples);
    ASSERT_TRUE(Push(block, kBlockSamples));
    platform().RaiseRequest(handle);
    platform().SetQuiet(true);
    const ZVAudioOutputStats start = Stats();

    AllocationCounter::FailAbove(0);
    EXPECT_TRUE(Push(block, kBlockSamples));
    platform().RaiseRequest(handle);
    AllocationCounter::StopFailing();

    const ZVAudioOutputStats end = Stats();
    EXPECT_EQ(end.samplesQueued - start.samplesQueued, uint64_t{kBlockSamples});
    EXPECT_EQ(end.buffersFilled - start.buffersFilled, 1u);
    EXPECT_EQ(zvaudio::soundHandle, handle);
}
