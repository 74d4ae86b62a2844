#include "VariableRateResampler.h"

#include <algorithm>
#include <cmath>

namespace zvaudio {

VariableRateResampler::VariableRateResampler(uint32_t channelCount)
    : channels(std::max<uint32_t>(channelCount, 1)), previous(channels, 0.0f) {}

void VariableRateResampler::Reset() {
    std::fill(previous.begin(), previous.end(), 0.0f);
    phase = 0.0;
    SetRatio(1.0);
}

void VariableRateResampler::SetRatio(double newRatio) {
    ratio = std::clamp(newRatio, 1.0 - kMaxDeviation, 1.0 + kMaxDeviation);
    step = 1.0 / ratio;
}

size_t VariableRateResampler::MaxOutputFrames(size_t inFrames) const {
    return static_cast<size_t>(std::ceil(static_cast<double>(inFrames) * (1.0 + kMaxDeviation))) +
           2;
}

size_t VariableRateResampler::Process(const float* in, size_t inFrames, float* out) {
    // Input frame -1 is the previous call's last frame; output frames fall at
    // positions phase, phase + step, ... between frame -1 and frame inFrames - 1.
    size_t written = 0;
    const double end = static_cast<double>(inFrames);
    while (phase < end) {
        const auto whole = static_cast<size_t>(phase);
        const auto fraction = static_cast<float>(phase - static_cast<double>(whole));
        const float* a = whole == 0 ? previous.data() : in + (whole - 1) * channels;
        const float* b = in + whole * channels;
        for (uint32_t c = 0; c < channels; ++c) {
            out[written * channels + c] = a[c] + (b[c] - a[c]) * fraction;
        }
        ++written;
        phase += step;
    }
    phase -= end;
    if (inFrames > 0) {
        std::copy(in + (inFrames - 1) * channels, in + inFrames * channels, previous.begin());
    }
    return written;
}

} // namespace zvaudio
