#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zvaudio {

// Placeholder with the final interface: plain linear interpolation, enough to
// build and exercise latency control. It is replaced by the band-limited
// resampler at merge; do not judge audio quality by it.
class VariableRateResampler {
public:
    // Largest deviation of the ratio from 1 the resampler accepts (its owner's
    // correction bound); SetRatio clamps to [1 - kMaxDeviation, 1 + kMaxDeviation].
    static constexpr double kMaxDeviation = 1000e-6;

    // Every allocation happens here. Process allocates nothing.
    explicit VariableRateResampler(uint32_t channelCount);

    // Back to the state of a new stream: silent history, phase 0, ratio 1.
    void Reset();

    // Output frames per input frame; 1.0 passes the rate through unchanged.
    void SetRatio(double ratio);
    double Ratio() const { return ratio; }

    // Upper bound of the frames one Process call can write for inFrames input frames.
    size_t MaxOutputFrames(size_t inFrames) const;

    // Consumes all inFrames interleaved input frames and writes the resampled
    // frames to out (room for MaxOutputFrames(inFrames)); returns how many.
    size_t Process(const float* in, size_t inFrames, float* out);

    // Delay the filter adds, in input frames (constant).
    double DelayFrames() const { return 1.0; }

private:
    uint32_t channels;
    double ratio = 1.0;
    double step = 1.0;           // input frames per output frame
    double phase = 0.0;          // position of the next output frame, from the previous input frame
    std::vector<float> previous; // last input frame of the previous call
};

} // namespace zvaudio
