// How cleanly the device played the demo's tone: the recording is cut into
// 50 ms windows and each channel of each window is fitted with a sine by the
// four-parameter least-squares fit of tests/support/SineFit.h (the latency
// scenario's fit). The frequency is left free in each window, starting from
// the tone's, so that the rate by which latency control stretches the audio
// is not charged as noise; anything else the fitted sine and offset leave
// (clicks, gaps, splices, steps of the rate within a window) is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zvdemo {

class ToneMeter {
public:
    static constexpr double kWindowSeconds = 0.05;

    struct Result {
        double fromSeconds = 0.0; // the measured part of the recording
        double toSeconds = 0.0;
        size_t windows = 0; // whole windows measured; 0 when none fitted
        double worstSinadDb = 0.0;
        double worstAtSeconds = 0.0; // start of the worst window
        double overallSinadDb = 0.0; // all windows and channels together
    };

    // `recording`: interleaved samples as WavFile reads them from a 16-bit
    // file. Measures whole windows between fromSeconds and toSeconds.
    static Result Measure(const std::vector<float>& recording, uint32_t channels,
                          uint32_t sampleRate, double toneHz, double fromSeconds, double toSeconds);
};

} // namespace zvdemo
