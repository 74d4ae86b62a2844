#include "latency/VariableRateResampler.h"

#include "../support/SineFit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

using zvaudio::ConversionPath;
using zvaudio::VariableRateResampler;

namespace {

constexpr double kRate = 48000.0;
constexpr double kPi = 3.14159265358979323846;
constexpr double kMax = VariableRateResampler::kMaxDeviation;

// Interleaved frames; channel c is a -1 dBFS sine at frequencies[c] (0 = silence).
std::vector<float> Sines(const std::vector<double>& frequencies, size_t frames) {
    const size_t channels = frequencies.size();
    const double amplitude = std::pow(10.0, -1.0 / 20.0);
    std::vector<float> samples(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        for (size_t c = 0; c < channels; ++c) {
            const double phase = 2.0 * kPi * frequencies[c] / kRate * static_cast<double>(i);
            samples[i * channels + c] =
                static_cast<float>(amplitude * std::sin(phase + 0.3 * static_cast<double>(c)));
        }
    }
    return samples;
}

std::vector<float> Noise(size_t count, uint32_t seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<float> samples(count);
    for (float& s : samples) {
        s = value(generator);
    }
    return samples;
}

// Runs `input` through `resampler` in blocks of the given sizes (cycled) and returns the
// output. Checks every call against MaxOutputFrames.
std::vector<float> Resample(VariableRateResampler& resampler, const std::vector<float>& input,
                            const std::vector<size_t>& blockSizes) {
    const size_t channels = resampler.ChannelCount();
    const size_t frames = input.size() / channels;
    std::vector<float> output(resampler.MaxOutputFrames(frames) * channels);
    size_t done = 0;
    size_t written = 0;
    for (size_t call = 0; done < frames; ++call) {
        const size_t block = std::min(blockSizes[call % blockSizes.size()], frames - done);
        const size_t wrote = resampler.Process(input.data() + done * channels, block,
                                               output.data() + written * channels);
        EXPECT_LE(wrote, resampler.MaxOutputFrames(block));
        done += block;
        written += wrote;
    }
    output.resize(written * channels);
    return output;
}

struct QualityCase {
    double frequency;
    double ratio;
    double minimumSinadDb;
};

class ResamplerQuality : public testing::TestWithParam<QualityCase> {};

// Channel 1 carries a sine at 0.6 times the frequency, so swapped or mixed channels fail
// both fits.
TEST_P(ResamplerQuality, SineKeepsItsSinadAtTheLargestCorrection) {
    const QualityCase row = GetParam();
    VariableRateResampler resampler(2);
    resampler.SetRatio(row.ratio);
    const std::vector<double> frequencies = {row.frequency, 0.6 * row.frequency};
    const std::vector<float> output = Resample(resampler, Sines(frequencies, 48000), {1024});
    const size_t settled = 2 * VariableRateResampler::kTaps;
    const size_t frames = output.size() / 2 - settled;
    for (size_t c = 0; c < 2; ++c) {
        const zvtest::SineFitResult fit = zvtest::FitSine(output.data() + settled * 2 + c, frames,
                                                          2, frequencies[c] / kRate / row.ratio);
        EXPECT_GE(fit.sinadDb, row.minimumSinadDb) << "channel " << c;
        EXPECT_NEAR(fit.amplitude, std::pow(10.0, -1.0 / 20.0), 1e-3) << "channel " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(
    FrequencyAndRatio, ResamplerQuality,
    testing::Values(QualityCase{997.0, 1.0 + kMax, 90.0}, QualityCase{997.0, 1.0 - kMax, 90.0},
                    QualityCase{10000.0, 1.0 + kMax, 80.0}, QualityCase{10000.0, 1.0 - kMax, 80.0},
                    QualityCase{18000.0, 1.0 + kMax, 60.0}, QualityCase{18000.0, 1.0 - kMax, 60.0}),
    [](const testing::TestParamInfo<QualityCase>& param) {
        return std::to_string(static_cast<int>(param.param.frequency)) + "Hz_" +
               (param.param.ratio > 1.0 ? "MoreFrames" : "FewerFrames");
    });

// The stereo kernels this CPU can run, and the portable loop.
std::vector<ConversionPath> StereoPaths() {
    std::vector<ConversionPath> paths;
    for (const ConversionPath path :
         {ConversionPath::Scalar, ConversionPath::Sse2, ConversionPath::Avx2}) {
        if (VariableRateResampler(2).UsePath(path) == path) {
            paths.push_back(path);
        }
    }
    return paths;
}

// Each channel of an interleaved stream comes out as that channel would alone (through
// the portable loop), whichever stereo kernel runs.
TEST(VariableRateResampler, ChannelsAreResampledIndependently) {
    const size_t frames = 5000;
    std::vector<std::pair<uint32_t, ConversionPath>> cases;
    for (const ConversionPath path : StereoPaths()) {
        cases.emplace_back(2, path);
    }
    cases.emplace_back(3, ConversionPath::Scalar);
    cases.emplace_back(6, ConversionPath::Scalar);
    for (const auto& [channels, path] : cases) {
        const std::vector<float> input = Noise(frames * channels, channels);
        VariableRateResampler together(channels);
        together.UsePath(path);
        together.SetRatio(1.0 + 0.7 * kMax);
        const std::vector<float> output = Resample(together, input, {700});
        for (uint32_t c = 0; c < channels; ++c) {
            std::vector<float> alone(frames);
            for (size_t i = 0; i < frames; ++i) {
                alone[i] = input[i * channels + c];
            }
            VariableRateResampler mono(1);
            mono.SetRatio(1.0 + 0.7 * kMax);
            const std::vector<float> expected = Resample(mono, alone, {700});
            ASSERT_EQ(expected.size() * channels, output.size()) << channels << " channels";
            for (size_t i = 0; i < expected.size(); ++i) {
                ASSERT_NEAR(output[i * channels + c], expected[i], 1e-5f)
                    << channels << " channels, " << zvaudio::ConversionPathName(path)
                    << ", channel " << c << ", frame " << i;
            }
        }
    }
}

// History and phase carry across calls: any split of the input, including empty and
// one-frame blocks and blocks longer than the internal buffer, gives the same output.
TEST(VariableRateResampler, OutputDoesNotDependOnBlockSizes) {
    const std::vector<float> input = Noise(20000 * 2, 7);
    for (const ConversionPath path : StereoPaths()) {
        for (const double ratio : {1.0 - kMax, 1.0 + kMax, 1.0 + 0.37 * kMax}) {
            VariableRateResampler whole(2);
            whole.UsePath(path);
            whole.SetRatio(ratio);
            const std::vector<float> expected = Resample(whole, input, {20000});
            VariableRateResampler pieces(2);
            pieces.UsePath(path);
            pieces.SetRatio(ratio);
            const std::vector<float> split =
                Resample(pieces, input, {0, 1, 1, 2, 27, 0, 513, 1024, 3000});
            EXPECT_EQ(expected, split) << zvaudio::ConversionPathName(path) << ", ratio " << ratio;
        }
    }
}

// Frames out per frame in follows the ratio, clamped to the bound; at ratio 1 the input
// comes out unchanged, DelayFrames later.
TEST(VariableRateResampler, OutputCountFollowsTheClampedRatio) {
    const size_t frames = 480000;
    const std::vector<float> input = Noise(frames, 3);
    struct Case {
        double requested;
        double applied;
    };
    for (const Case row :
         {Case{1.0, 1.0}, Case{1.0 + kMax, 1.0 + kMax}, Case{1.0 - 0.25 * kMax, 1.0 - 0.25 * kMax},
          Case{1.5, 1.0 + kMax}, Case{0.5, 1.0 - kMax}, Case{std::nan(""), 1.0}}) {
        VariableRateResampler resampler(1);
        resampler.SetRatio(row.requested);
        EXPECT_EQ(resampler.Ratio(), row.applied);
        const std::vector<float> output = Resample(resampler, input, {1024});
        EXPECT_NEAR(static_cast<double>(output.size()), static_cast<double>(frames) * row.applied,
                    static_cast<double>(VariableRateResampler::kTaps))
            << "ratio " << row.requested;
        if (row.applied == 1.0) {
            const auto delay = static_cast<size_t>(resampler.DelayFrames());
            for (size_t i = delay; i < output.size(); ++i) {
                ASSERT_NEAR(output[i], input[i - delay], 1e-6f) << "frame " << i;
            }
        }
    }
}

// Joining and leaving a stream at ratio 1: the first block after a join gives as many
// frames as it takes, the rest is the input delayed by the filter, and a flush ends on the
// last input frame, so nothing is cut short, repeated or faded. A NaN or an infinity comes
// out as silence in its own sample only.
TEST(VariableRateResampler, JoinsAndLeavesAStreamWithoutAGap) {
    const size_t delay = VariableRateResampler::kTaps / 2;
    for (const ConversionPath path : {ConversionPath::Scalar, ConversionPath::Sse2}) {
        std::vector<float> input = Sines({997.0, 440.0}, 5000);
        input[2 * 1000] = std::nanf("");
        input[2 * 3000 + 1] = -INFINITY;
        VariableRateResampler resampler(2);
        resampler.UsePath(path);
        resampler.StartAtNextInput();
        std::vector<float> output(resampler.MaxOutputFrames(1024) * 2);
        ASSERT_EQ(resampler.Process(input.data(), 1024, output.data()), 1024u);
        output.resize(1024 * 2);
        const std::vector<float> rest(input.begin() + 1024 * 2, input.end());
        const std::vector<float> later = Resample(resampler, rest, {1024, 7});
        output.insert(output.end(), later.begin(), later.end());
        std::vector<float> tail(VariableRateResampler::kMaxFlushFrames * 2);
        const size_t flushed = resampler.Flush(tail.data());
        output.insert(output.end(), tail.begin(), tail.begin() + static_cast<long>(flushed * 2));

        input[2 * 1000] = 0.0f;
        input[2 * 3000 + 1] = 0.0f;
        ASSERT_EQ(output.size(), input.size() + delay * 2) << zvaudio::ConversionPathName(path);
        EXPECT_NEAR(output[0], input[0], 1e-6f);
        for (size_t i = 1024 * 2; i < output.size(); ++i) {
            ASSERT_NEAR(output[i], input[i - delay * 2], 1e-6f) << "sample " << i;
        }
    }
}

TEST(VariableRateResampler, ResetStartsANewStream) {
    const std::vector<float> first = Noise(3000 * 2, 11);
    const std::vector<float> second = Noise(3000 * 2, 12);
    VariableRateResampler fresh(2);
    const std::vector<float> expected = Resample(fresh, second, {512});

    VariableRateResampler reused(2);
    reused.SetRatio(1.0 + kMax);
    Resample(reused, first, {333});
    reused.Reset();
    EXPECT_EQ(reused.Ratio(), 1.0);
    EXPECT_EQ(Resample(reused, second, {512}), expected);
}

} // namespace
