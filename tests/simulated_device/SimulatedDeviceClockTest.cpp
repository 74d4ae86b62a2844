// The simulated device with its clock running: requests, playback, stop and
// the threads that meet in the device.
#include "SimulatedDeviceFixture.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>

namespace {

class SimulatedDeviceClock : public SimulatedDeviceFixture {
protected:
    // Runs a stream for about `wall` of real time. Returns the device periods it
    // counted, and the periods the time held at `periodSeconds` up to the stop
    // request (`before`) and up to its return (`after`, when the clock surely
    // ended).
    struct ClockCount {
        double periods;
        double before;
        double after;
    };
    template <typename Client>
    ClockCount ClockPeriodsOver(Client& client, std::chrono::milliseconds wall,
                                double periodSeconds) {
        using Seconds = std::chrono::duration<double>;
        ZVSimResetDeviceStats();
        const ZVSoundHandle handle = Create(Client::OnRequest, &client);
        client.handle = handle;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(ZVAudioStartSound(handle), kResultOk);
        std::this_thread::sleep_for(wall);
        const Seconds before = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(CallWithin([handle] { return ZVAudioStopSound(handle); }), kResultOk);
        const Seconds after = std::chrono::steady_clock::now() - started;
        return {static_cast<double>(Stats().clockPeriods), before.count() / periodSeconds,
                after.count() / periodSeconds};
    }
};

// What a well-behaved client does on every request: fetch, fill, release.
struct FillingClient {
    std::atomic<uint32_t> requests{0};
    std::atomic<uint32_t> played{0};
    std::atomic<uint32_t> wrongHandle{0};
    std::atomic<ZVSoundHandle> handle{kInvalidSoundHandle};

    static void OnRequest(ZVSoundHandle requested, void* context) {
        auto& self = *static_cast<FillingClient*>(context);
        self.requests.fetch_add(1);
        if (requested != self.handle.load()) {
            self.wrongHandle.fetch_add(1);
            return;
        }
        AudioOutputBuffer buffer{};
        if (ZVAudioGetOutputBuffer(requested, &buffer) != kResultOk) {
            return;
        }
        // First half a constant, second half silence.
        auto* samples = static_cast<int16_t*>(buffer.data);
        const uint32_t count = buffer.size / 2;
        for (uint32_t i = 0; i < count; ++i) {
            samples[i] = i < count / 2 ? int16_t{1000} : int16_t{0};
        }
        if (ZVAudioReleaseOutputBuffer(requested) == kResultOk) {
            self.played.fetch_add(1);
        }
    }
};

TEST_F(SimulatedDeviceClock, RequestsArriveUntilStopAndFilledBuffersArePlayed) {
    FillingClient client;
    const ZVSoundHandle handle = Create(FillingClient::OnRequest, &client);
    client.handle = handle;
    EXPECT_EQ(client.requests.load(), 0u) << "no request before the start";
    ASSERT_EQ(ZVAudioStartSound(handle), kResultOk);
    ASSERT_TRUE(WaitFor([&] { return client.played.load() >= 20; }));
    ASSERT_EQ(CallWithin([handle] { return ZVAudioStopSound(handle); }), kResultOk);
    ASSERT_EQ(Destroy(handle), kResultOk);

    EXPECT_EQ(client.wrongHandle.load(), 0u);
    const ZVSimDeviceStats stats = Stats();
    EXPECT_EQ(stats.requestsIssued, client.requests.load());
    EXPECT_EQ(stats.buffersPlayed, client.played.load());
    EXPECT_EQ(stats.buffersFetched, client.played.load());
    EXPECT_EQ(stats.samplesPlayed, uint64_t{client.played.load()} * kSamples);
    EXPECT_EQ(stats.silentSamples, stats.samplesPlayed / 2);
    // One buffer per period: the client keeps up, so starved periods stay rare,
    // apart from periods a stall of the machine made the clock skip (they
    // raise no request and find nothing queued).
    const uint64_t skipped = stats.clockPeriods + 1 > stats.requestsIssued
                                 ? stats.clockPeriods + 1 - stats.requestsIssued
                                 : 0;
    EXPECT_LT(stats.starvedPeriods, stats.requestsIssued / 2 + 2 + skipped);
}

TEST_F(SimulatedDeviceClock, ClockFreesQueuedBuffersAndCountsStarvedPeriods) {
    const ZVSoundHandle handle = Create(IgnoreRequest, nullptr);
    AudioOutputBuffer buffer{};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(ZVAudioGetOutputBuffer(handle, &buffer), kResultOk);
        ASSERT_EQ(ZVAudioReleaseOutputBuffer(handle), kResultOk);
    }
    ASSERT_EQ(ZVAudioGetOutputBuffer(handle, &buffer), kResultBufferNotReady);
    ASSERT_EQ(ZVAudioStartSound(handle), kResultOk);
    EXPECT_TRUE(WaitFor([&] { return ZVAudioGetOutputBuffer(handle, &buffer) == kResultOk; }));
    EXPECT_EQ(ZVAudioReleaseOutputBuffer(handle), kResultOk);
    // Nobody fills on request, so the device soon runs dry.
    EXPECT_TRUE(WaitFor([] { return Stats().starvedPeriods >= 5; }));
}

TEST_F(SimulatedDeviceClock, SpeedFactorSetsTheRequestRate) {
    // 480 frames at 48 kHz is 10 ms; at speed 0.5 a request comes every 20 ms.
    ZVSimSetSpeedFactor(0.5);
    FillingClient client;
    const ZVSoundHandle handle = Create(FillingClient::OnRequest, &client);
    client.handle = handle;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(ZVAudioStartSound(handle), kResultOk);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(CallWithin([handle] { return ZVAudioStopSound(handle); }), kResultOk);
    const auto elapsed = std::chrono::steady_clock::now() - started;

    // The clock may fall behind on a busy machine but never runs ahead: one
    // request at the start and one per whole period after it.
    const auto periods = elapsed / std::chrono::milliseconds(20);
    EXPECT_LE(client.requests.load(), static_cast<uint32_t>(periods) + 1);
    EXPECT_GE(client.requests.load(), 2u);
}

// Fills like FillingClient but takes three device periods to do it.
struct StallingClient : FillingClient {
    static void OnRequest(ZVSoundHandle requested, void* context) {
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        FillingClient::OnRequest(requested, context);
    }
};

TEST_F(SimulatedDeviceClock, ClockKeepsTimeThroughSlowCallbacks) {
    // 480 frames at 48 kHz and speed 2: one period is 5 ms, each callback 15 ms.
    ZVSimSetSpeedFactor(2.0);
    StallingClient client;
    const ClockCount count = ClockPeriodsOver(client, std::chrono::milliseconds(400), 0.005);
    const double periods = count.periods;
    // Never ahead of the time that passed; behind only by the last stall, where
    // a clock that restarted after stalls would lose two thirds.
    EXPECT_LE(periods, count.after + 1);
    EXPECT_GE(periods, 0.6 * count.before);
    EXPECT_LT(client.requests.load(), periods / 2) << "missed periods raise no requests";
    EXPECT_GT(Stats().starvedPeriods, 0u);
}

TEST_F(SimulatedDeviceClock, StalledThreadAsksForNothingWhileItsClockRunsOn) {
    // 480 frames at 48 kHz and speed 2: one period is 5 ms, and a stall of 0.4 s of
    // device time holds the thread for 200 ms, taken at its next period.
    ZVSimSetSpeedFactor(2.0);
    ZVSimResetDeviceStats();
    FillingClient client;
    const ZVSoundHandle handle = Create(FillingClient::OnRequest, &client);
    client.handle = handle;
    ASSERT_EQ(ZVAudioStartSound(handle), kResultOk);
    ASSERT_TRUE(WaitFor([&client] { return client.requests.load() >= 5; }));
    ZVSimStallDevice(0.4);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const uint32_t stalled = client.requests.load();
    const uint64_t periodsBefore = Stats().clockPeriods;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(client.requests.load(), stalled) << "a stalled thread asks for nothing";
    EXPECT_TRUE(WaitFor([&client, stalled] { return client.requests.load() > stalled + 5; }))
        << "the requests resume after the stall";
    EXPECT_EQ(CallWithin([handle] { return ZVAudioStopSound(handle); }), kResultOk);
    // The periods of the stall are counted once it ends: three queued buffers
    // played, the rest starved.
    EXPECT_GE(Stats().clockPeriods, periodsBefore + 30);
    EXPECT_GE(Stats().starvedPeriods, 30u);
}

TEST_F(SimulatedDeviceClock, DriftScalesTheDeviceClock) {
    ZVSimSetSpeedFactor(2.0);
    for (const double ppm : {-400000.0, 400000.0}) {
        SCOPED_TRACE(ppm);
        ZVSimSetClockDriftPpm(ppm);
        FillingClient client;
        const ClockCount count =
            ClockPeriodsOver(client, std::chrono::milliseconds(300), 0.005 / (1.0 + ppm * 1e-6));
        EXPECT_LE(count.periods, count.after + 1);
        EXPECT_GE(count.periods, 0.6 * count.before);
    }
    ZVSimSetClockDriftPpm(0.0);
}

struct SlowClient {
    std::promise<void> entered;
    std::atomic<bool> firstCall{true};
    std::atomic<bool> inCallback{false};
    std::atomic<uint32_t> finished{0};
    std::atomic<uint32_t> requests{0};

    static void OnRequest(ZVSoundHandle, void* context) {
        auto& self = *static_cast<SlowClient*>(context);
        self.inCallback = true;
        self.requests.fetch_add(1);
        if (self.firstCall.exchange(false)) {
            self.entered.set_value();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        self.finished.fetch_add(1);
        self.inCallback = false;
    }
};

TEST_F(SimulatedDeviceClock, StopWaitsForTheCallbackInFlightAndEndsTheRequests) {
    SlowClient client;
    const ZVSoundHandle handle = Create(SlowClient::OnRequest, &client);
    ASSERT_EQ(ZVAudioStartSound(handle), kResultOk);
    ASSERT_EQ(client.entered.get_future().wait_for(kLimit), std::future_status::ready);

    ASSERT_EQ(CallWithin([handle] { return ZVAudioStopSound(handle); }), kResultOk);
    EXPECT_FALSE(client.inCallback.load()) << "stop returned while a callback was running";
    EXPECT_EQ(client.finished.load(), client.requests.load());
    const uint32_t requestsAtStop = client.requests.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(client.requests.load(), requestsAtStop) << "a request came after the stop";
}

struct SelfStoppingClient {
    std::promise<ZVResult> stopResult;
    std::promise<ZVResult> destroyResult;
    std::atomic<bool> done{false};

    static void OnRequest(ZVSoundHandle handle, void* context) {
        auto& self = *static_cast<SelfStoppingClient*>(context);
        if (!self.done.exchange(true)) {
            self.stopResult.set_value(ZVAudioStopSound(handle));
            self.destroyResult.set_value(ZVAudioDestroySound(handle));
        }
    }
};

TEST_F(SimulatedDeviceClock, StreamCannotStopOrDestroyItselfFromItsCallback) {
    SelfStoppingClient client;
    auto stopResult = client.stopResult.get_future();
    auto destroyResult = client.destroyResult.get_future();
    const ZVSoundHandle handle = Create(SelfStoppingClient::OnRequest, &client);
    ASSERT_EQ(ZVAudioStartSound(handle), kResultOk);
    ASSERT_EQ(stopResult.wait_for(kLimit), std::future_status::ready);
    ASSERT_EQ(destroyResult.wait_for(kLimit), std::future_status::ready);
    EXPECT_EQ(stopResult.get(), kSimResultInvalidState);
    EXPECT_EQ(destroyResult.get(), kSimResultInvalidState);
    EXPECT_EQ(Destroy(handle), kResultOk);
}

TEST_F(SimulatedDeviceClock, ConcurrentFetchersNeverHoldABufferAtTheSameTime) {
    ZVSimSetSpeedFactor(100.0);
    const ZVSoundHandle handle = Create(IgnoreRequest, nullptr);
    ASSERT_EQ(ZVAudioStartSound(handle), kResultOk);

    std::atomic<bool> lent{false};
    std::atomic<uint32_t> overlaps{0};
    std::atomic<uint32_t> releaseFailures{0};
    std::atomic<uint32_t> played{0};
    auto fetcher = [&](int16_t mark) {
        for (int i = 0; i < 2000 && played.load() < 200; ++i) {
            AudioOutputBuffer buffer{};
            if (ZVAudioGetOutputBuffer(handle, &buffer) != kResultOk) {
                std::this_thread::yield();
                continue;
            }
            if (lent.exchange(true)) {
                overlaps.fetch_add(1);
            }
            std::memset(buffer.data, 0, buffer.size);
            static_cast<int16_t*>(buffer.data)[0] = mark;
            lent = false;
            if (ZVAudioReleaseOutputBuffer(handle) != kResultOk) {
                releaseFailures.fetch_add(1);
            }
            played.fetch_add(1);
        }
    };
    auto done = std::async(std::launch::async, [&] {
        std::thread a(fetcher, int16_t{1});
        std::thread b(fetcher, int16_t{2});
        std::thread c(fetcher, int16_t{3});
        a.join();
        b.join();
        c.join();
    });
    ASSERT_EQ(done.wait_for(kLimit), std::future_status::ready);
    EXPECT_EQ(overlaps.load(), 0u);
    EXPECT_EQ(releaseFailures.load(), 0u);
    EXPECT_GT(played.load(), 0u);
}

TEST_F(SimulatedDeviceClock, DestroyWhileAnotherThreadUsesTheStreamIsSafe) {
    ZVSimSetSpeedFactor(100.0);
    std::atomic<uint32_t> requests{0};
    const ZVSoundHandle handle =
        Create([](ZVSoundHandle,
                  void* context) { static_cast<std::atomic<uint32_t>*>(context)->fetch_add(1); },
               &requests);
    ASSERT_EQ(ZVAudioStartSound(handle), kResultOk);

    // The memory of a lent buffer goes with its stream, so this thread only
    // fetches and releases: the calls themselves must survive the destroy.
    std::atomic<bool> sawInvalidHandle{false};
    auto user = std::async(std::launch::async, [&] {
        while (!sawInvalidHandle.load()) {
            AudioOutputBuffer buffer{};
            ZVResult result = ZVAudioGetOutputBuffer(handle, &buffer);
            if (result == kResultOk) {
                result = ZVAudioReleaseOutputBuffer(handle);
            }
            if (result == kSimResultInvalidHandle) {
                sawInvalidHandle = true;
            }
        }
    });
    ASSERT_TRUE(WaitFor([] { return Stats().buffersPlayed >= 20; }));
    EXPECT_EQ(Destroy(handle), kResultOk);
    ASSERT_EQ(user.wait_for(kLimit), std::future_status::ready);
    EXPECT_TRUE(sawInvalidHandle.load());
    const uint32_t requestsAtDestroy = requests.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(requests.load(), requestsAtDestroy);
}

} // namespace
