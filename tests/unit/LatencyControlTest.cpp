// Latency control: the controller's loop on its own, and the instance with
// control off and on against the fake platform.
#include "AudioOutputFixture.h"
#include "LatencyController.h"
#include "VariableRateResampler.h"

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

// A stereo stream at 48 kHz with 1024-frame platform buffers and a 1 s ring.
class LatencyControlTest : public AudioOutputTest {
protected:
    static constexpr uint32_t kBlock = 2048;

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
    // An engine burst: half a second of blocks with no request between them,
    // far above the target, so whole frames are cut.
    for (int i = 0; i < 24; ++i) {
        Push(Block());
    }
    for (int i = 0; i < 40; ++i) {
        Request();
        Push(Block());
    }
    for (int i = 0; i < 60; ++i) {
        Request();
    }

    const ZVAudioOutputLatencyStats latency = output->GetLatencyStats();
    EXPECT_EQ(latency.targetSamples, 3840u);
    EXPECT_GT(latency.samplesInserted, 0u);
    EXPECT_GT(latency.samplesRemoved, 0u);
    EXPECT_EQ(latency.samplesInserted % 2, 0u);
    EXPECT_EQ(latency.samplesRemoved % 2, 0u);
    EXPECT_EQ(latency.hostSamples, 65u * kBlock);
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

TEST_F(LatencyControlTest, TargetBeyondTheRingIsLimitedToIt) {
    output->SetLatencyTarget(5000);
    Open();
    EXPECT_EQ(output->GetLatencyStats().targetSamples, 96000u);
    output->SetLatencyTarget(25);
    EXPECT_EQ(output->GetLatencyStats().targetSamples, 2400u);
    output->ReleaseSound();
    EXPECT_EQ(output->GetLatencyStats().targetSamples, 0u);
    EXPECT_EQ(output->GetLatencyStats().targetMilliseconds, 25u);
}

} // namespace
