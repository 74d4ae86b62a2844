// A numbered signal pushed through the real plug-in library, loaded by path,
// into the simulated device with its clock running faster than real time.
// Whatever the timing, the device must play the signal bit-exactly and in
// order, and every sample that did not reach it must be counted.
#include "LoadedPluginFixture.h"
#include "NumberedSignal.h"
#include "PlaybackCapture.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

struct StreamShape {
    uint32_t channels;
    uint32_t sampleRate;
    uint32_t deviceFrames;
    uint32_t bufferSeconds;

    uint64_t RingCapacity() const { return uint64_t{channels} * sampleRate * bufferSeconds; }
    uint32_t BufferSamples() const { return deviceFrames * channels; }
};

// What a played stream holds, read against the numbered signal.
struct PlaybackAccount {
    uint64_t signalSamples = 0; // non-zero samples, each a pushed one
    uint64_t silence = 0;       // zeros: padding
    uint64_t skipped = 0;       // pushed samples jumped over before the last one played
    uint64_t next = 0;          // index after the last one played
    std::string problem;        // first sample out of order, repeated or never pushed
};

PlaybackAccount Account(const std::vector<int16_t>& played, uint64_t pushed) {
    PlaybackAccount account;
    for (std::size_t position = 0; position < played.size(); ++position) {
        const int16_t value = played[position];
        if (value == 0) {
            ++account.silence;
            continue;
        }
        const uint64_t index = NumberedSignal::Code(value);
        if (account.problem.empty() && (index < account.next || index >= pushed)) {
            account.problem = "played sample " + std::to_string(position) + " carries index " +
                              std::to_string(index) + ", expected one from " +
                              std::to_string(account.next) + " to " + std::to_string(pushed - 1);
        }
        if (index >= account.next) {
            account.skipped += index - account.next;
            account.next = index + 1;
        }
        ++account.signalSamples;
    }
    return account;
}

class EndToEndTest : public LoadedPluginFixture {
protected:
    void Open(const StreamShape& streamShape) {
        shape = streamShape;
        ASSERT_TRUE(Api().createAudioOutput());
        ASSERT_TRUE(Api().createOutputBuffer(shape.deviceFrames, shape.channels, shape.sampleRate,
                                             0, 0, 0.0f, shape.bufferSeconds));
        ASSERT_EQ(Stats().ringCapacity, shape.RingCapacity());
    }

    // Pushes the next `count` samples of the signal as one host block.
    void Push(std::size_t count) {
        std::vector<float> block = NumberedSignal::Block(pushed, count);
        ASSERT_TRUE(Api().onUnityAudio(block.data(), static_cast<int32_t>(block.size())));
        pushed += count;
    }

    void Drain() {
        ASSERT_TRUE(WaitFor([this] { return Stats().queuedSamples == 0; }))
            << "the device stopped taking samples";
    }

    // Every sample the device played is padding or a pushed sample, in order;
    // every pushed sample is played, dropped or still queued, and the plug-in,
    // the device and the tap agree on each count.
    ZVAudioOutputStats ExpectEverySampleAccountedFor() {
        const ZVAudioOutputStats stats = Stats();
        const std::vector<int16_t> played = capture.Samples();
        const ZVSimDeviceStats device = DeviceStats();
        const PlaybackAccount account = Account(played, pushed);

        EXPECT_TRUE(account.problem.empty()) << account.problem;
        EXPECT_EQ(stats.samplesQueued, pushed);
        EXPECT_EQ(stats.samplesWithoutStream, 0u);
        EXPECT_EQ(account.signalSamples, stats.samplesDelivered);
        EXPECT_EQ(account.silence, stats.silenceSamples);
        EXPECT_EQ(account.skipped, stats.samplesDropped);
        // Overwriting takes the oldest samples, so what still waits is the newest.
        EXPECT_EQ(pushed - account.next, stats.queuedSamples);

        EXPECT_EQ(device.samplesPlayed, played.size());
        EXPECT_EQ(device.silentSamples, account.silence);
        EXPECT_EQ(device.buffersPlayed, stats.buffersFilled);
        EXPECT_EQ(played.size(), stats.buffersFilled * shape.BufferSamples());
        EXPECT_EQ(capture.Handles().size(), 1u);
        return stats;
    }

    PlaybackCapture capture;
    StreamShape shape{};
    uint64_t pushed = 0;
};

TEST_F(EndToEndTest, HostPacedLikeTheDeviceIsPlayedBitExactAndInOrder) {
    // The ring holds more than the whole signal, so nothing can be overwritten.
    Open({2, 48000, 1024, 2});
    const uint64_t total = NumberedSignal::kPeriod - 1; // whole stereo frames
    ASSERT_GE(shape.RingCapacity(), total);

    const std::size_t blockSamples = shape.BufferSamples();
    const std::chrono::duration<double> period(1024.0 / 48000.0 / kSpeed);
    const auto start = std::chrono::steady_clock::now();
    for (uint64_t block = 0; pushed < total; ++block) {
        std::this_thread::sleep_until(
            start +
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(period * block));
        Push(std::min<uint64_t>(blockSamples, total - pushed));
    }
    Drain();

    const ZVAudioOutputStats stats = ExpectEverySampleAccountedFor();
    EXPECT_EQ(stats.samplesDelivered, total);
    EXPECT_EQ(stats.samplesDropped, 0u);
}

TEST_F(EndToEndTest, HostOutrunningAStalledDeviceOverwritesTheOldestSamples) {
    Open({1, 8000, 256, 1});
    // Every fetch fails while the host pushes, so the device takes nothing and
    // the ring keeps only the newest capacity samples.
    ZVSimInjectFailure(kSimCallGetOutputBuffer, kResultBufferNotReady,
                       std::numeric_limits<uint32_t>::max());
    while (pushed < NumberedSignal::kPeriod) {
        Push(std::min<uint64_t>(1024, NumberedSignal::kPeriod - pushed));
    }
    const ZVAudioOutputStats stalled = Stats();
    EXPECT_EQ(stalled.samplesDelivered, 0u);
    EXPECT_EQ(stalled.queuedSamples, shape.RingCapacity());
    EXPECT_EQ(stalled.samplesDropped, pushed - shape.RingCapacity());

    ZVSimClearFailures();
    Drain();
    const ZVAudioOutputStats stats = ExpectEverySampleAccountedFor();
    EXPECT_EQ(stats.samplesDelivered, shape.RingCapacity());
    const std::vector<int16_t> played = capture.Samples();
    const auto first = std::find_if(played.begin(), played.end(), [](int16_t v) { return v != 0; });
    ASSERT_NE(first, played.end());
    EXPECT_EQ(NumberedSignal::Code(*first), pushed - shape.RingCapacity());
}

TEST_F(EndToEndTest, HostBurstingFasterThanTheDeviceLosesNothingUncounted) {
    // The whole signal in back-to-back blocks into a ring of an eighth of it,
    // while the device keeps pulling: overwrites and fills interleave.
    Open({1, 8000, 256, 1});
    while (pushed < NumberedSignal::kPeriod) {
        Push(std::min<uint64_t>(1024, NumberedSignal::kPeriod - pushed));
    }
    Drain();
    const ZVAudioOutputStats stats = ExpectEverySampleAccountedFor();
    EXPECT_EQ(stats.samplesDelivered + stats.samplesDropped, pushed);
}

TEST_F(EndToEndTest, HostSlowerThanTheDeviceIsPaddedWithSilence) {
    Open({1, 8000, 256, 1});
    constexpr uint64_t kBlocks = 150;
    constexpr std::size_t kBlockSamples = 100;
    for (uint64_t block = 0; block < kBlocks; ++block) {
        // Wait until the device has asked and found the ring empty; the block
        // then answers that request at once, short of a full buffer.
        const uint64_t deferred = block == 0 ? 0 : Stats().requestsDeferred;
        ASSERT_TRUE(WaitFor([&] { return Stats().requestsDeferred > deferred; }));
        Push(kBlockSamples);
        ASSERT_EQ(Stats().queuedSamples, 0u);
    }
    Drain();

    const ZVAudioOutputStats stats = ExpectEverySampleAccountedFor();
    EXPECT_EQ(stats.samplesDelivered, kBlocks * kBlockSamples);
    EXPECT_EQ(stats.samplesDropped, 0u);
    EXPECT_EQ(stats.buffersFilled, kBlocks);
    EXPECT_EQ(stats.silenceSamples, kBlocks * (shape.BufferSamples() - kBlockSamples));
    EXPECT_GE(stats.requestsDeferred, kBlocks);
}

} // namespace
