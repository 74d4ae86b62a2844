#include "ToneMeter.h"

#include "SineFit.h"

#include <algorithm>
#include <cmath>

namespace zvdemo {

ToneMeter::Result ToneMeter::Measure(const std::vector<float>& recording, uint32_t channels,
                                     uint32_t sampleRate, double toneHz, double fromSeconds,
                                     double toSeconds) {
    Result result;
    if (channels == 0 || sampleRate == 0) {
        return result;
    }
    // Back to the recorded 16-bit values: WavFile scales positive samples by
    // 1/32767 and negative ones by 1/32768, which a plain 1/32768 fit would
    // see as distortion.
    std::vector<int16_t> played(recording.size());
    std::transform(recording.begin(), recording.end(), played.begin(), [](float value) {
        return static_cast<int16_t>(std::lround(value * (value < 0.0f ? 32768.0 : 32767.0)));
    });

    const auto window = static_cast<size_t>(kWindowSeconds * sampleRate);
    const size_t frames = played.size() / channels;
    const auto first = static_cast<size_t>(std::max(0.0, fromSeconds) * sampleRate);
    const size_t last =
        std::min(frames, static_cast<size_t>(std::max(0.0, toSeconds) * sampleRate));
    double signal = 0.0;
    double residual = 0.0;
    result.worstSinadDb = 1e9;
    for (size_t start = first; window > 0 && start + window <= last; start += window) {
        for (uint32_t channel = 0; channel < channels; ++channel) {
            const zvtest::SineFitResult fit =
                zvtest::FitSine(played.data() + start * channels + channel, window, channels,
                                toneHz / sampleRate, 1.0 / 32768.0);
            signal += fit.signalPower;
            residual += fit.residualPower;
            if (fit.sinadDb < result.worstSinadDb) {
                result.worstSinadDb = fit.sinadDb;
                result.worstAtSeconds = static_cast<double>(start) / sampleRate;
            }
        }
        ++result.windows;
    }
    result.fromSeconds = static_cast<double>(first) / sampleRate;
    result.toSeconds = static_cast<double>(first + result.windows * window) / sampleRate;
    result.overallSinadDb =
        result.windows == 0 ? 0.0 : 10.0 * std::log10(signal / std::max(residual, 1e-30));
    if (result.windows == 0) {
        result.worstSinadDb = 0.0;
    }
    return result;
}

} // namespace zvdemo
