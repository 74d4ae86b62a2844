// Latency control: the controller's loop on its own, and the instance with
// control off and on against the fake platform.
#include "AudioOutputFixture.h"
#include "latency/CadenceClock.h"
#include "latency/CadenceNeed.h"
#include "latency/LatencyController.h"
#include "latency/SteeringClock.h"
#include "latency/VariableRateResampler.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

constexpr double kBlockSeconds = 1024.0 / 48000.0;

// The ring integrates the rate mismatch: depth' = correction - drift.
struct LoopResult {
    double errorSeconds;
    double correction;
    double largestCorrection;
};

LoopResult RunLoop(double drift, double startErrorSeconds, double seconds) {
    zvaudio::LatencyController controller(zvaudio::VariableRateResampler::kMaxDeviation);
    double error = startErrorSeconds;
    double largest = 0.0;
    for (double t = 0.0; t < seconds; t += kBlockSeconds) {
        const double correction = controller.Update(error, kBlockSeconds);
        largest = std::max(largest, std::fabs(correction));
        error += (correction - drift) * kBlockSeconds;
    }
    return {error, controller.Correction(), largest};
}

TEST(LatencyControllerTest, LearnsTheDriftAndSettlesOnTheTarget) {
    struct Case {
        double drift;
        double startErrorSeconds;
    };
    for (const Case& c : {Case{300e-6, 0.0}, Case{-300e-6, 0.0}, Case{100e-6, 0.010},
                          Case{-900e-6, -0.005}, Case{0.0, 0.020}}) {
        SCOPED_TRACE(c.drift * 1e6);
        const LoopResult result = RunLoop(c.drift, c.startErrorSeconds, 120.0);
        EXPECT_LT(std::fabs(result.errorSeconds), 0.0001);
        EXPECT_NEAR(result.correction, c.drift, 1e-6);
        EXPECT_LE(result.largestCorrection, zvaudio::VariableRateResampler::kMaxDeviation);
    }
}

TEST(LatencyControllerTest, DriftBeyondTheBoundSaturatesWithoutWindingUp) {
    // A minute of a drift twice the bound: the error grows and the correction
    // saturates. Once the drift is back in range the loop recovers as fast as
    // the bound allows; an integral wound up over that minute would hold the
    // correction at the wrong end for minutes more.
    const LoopResult stuck = RunLoop(2000e-6, 0.0, 60.0);
    EXPECT_DOUBLE_EQ(stuck.correction, zvaudio::VariableRateResampler::kMaxDeviation);
    zvaudio::LatencyController controller(zvaudio::VariableRateResampler::kMaxDeviation);
    double error = 0.0;
    for (double t = 0.0; t < 60.0; t += kBlockSeconds) {
        error += (controller.Update(error, kBlockSeconds) - 2000e-6) * kBlockSeconds;
    }
    double recovered = -1.0;
    for (double t = 0.0; t < 600.0 && recovered < 0.0; t += kBlockSeconds) {
        error += (controller.Update(error, kBlockSeconds) - 100e-6) * kBlockSeconds;
        if (std::fabs(error) < 0.0005 && std::fabs(controller.Correction() - 100e-6) < 20e-6) {
            recovered = t;
        }
    }
    // 60 ms of error removed at 900 ppm net takes about 67 s.
    EXPECT_GT(recovered, 0.0);
    EXPECT_LT(recovered, 150.0);
}

TEST(LatencyControllerTest, SlewLimitedRecoveryNeitherOvershootsNorStalls) {
    // A queue 30 ms short once the drift is learnt (a burst pattern that stopped), with the
    // correction slewed at 60 ppm/s and the depth seen through two 1 s smoothing stages, as
    // the steering does: back within 2 ms in 60 s, and never more than 1 ms past the target
    // (without the slew in the loop: 6.7 ms past it at -300 ppm, 4.4 ms off at the end).
    constexpr double kSlew = 60e-6;
    for (const double drift : {-300e-6, 300e-6}) {
        SCOPED_TRACE(drift * 1e6);
        // Planning to stop at half the slew leaves the other half to what the measurement
        // lags by.
        zvaudio::LatencyController controller(zvaudio::VariableRateResampler::kMaxDeviation,
                                              kSlew / 2.0);
        const double weight = 1.0 - std::exp(-kBlockSeconds);
        double error = 0.0;
        double first = 0.0;
        double seen = 0.0;
        double applied = 0.0;
        double overshoot = 0.0;
        for (double t = 0.0; t < 180.0; t += kBlockSeconds) {
            if (t < 120.0 && t + kBlockSeconds >= 120.0) {
                error -= 0.030;
            }
            const double wanted = controller.Update(seen, kBlockSeconds);
            const double step = kSlew * kBlockSeconds;
            applied = std::clamp(wanted, applied - step, applied + step);
            if (applied != wanted) {
                controller.Track(applied, seen);
            }
            error += (applied - drift) * kBlockSeconds;
            first += (error - first) * weight;
            seen += (first - seen) * weight;
            overshoot = t > 120.0 ? std::max(overshoot, error) : overshoot;
        }
        EXPECT_LT(std::fabs(error), 0.002);
        EXPECT_LT(overshoot, 0.001);
    }
}

TEST(CadenceClockTest, FollowsThePaceAndSmoothsLateEvents) {
    // Requests every 1024 frames at 48 kHz on a clock 300 ppm fast, each up to 1 ms late.
    const double period = 1024.0 / 48000.0 / (1.0 + 300e-6);
    zvaudio::CadenceClock clock(1.0 / 48000.0, 0.2);
    uint32_t state = 1;
    double worst = 0.0;
    for (int k = 0; k < 20000; ++k) {
        state = state * 1664525u + 1013904223u;
        const double lateness = 0.001 * static_cast<double>(state >> 8) / 16777216.0;
        clock.OnEvent(k * period + lateness, 1024.0);
        if (k > 5000) {
            // Against the mean lateness: what is left of a millisecond's jitter.
            worst = std::max(worst, std::fabs(clock.SmoothedTime() - (k * period + 0.0005)));
        }
    }
    EXPECT_NEAR(clock.Period(), period, period * 100e-6); // the drift learnt, not the nominal pace
    EXPECT_LT(worst, 0.0002);
}

TEST(CadenceNeedTest, HoldsWhatRecursAndForgetsOneEvent) {
    // Windows of 0.5 s with a need of 100 samples; one event of 1000 in a single window,
    // then, later, a pattern of 600 in every fourth window.
    constexpr double kWindow = 0.5;
    constexpr double kTolerance = 20.0;
    zvaudio::CadenceNeed need(96000.0, kTolerance);
    double now = 0.0;
    const auto window = [&](double level) {
        for (int i = 0; i < 4; ++i) {
            need.Observe(level, now, kWindow);
            now += kWindow / 4;
        }
    };
    for (int w = 0; w < 20; ++w) {
        window(100.0);
    }
    window(1000.0);
    EXPECT_EQ(need.Seen(), 1000.0); // met at once
    for (int w = 0; w < 3; ++w) {
        window(100.0);
    }
    EXPECT_EQ(need.Seen(), 100.0);
    EXPECT_LT(need.Held(), 100.0 + kTolerance); // one event is not a cadence
    for (int w = 0; w < 16; ++w) {
        window(w % 4 == 0 ? 600.0 : 100.0);
    }
    EXPECT_GE(need.Held(), 600.0 - kTolerance); // a pattern that recurs is
}

// Virtual time for latency control's measurements, so that a test sets the
// cadence of requests and blocks.
double virtualSeconds = 0.0;
double VirtualSeconds() {
    return virtualSeconds;
}

// A stereo stream at 48 kHz with 1024-frame platform buffers and a 1 s ring.
class LatencyControlTest : public AudioOutputTest {
protected:
    static constexpr uint32_t kBlock = 2048;
    static constexpr double kPeriod = 1024.0 / 48000.0;

    void SetUp() override {
        AudioOutputTest::SetUp();
        virtualSeconds = 0.0;
        zvaudio::SteeringClock::SetSource(&VirtualSeconds);
    }
    void TearDown() override {
        zvaudio::SteeringClock::SetSource(nullptr);
        AudioOutputTest::TearDown();
    }

    // The engine and the platform at the same pace, a block half a period after each
    // request.
    void RunSteadily(int periods) {
        for (int i = 0; i < periods; ++i) {
            virtualSeconds += kPeriod / 2;
            Request();
            virtualSeconds += kPeriod / 2;
            Push(Block());
        }
    }

    // The largest step between neighbouring frames of the left channel over every
    // buffer played, silence included.
    int LargestLeftStep() const {
        int largest = 0;
        int previous = 0;
        for (const auto& buffer : platform().ReleasedBuffers()) {
            for (size_t i = 0; i + 1 < buffer.size(); i += 2) {
                largest = std::max(largest, std::abs(buffer[i] - previous));
                previous = buffer[i];
            }
        }
        return largest;
    }

    void Open() {
        platform().SetBufferBytes(kBlock * 2);
        output->CreateOutputBuffer(1024, 2, 48000, 0, 0, 0.0f, 1);
    }

    // Left a slow sine, right minus half of it: a swapped or shifted channel
    // cannot pass for the other.
    std::vector<float> Block() {
        std::vector<float> block(kBlock);
        for (uint32_t i = 0; i < kBlock; i += 2) {
            const auto left = static_cast<float>(0.5 * std::sin(phase));
            block[i] = left;
            block[i + 1] = -left / 2;
            phase += 0.01;
        }
        return block;
    }

    void Request() { platform().RaiseRequest(zvaudio::soundHandle); }

    double phase = 0.0;
};

TEST_F(LatencyControlTest, TargetZeroLeavesOutputAndStatisticsAsWithoutControl) {
    // The same run twice: once never touching control, once switching it on
    // and off again before and during the stream.
    std::vector<std::vector<int16_t>> released[2];
    ZVAudioOutputStats stats[2];
    for (int run = 0; run < 2; ++run) {
        platform().Reset();
        output = std::make_unique<zvaudio::AudioOutput>();
        phase = 0.0;
        if (run == 1) {
            output->SetLatencyTarget(40);
            output->SetLatencyTarget(0);
        }
        Open();
        Request(); // deferred
        for (int i = 0; i < 20; ++i) {
            if (run == 1 && i == 5) {
                output->SetLatencyTarget(40);
                output->SetLatencyTarget(0);
            }
            Push(Block());
            Request();
        }
        released[run] = platform().ReleasedBuffers();
        stats[run] = output->GetStats();
        const ZVAudioOutputLatencyStats latency = output->GetLatencyStats();
        EXPECT_EQ(latency.targetMilliseconds, 0u);
        EXPECT_EQ(latency.targetSamples, 0u);
        EXPECT_EQ(latency.hostSamples, 0u);
        EXPECT_EQ(latency.ringSamples, 0u);
        EXPECT_EQ(latency.correctionPpm, 0.0);
    }
    EXPECT_EQ(released[0], released[1]);
    EXPECT_EQ(std::memcmp(&stats[0], &stats[1], sizeof stats[0]), 0);
    EXPECT_EQ(stats[0].samplesQueued, 20u * kBlock);
}

TEST_F(LatencyControlTest, FastPathsKeepFramesWholeAndTheCountsBalanced) {
    output->SetLatencyTarget(40);
    Open();
    Request(); // the ring is empty: the first block brings a lead-in of silence
    Push(Block());
    RunSteadily(500);
    // An engine hitch: half a second without blocks, the platform playing on into
    // silence, then every block owed at once, far above the target, so whole frames are
    // cut once the queue has shown it can spare them.
    for (int i = 0; i < 24; ++i) {
        virtualSeconds += kPeriod;
        Request();
    }
    for (int i = 0; i < 24; ++i) {
        Push(Block());
    }
    RunSteadily(1000);

    const ZVAudioOutputLatencyStats latency = output->GetLatencyStats();
    // A hitch is not a cadence: 21 s after it the target is the requested one again.
    EXPECT_EQ(latency.targetSamples, 3840u);
    EXPECT_GT(latency.samplesInserted, 0u);
    EXPECT_GT(latency.samplesRemoved, 0u);
    EXPECT_EQ(latency.samplesInserted % 2, 0u);
    EXPECT_EQ(latency.samplesRemoved % 2, 0u);
    EXPECT_EQ(latency.hostSamples, 1525u * kBlock);
    const ZVAudioOutputStats stats = output->GetStats();
    EXPECT_EQ(latency.ringSamples, stats.samplesQueued);
    ExpectInvariant(stats);
    // Setting the same target again leaves the loop where it is.
    ASSERT_NE(latency.correctionPpm, 0.0);
    output->SetLatencyTarget(40);
    EXPECT_EQ(output->GetLatencyStats().correctionPpm, latency.correctionPpm);

    // Every played frame still pairs a left sample with minus half of it.
    uint64_t frames = 0;
    for (const auto& buffer : platform().ReleasedBuffers()) {
        for (size_t i = 0; i + 1 < buffer.size(); i += 2) {
            EXPECT_LE(std::abs(buffer[i] + 2 * buffer[i + 1]), 3)
                << "frame " << frames << ": " << buffer[i] << ", " << buffer[i + 1];
            ++frames;
        }
    }
    EXPECT_EQ(frames * 2, stats.samplesDelivered + stats.silenceSamples);
}

TEST_F(LatencyControlTest, ChangesOfTargetKeepThePlayedSignalWhole) {
    // On, higher, lower, off, on again: the stream never stops and nothing it plays
    // jumps by more than the signal's own step and a crossfade, or falls silent. It
    // starts two blocks deep, so that switching on joins a stream that has not run dry
    // and whose queue can give the 14 frames the resampler's delay adds at once.
    Open();
    Request();
    Push(Block());
    Push(Block());
    Push(Block());
    RunSteadily(200);
    for (const uint32_t target : {40u, 41u, 200u, 60u, 0u, 40u}) {
        output->SetLatencyTarget(target);
        RunSteadily(1500);
        EXPECT_EQ(output->GetLatencyStats().targetMilliseconds, target);
    }
    const ZVAudioOutputStats stats = output->GetStats();
    EXPECT_EQ(output->GetLatencyStats().samplesInserted, 0u);
    EXPECT_EQ(stats.silenceSamples, 0u);
    ExpectInvariant(stats);
    // The left channel's own largest step is 0.5 x 0.01 x 32767 = 164; a crossfade over
    // 64 frames adds at most 2 x 0.5 x 32767 / 64 = 512.
    EXPECT_LE(LargestLeftStep(), 164 + 512 + 2);
    // Settled on the last target, which the cadence allows.
    EXPECT_EQ(output->GetLatencyStats().targetSamples, 3840u);
}

TEST_F(LatencyControlTest, RequestsOnAnotherThreadMeetTheSteeredIntake) {
    // For the thread sanitizer: the request path measures and marks underruns
    // while the intake resamples, cuts and tops up, and the target changes up,
    // down, to off and on again under the platform's requests.
    constexpr uint32_t kTargets[] = {60, 20, 0, 40};
    output->SetLatencyTarget(40);
    Open();
    std::atomic<bool> stop{false};
    std::thread platformThread([this, &stop] {
        while (!stop.load()) {
            Request();
            std::this_thread::yield();
        }
    });
    uint32_t target = 40;
    uint64_t unsteeredBlocks = 0;
    for (int i = 0; i < 3000; ++i) {
        Push(Block());
        unsteeredBlocks += target == 0 ? 1 : 0;
        if (i % 150 == 149) {
            target = kTargets[(i / 150) % 4];
            output->SetLatencyTarget(target);
        }
        if (i % 7 == 0) {
            output->GetLatencyStats();
        }
    }
    stop = true;
    platformThread.join();
    // Blocks taken in while control was off reach the ring as they are.
    const ZVAudioOutputLatencyStats latency = output->GetLatencyStats();
    EXPECT_GT(unsteeredBlocks, 0u);
    EXPECT_EQ(latency.hostSamples, (3000u - unsteeredBlocks) * kBlock);
    const ZVAudioOutputStats stats = output->GetStats();
    EXPECT_EQ(latency.ringSamples + unsteeredBlocks * kBlock, stats.samplesQueued);
    ExpectInvariant(stats);
}

TEST_F(LatencyControlTest, TargetLeavesRoomInTheRingAndRisesToWhatTheCadenceNeeds) {
    struct Case {
        uint32_t milliseconds;
        uint32_t minimum; // samples
        uint32_t maximum;
    };
    // 5 s on a 1 s ring: a host block and a platform buffer stay free (and what the blocks
    // write above the steered depth, a few frames more), so nothing queued
    // is overwritten. 1 ms: raised to a platform buffer and the margin (4 ms), within 1 ms.
    for (const Case c : {Case{5000, 96000 - 2 * 2048 - 16, 96000 - 2 * 2048}, Case{1, 2432, 2528},
                         Case{60, 5760, 5760}}) {
        SCOPED_TRACE(c.milliseconds);
        platform().Reset();
        output = std::make_unique<zvaudio::AudioOutput>();
        output->SetLatencyTarget(c.milliseconds);
        Open();
        Request();
        Push(Block());
        RunSteadily(1000); // settled
        const ZVAudioOutputStats settled = output->GetStats();
        const ZVAudioOutputLatencyStats settledLatency = output->GetLatencyStats();
        RunSteadily(2000);
        const ZVAudioOutputLatencyStats latency = output->GetLatencyStats();
        EXPECT_GE(latency.targetSamples, c.minimum);
        EXPECT_LE(latency.targetSamples, c.maximum);
        const ZVAudioOutputStats stats = output->GetStats();
        EXPECT_EQ(stats.samplesDropped, 0u);
        EXPECT_EQ(stats.silenceSamples, settled.silenceSamples);
        EXPECT_EQ(latency.samplesRemoved, settledLatency.samplesRemoved);
    }
    output->ReleaseSound();
    EXPECT_EQ(output->GetLatencyStats().targetSamples, 0u);
    EXPECT_EQ(output->GetLatencyStats().targetMilliseconds, 60u);
}

TEST_F(LatencyControlTest, LimitsSayWhenTheRingCannotHoldWhatTheCadenceNeeds) {
    // Mono 8 kHz, 4096-sample platform buffers and host blocks: a 1 s ring cannot keep a
    // block and a buffer free beside the depth the cadence needs; 2 s can, as reported.
    struct Case {
        uint32_t seconds;
        bool limited;
    };
    for (const Case c : {Case{1, true}, Case{2, false}}) {
        SCOPED_TRACE(c.seconds);
        platform().Reset();
        output = std::make_unique<zvaudio::AudioOutput>();
        EXPECT_EQ(output->GetLatencyLimits().neededSamples, 0u) << "no stream yet";
        output->SetLatencyTarget(40);
        platform().SetBufferBytes(4096 * 2);
        output->CreateOutputBuffer(4096, 1, 8000, 0, 0, 0.0f, c.seconds);
        const std::vector<float> block(4096, 0.25f);
        Request();
        for (int i = 0; i < 200; ++i) {
            virtualSeconds += 0.256;
            Push(block);
            virtualSeconds += 0.256;
            Request();
        }
        const ZVAudioOutputLatencyLimits limits = output->GetLatencyLimits();
        EXPECT_EQ(limits.recordSize, sizeof limits);
        EXPECT_EQ(limits.limitedByRing, c.limited ? 1u : 0u);
        EXPECT_GE(limits.neededSamples, 4096u + 32u) << "a buffer and the margin";
        EXPECT_EQ(limits.ringSamples, 8000u * c.seconds);
        EXPECT_NEAR(limits.neededMilliseconds, static_cast<double>(limits.neededSamples) / 8.0,
                    1e-9);
        EXPECT_NEAR(limits.limitMilliseconds, static_cast<double>(limits.limitSamples) / 8.0, 1e-9);
        EXPECT_EQ(limits.fittingRingSeconds, 2u);
        EXPECT_GT(limits.fittingRingSamples, 8000u);
        EXPECT_LE(limits.fittingRingSamples, 16000u);
        // The depth steered to stays within what the ring allows; a limited one may use
        // the platform buffer's room too, but never the room of the block written on top.
        const uint64_t target = output->GetLatencyStats().targetSamples;
        EXPECT_LE(target, c.limited ? limits.ringSamples - block.size() : limits.limitSamples);
    }
}

} // namespace
