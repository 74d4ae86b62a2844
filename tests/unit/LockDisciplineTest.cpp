#include "AudioOutputFixture.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace std::chrono_literals;
using zvtest::FakeCall;

namespace {

// Generous: a deadlock fails the test instead of hanging it.
constexpr auto kDeadlockTimeout = 10s;

} // namespace

// The platform waits for a callback in flight inside its stop and destroy
// calls; the plug-in must not hold streamMutex there, or both wait forever.
TEST_F(AudioOutputTest, CallbackFiredDuringStopOrDestroyCompletes) {
    for (const FakeCall call : {FakeCall::StopSound, FakeCall::DestroySound}) {
        SCOPED_TRACE(zvtest::FakeCallName(call));
        OpenSmallStream();
        const ZVSoundHandle handle = platform().LastCreatedHandle();
        std::atomic<bool> completed{false};
        platform().SetHook(call, [&] {
            auto request =
                std::async(std::launch::async, [handle] { platform().RaiseRequest(handle); });
            completed = request.wait_for(kDeadlockTimeout) == std::future_status::ready;
        });
        output->ReleaseSound();
        platform().SetHook(call, nullptr);
        EXPECT_TRUE(completed.load());
    }
}

// The start call is made with streamMutex held, so a request raised during it
// waits, then finds the new stream complete.
TEST_F(AudioOutputTest, CallbackFiredDuringStartWaitsAndFindsTheNewStream) {
    std::future<void> request;
    std::atomic<bool> blockedDuringStart{false};
    platform().SetHook(FakeCall::StartSound, [&] {
        const ZVSoundHandle handle = platform().LastCreatedHandle();
        request = std::async(std::launch::async, [handle] { platform().RaiseRequest(handle); });
        blockedDuringStart = request.wait_for(200ms) == std::future_status::timeout;
    });
    OpenSmallStream();
    platform().SetHook(FakeCall::StartSound, nullptr);
    ASSERT_TRUE(request.valid());
    ASSERT_EQ(request.wait_for(kDeadlockTimeout), std::future_status::ready);
    EXPECT_TRUE(blockedDuringStart.load());
    // It saw the new stream with its empty ring: the request is pending.
    EXPECT_EQ(output->GetStats().requestsDeferred, 1u);
    Push(Ramp(1, 8));
    EXPECT_EQ(platform().ReleasedBuffers().size(), 1u);
}

// Requests from the platform's thread and blocks from the host's thread run
// side by side; every pushed sample is accounted for afterwards.
TEST_F(AudioOutputTest, ConcurrentRequestsAndBlocksKeepTheCountsConsistent) {
    OpenSmallStream();
    const ZVSoundHandle handle = platform().LastCreatedHandle();
    std::atomic<bool> done{false};
    auto requester = std::async(std::launch::async, [&] {
        while (!done) {
            platform().RaiseRequest(handle);
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 2000; ++i) {
        Push(Ramp(i % 1000, 37));
        if (i % 100 == 0) {
            ExpectInvariant(output->GetStats());
        }
    }
    done = true;
    ASSERT_EQ(requester.wait_for(kDeadlockTimeout), std::future_status::ready);
    const auto stats = output->GetStats();
    EXPECT_EQ(stats.samplesQueued, 2000u * 37u);
    ExpectInvariant(stats);
}
