#include "DriftQuality.h"

#include "SineFit.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace zvbench {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = 48000.0;
constexpr size_t kChannels = DriftCorrector::kChannels;
constexpr size_t kCapacityFrames = 4 * kDriftBlockFrames; // far above any block's output
const double kAmplitude = std::pow(10.0, -1.0 / 20.0);

struct Passage {
    std::vector<float> out;        // interleaved output
    std::vector<size_t> blockEnds; // output frames written after each block
    std::vector<double> ratios;    // ratio each block ran at
    size_t refused = 0;
};

template <typename Schedule>
Passage PassThrough(const DriftSubject& subject, const std::vector<float>& in, Schedule schedule) {
    Passage passage;
    const std::unique_ptr<DriftCorrector> corrector = subject.make();
    const size_t blocks = in.size() / kChannels / kDriftBlockFrames;
    size_t written = 0;
    for (size_t block = 0; block < blocks; ++block) {
        const double ratio = corrector->SetRatio(schedule(block));
        if (std::isnan(ratio)) {
            ++passage.refused;
        }
        passage.ratios.push_back(std::isnan(ratio) ? schedule(block) : ratio);
        passage.out.resize((written + kCapacityFrames) * kChannels);
        written +=
            corrector->Process(in.data() + block * kDriftBlockFrames * kChannels, kDriftBlockFrames,
                               passage.out.data() + written * kChannels, kCapacityFrames);
        passage.blockEnds.push_back(written);
    }
    passage.out.resize(written * kChannels);
    return passage;
}

// `blocks` blocks of a -1 dBFS sine, the right channel a quarter turn ahead.
std::vector<float> Sine(double frequency, size_t blocks) {
    std::vector<float> samples(blocks * kDriftBlockFrames * kChannels);
    for (size_t i = 0; i < samples.size() / kChannels; ++i) {
        const double phase = 2.0 * kPi * frequency / kRate * static_cast<double>(i);
        samples[i * kChannels] = static_cast<float>(kAmplitude * std::sin(phase));
        samples[i * kChannels + 1] = static_cast<float>(kAmplitude * std::cos(phase));
    }
    return samples;
}

struct Fit {
    double sinad = 1000.0; // the worse channel
    double signal = 0.0;   // summed over channels
    double residual = 0.0;
    double amplitude = 0.0;       // mean over channels
    double cyclesPerSample = 0.0; // left channel
};

Fit FitFrames(const Passage& passage, size_t first, size_t count, double cyclesPerSample) {
    Fit fit;
    for (size_t c = 0; c < kChannels; ++c) {
        const zvtest::SineFitResult result = zvtest::FitSine(
            passage.out.data() + first * kChannels + c, count, kChannels, cyclesPerSample);
        fit.sinad = std::min(fit.sinad, result.sinadDb);
        fit.signal += result.signalPower;
        fit.residual += result.residualPower;
        fit.amplitude += result.amplitude / kChannels;
        if (c == 0) {
            fit.cyclesPerSample = result.cyclesPerSample;
        }
    }
    return fit;
}

double Db(double powerRatio) {
    return 10.0 * std::log10(std::max(powerRatio, 1e-40));
}

// A Hann pulse 96 frames wide at input frame kPulseAt, on both channels.
constexpr size_t kPulseAt = 20000;
constexpr size_t kPulseBlocks = 40;

double PulseDelay(const DriftSubject& subject) {
    std::vector<float> in(kPulseBlocks * kDriftBlockFrames * kChannels, 0.0f);
    const int halfWidth = 48;
    for (int i = -halfWidth; i <= halfWidth; ++i) {
        const double w = 0.5 + 0.5 * std::cos(kPi * i / halfWidth);
        const auto frame = static_cast<size_t>(static_cast<int>(kPulseAt) + i);
        for (size_t c = 0; c < kChannels; ++c) {
            in[frame * kChannels + c] = static_cast<float>(0.5 * w);
        }
    }
    const Passage passage = PassThrough(subject, in, [](size_t) { return ConstantDriftRatio(); });
    const double ratio = passage.ratios.back();
    const size_t frames = passage.out.size() / kChannels;
    size_t peak = 0;
    for (size_t i = 0; i < frames; ++i) {
        if (std::fabs(passage.out[i * kChannels]) > std::fabs(passage.out[peak * kChannels])) {
            peak = i;
        }
    }
    double weighted = 0.0;
    double sum = 0.0;
    const size_t from = peak > 128 ? peak - 128 : 0;
    for (size_t i = from; i < std::min(frames, peak + 129); ++i) {
        weighted += static_cast<double>(i) * passage.out[i * kChannels];
        sum += passage.out[i * kChannels];
    }
    // Frames not yet given out: how far the output count trails the input's, at
    // the ratio, over the last blocks (the median, for libraries that give out
    // their output in bursts).
    std::vector<double> owed;
    for (size_t block = kPulseBlocks - 10; block < kPulseBlocks; ++block) {
        const double taken = static_cast<double>((block + 1) * kDriftBlockFrames);
        owed.push_back(taken * ratio - static_cast<double>(passage.blockEnds[block]));
    }
    const auto middle = owed.begin() + static_cast<std::ptrdiff_t>(owed.size() / 2);
    std::nth_element(owed.begin(), middle, owed.end());
    return weighted / sum + *middle - static_cast<double>(kPulseAt) * ratio;
}

// Blocks 0..kSkipBlocks-1 are left out of every figure: the start of a stream.
constexpr size_t kSkipBlocks = 16;

struct BlockFits {
    double signal = 0.0;
    double residual = 0.0;
    double worst = 1000.0; // the worst block's SINAD
};

// Fits the output of blocks [from, to) each on its own, at the ratio the block ran
// at. The first and last few frames of each block are left out: a library may
// take up the new ratio a few frames early or late (a search over where the
// block boundaries fit best put every one of these within 6 frames).
BlockFits FitBlocks(const Passage& passage, double frequency, size_t from, size_t to) {
    const long margin = 8;
    const auto frames = static_cast<long>(passage.out.size() / kChannels);
    BlockFits fits;
    for (size_t block = from; block < to; ++block) {
        const long first = static_cast<long>(passage.blockEnds[block - 1]) + margin;
        const long end = std::min(static_cast<long>(passage.blockEnds[block]) - margin, frames);
        if (first < 0 || end < first + 256) {
            fits.worst = 0.0; // a block that gave out (nearly) nothing
            continue;
        }
        const Fit fit =
            FitFrames(passage, static_cast<size_t>(first), static_cast<size_t>(end - first),
                      frequency / kRate / passage.ratios[block]);
        fits.signal += fit.signal;
        fits.residual += fit.residual;
        fits.worst = std::min(fits.worst, fit.sinad);
    }
    return fits;
}

} // namespace

double ConstantDriftRatio() {
    return 1.0 + 300e-6;
}

double SweptDriftRatio(size_t block) {
    return 1.0 + 1000e-6 * std::sin(2.0 * kPi * static_cast<double>(block) / 94.0);
}

DriftQuality MeasureConstantRatio(const DriftSubject& subject) {
    DriftQuality quality;
    const auto constant = [](size_t) { return ConstantDriftRatio(); };
    for (const double frequency : {997.0, 18000.0}) {
        const Passage passage = PassThrough(subject, Sine(frequency, 96), constant);
        const double ratio = passage.ratios.back();
        quality.refusedRatios += passage.refused;
        const size_t first = kSkipBlocks * kDriftBlockFrames;
        const size_t count = 65536;
        if (passage.out.size() / kChannels < first + count) {
            quality.sinad997 = quality.sinad18k = 0.0;
            continue;
        }
        const double expected = frequency / kRate / ratio;
        const Fit fit = FitFrames(passage, first, count, expected);
        if (frequency < 1000.0) {
            quality.sinad997 = fit.sinad;
            const double achieved = frequency / kRate / fit.cyclesPerSample;
            quality.ratioErrorPpm = (achieved / ConstantDriftRatio() - 1.0) * 1e6;
        } else {
            quality.sinad18k = fit.sinad;
            quality.gain18kDb = 20.0 * std::log10(fit.amplitude / kAmplitude);
        }
    }
    quality.worstBlockSinad997 = quality.sinad997;
    quality.worstBlockSinad18k = quality.sinad18k;
    quality.delayFrames = PulseDelay(subject);
    return quality;
}

DriftQuality MeasureSweptRatio(const DriftSubject& subject) {
    DriftQuality quality;
    for (const double frequency : {997.0, 18000.0}) {
        const Passage passage = PassThrough(subject, Sine(frequency, 141), SweptDriftRatio);
        quality.refusedRatios += passage.refused;
        const BlockFits fits = FitBlocks(passage, frequency, kSkipBlocks, passage.blockEnds.size());
        const double overall = Db(fits.signal / std::max(fits.residual, 1e-40));
        if (frequency < 1000.0) {
            quality.sinad997 = overall;
            quality.worstBlockSinad997 = fits.worst;
        } else {
            quality.sinad18k = overall;
            quality.worstBlockSinad18k = fits.worst;
        }
    }
    return quality;
}

} // namespace zvbench
