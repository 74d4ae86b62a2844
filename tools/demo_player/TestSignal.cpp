#include "TestSignal.h"

#include <algorithm>
#include <cmath>

namespace zvdemo {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Partial {
    double frequency;
    double left;  // gain in the left channel
    double right; // gain in the right channel
};

// A3, C#4, E4 and A4; each channel's gains sum to 1, so the peak stays at kPeak.
constexpr Partial kPartials[] = {
    {220.00, 0.35, 0.25},
    {277.18, 0.30, 0.20},
    {329.63, 0.20, 0.30},
    {440.00, 0.15, 0.25},
};

double Fade(double t, double total, double fade) {
    const double edge = std::min(t, total - t);
    if (edge >= fade) {
        return 1.0;
    }
    return edge <= 0.0 ? 0.0 : 0.5 - 0.5 * std::cos(kPi * edge / fade);
}

} // namespace

std::vector<float> TestSignal::Chord(double seconds) {
    const auto frames = static_cast<std::size_t>(std::max(0.0, seconds) * kSampleRate);
    std::vector<float> samples(frames * kChannels);
    const double total = static_cast<double>(frames) / kSampleRate;
    const double fade = std::min(kFadeSeconds, total / 2.0);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const double t = static_cast<double>(frame) / kSampleRate;
        double left = 0.0;
        double right = 0.0;
        for (const Partial& partial : kPartials) {
            const double wave = std::sin(2.0 * kPi * partial.frequency * t);
            left += partial.left * wave;
            right += partial.right * wave;
        }
        // A gentle swell (0.8 to 1.0 every two seconds) keeps the tone alive.
        const double swell = 0.9 + 0.1 * std::sin(kPi * t);
        const double gain = kPeak * swell * Fade(t, total, fade);
        samples[frame * kChannels] = static_cast<float>(left * gain);
        samples[frame * kChannels + 1] = static_cast<float>(right * gain);
    }
    return samples;
}

std::vector<float> TestSignal::Tone(double hz, double seconds) {
    const auto frames = static_cast<std::size_t>(std::max(0.0, seconds) * kSampleRate);
    std::vector<float> samples(frames * kChannels);
    const double total = static_cast<double>(frames) / kSampleRate;
    const double fade = std::min(kFadeSeconds, total / 2.0);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        // The phase from the frame index alone, so that it does not drift
        // over an hour of audio as a running sum would.
        const double t = static_cast<double>(frame) / kSampleRate;
        const double cycles = hz * static_cast<double>(frame) / kSampleRate;
        const auto value = static_cast<float>(kTonePeak * Fade(t, total, fade) *
                                              std::sin(2.0 * kPi * (cycles - std::floor(cycles))));
        samples[frame * kChannels] = value;
        samples[frame * kChannels + 1] = value;
    }
    return samples;
}

} // namespace zvdemo
