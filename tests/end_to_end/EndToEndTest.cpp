// A numbered signal pushed through the real plug-in library, loaded by path,
// into the simulated device with its clock running faster than real time.
// Whatever the timing, the device must play the signal bit-exactly and in
// order, and every sample that did not reach it must be counted. With latency
// control on, the signal reaches the device resampled: still in order, with
// nothing repeated, and every cut, insertion and drop counted.
#include "LoadedPluginFixture.h"
#include "NumberedSignal.h"
#include "PlaybackCapture.h"
#include "latency/LatencySteering.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

using zvaudio::LatencySteering;

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
    uint64_t repeats = 0;       // samples whose index did not advance
    uint64_t faded = 0;         // non-zero samples next to a zero run, left unchecked
    uint64_t zeroRuns = 0;      // runs of zeros with played audio before and after them
    std::string problem;        // first sample out of order, repeated or never pushed
};

// Resampled, the numbered signal (a ramp of one code per sample while it does not
// wrap) plays as values between neighbouring codes: truncated, a code may come
// twice or a step be skipped as the rate is stretched or squeezed, and a value
// next to zero may read as zero. Audio played again, even one stereo frame,
// steps back.
constexpr uint64_t kResampledSlack = 1;

// Marks the fadeSamples non-zero samples on either side of each run of zeros that has
// audio on both sides: latency control fades audio out into a gap it inserts and in
// after it, and a faded value names no index. The stream's first and last runs (lead-in,
// the drain's padding) are bounded by a single played edge and count only that edge.
std::vector<bool> FadedSamples(const std::vector<int16_t>& played, std::size_t fadeSamples,
                               PlaybackAccount& account) {
    std::vector<bool> faded(played.size(), false);
    if (fadeSamples == 0) {
        return faded;
    }
    std::size_t position = 0;
    while (position < played.size()) {
        if (played[position] != 0) {
            ++position;
            continue;
        }
        const std::size_t runStart = position;
        while (position < played.size() && played[position] == 0) {
            ++position;
        }
        if (position == played.size()) {
            break; // the last run: the audio before it played unfaded as the ring drained
        }
        ++account.zeroRuns;
        if (runStart > 0) {
            std::fill(faded.begin() +
                          static_cast<std::ptrdiff_t>(runStart - std::min(runStart, fadeSamples)),
                      faded.begin() + static_cast<std::ptrdiff_t>(runStart), true);
        }
        const std::size_t fadeInEnd = std::min(played.size(), position + fadeSamples);
        std::fill(faded.begin() + static_cast<std::ptrdiff_t>(position),
                  faded.begin() + static_cast<std::ptrdiff_t>(fadeInEnd), true);
    }
    return faded;
}

PlaybackAccount Account(const std::vector<int16_t>& played, uint64_t pushed, uint64_t slack = 0,
                        std::size_t fadeSamples = 0) {
    PlaybackAccount account;
    const std::vector<bool> faded = FadedSamples(played, fadeSamples, account);
    for (std::size_t position = 0; position < played.size(); ++position) {
        const int16_t value = played[position];
        if (value == 0) {
            ++account.silence;
            continue;
        }
        if (faded[position]) {
            ++account.faded;
            ++account.signalSamples;
            continue;
        }
        const uint64_t index = NumberedSignal::Code(value);
        if (index < account.next) {
            ++account.repeats;
        }
        if (account.problem.empty() && (index + slack < account.next || index >= pushed)) {
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
    void Open(const StreamShape& streamShape, uint32_t latencyTargetMs = 0) {
        shape = streamShape;
        ASSERT_TRUE(Api().createAudioOutput());
        ASSERT_TRUE(Api().setAudioOutputLatencyTarget(latencyTargetMs));
        latencyControl = latencyTargetMs != 0;
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
        const PlaybackAccount account =
            latencyControl
                ? Account(played, pushed, kResampledSlack,
                          std::size_t{LatencySteering::kCrossfadeFrames} * shape.channels)
                : Account(played, pushed);

        EXPECT_TRUE(account.problem.empty()) << account.problem;
        EXPECT_EQ(stats.samplesWithoutStream, 0u);
        if (latencyControl) {
            ExpectResampledPlaybackAccountedFor(stats, account);
        } else {
            EXPECT_EQ(stats.samplesQueued, pushed);
            EXPECT_EQ(account.signalSamples, stats.samplesDelivered);
            EXPECT_EQ(account.silence, stats.silenceSamples);
            EXPECT_EQ(account.skipped, stats.samplesDropped);
            // Overwriting takes the oldest samples, so what still waits is the newest.
            EXPECT_EQ(pushed - account.next, stats.queuedSamples);
        }

        EXPECT_EQ(device.samplesPlayed, played.size());
        EXPECT_EQ(device.silentSamples, account.silence);
        EXPECT_EQ(device.buffersPlayed, stats.buffersFilled);
        EXPECT_EQ(played.size(), stats.buffersFilled * shape.BufferSamples());
        EXPECT_EQ(capture.Handles().size(), 1u);
        return stats;
    }

    // With latency control on, after a drain: the ring was handed what control
    // says, the zeros played are padding, inserted silence or a value next to zero
    // truncated, the signal played to its end less what the resampler holds, and
    // the codes played again or skipped add up to what the rate stretched and
    // what was cut or dropped: a sample lost or played twice unaccounted shows.
    void ExpectResampledPlaybackAccountedFor(const ZVAudioOutputStats& stats,
                                             const PlaybackAccount& account) {
        ZVAudioOutputLatencyStats latency{};
        ASSERT_TRUE(Api().getAudioOutputLatencyStats(&latency));
        EXPECT_EQ(latency.hostSamples, pushed);
        EXPECT_EQ(latency.ringSamples, stats.samplesQueued);
        EXPECT_EQ(stats.queuedSamples, 0u);
        EXPECT_GE(account.silence, stats.silenceSamples);
        // A faded value next to zero truncates to zero too.
        const uint64_t fadedZeros = account.zeroRuns * 2 * kFadedZerosPerEdge * shape.channels;
        EXPECT_LE(account.silence,
                  stats.silenceSamples + latency.samplesInserted + kZeroCrossings + fadedZeros);
        EXPECT_LE(account.signalSamples, stats.samplesDelivered);
        // The signal plays to its end less what the resampler holds, unless a cut was
        // still under way when the host stopped: a cut skips incoming blocks until it
        // has removed what it planned, so it may take the last ones.
        EXPECT_GE(account.next + kHeldBackSamples + latency.samplesRemoved, pushed);
        const auto made = static_cast<int64_t>(latency.ringSamples + latency.samplesRemoved -
                                               latency.samplesInserted);
        // Inserted silence may be overwritten too; what of it played is the zeros
        // beyond the padding (and a truncated value or two).
        const uint64_t insertedPlayed = account.silence - stats.silenceSamples;
        const auto lost =
            static_cast<int64_t>(latency.samplesRemoved + stats.samplesDropped) -
            (static_cast<int64_t>(latency.samplesInserted) - static_cast<int64_t>(insertedPlayed));
        // Samples the rate added to the codes it took in.
        const int64_t stretched = made - static_cast<int64_t>(account.next);
        // Samples played beyond the codes passed, cuts and drops given back. The codes a
        // faded span jumps over were played, faded, not skipped.
        const int64_t seen =
            static_cast<int64_t>(account.repeats) -
            (static_cast<int64_t>(account.skipped) - static_cast<int64_t>(account.faded)) + lost;
        // A cut or a drop skips its samples in the host's rate, not the ring's.
        EXPECT_LE(std::abs(seen - stretched),
                  static_cast<int64_t>(kZeroCrossings) + 2 + lost / 1000)
            << "repeated " << account.repeats << ", skipped " << account.skipped;
        std::printf("resampled: %llu faded next to %llu zero runs\n",
                    static_cast<unsigned long long>(account.faded),
                    static_cast<unsigned long long>(account.zeroRuns));
        std::printf("resampled: %llu played, %llu zeros, %llu skipped, %llu repeated; "
                    "%llu cut, %llu dropped, %llu inserted, %llu padded\n",
                    static_cast<unsigned long long>(account.signalSamples),
                    static_cast<unsigned long long>(account.silence),
                    static_cast<unsigned long long>(account.skipped),
                    static_cast<unsigned long long>(account.repeats),
                    static_cast<unsigned long long>(latency.samplesRemoved),
                    static_cast<unsigned long long>(stats.samplesDropped),
                    static_cast<unsigned long long>(latency.samplesInserted),
                    static_cast<unsigned long long>(stats.silenceSamples));
    }

    // Values next to the signal's one zero crossing, per channel, that may truncate to 0.
    static constexpr uint64_t kZeroCrossings = 4;
    // Values at a fade's quiet end, per channel and fade edge, that may truncate to 0.
    static constexpr uint64_t kFadedZerosPerEdge = 2;
    // The resampler's filter delay, frames it holds until control is switched off.
    static constexpr uint64_t kHeldBackSamples = 2 * 28;

    PlaybackCapture capture;
    StreamShape shape{};
    uint64_t pushed = 0;
    bool latencyControl = false;
};

// The same runs with latency control off and on at the target the Unity package sets.
class SteeredEndToEndTest : public EndToEndTest, public ::testing::WithParamInterface<uint32_t> {};

std::string TargetName(const ::testing::TestParamInfo<uint32_t>& info) {
    return info.param == 0 ? "ControlOff" : "ControlOn" + std::to_string(info.param) + "ms";
}

TEST_P(SteeredEndToEndTest, HostPacedLikeTheDeviceIsPlayedInOrderAndBitExactWithoutControl) {
    // The ring holds more than the whole signal, so nothing can be overwritten.
    Open({2, 48000, 1024, 2}, GetParam());
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
    EXPECT_EQ(stats.samplesDropped, 0u);
    if (!latencyControl) {
        EXPECT_EQ(stats.samplesDelivered, total);
    }
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

TEST_P(SteeredEndToEndTest, HostBurstingFasterThanTheDeviceLosesNothingUncounted) {
    // The whole signal in back-to-back blocks into a ring of an eighth of it,
    // while the device keeps pulling: overwrites and fills interleave.
    Open({1, 8000, 256, 1}, GetParam());
    while (pushed < NumberedSignal::kPeriod) {
        Push(std::min<uint64_t>(1024, NumberedSignal::kPeriod - pushed));
    }
    Drain();
    const ZVAudioOutputStats stats = ExpectEverySampleAccountedFor();
    EXPECT_EQ(stats.samplesDelivered + stats.samplesDropped, stats.samplesQueued);
    if (!latencyControl) {
        // With control on, a catch-up that would overflow the ring may be cut first.
        EXPECT_GT(stats.samplesDropped, 0u);
    }
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

INSTANTIATE_TEST_SUITE_P(LatencyTargets, SteeredEndToEndTest, ::testing::Values(0u, 60u),
                         TargetName);

} // namespace
