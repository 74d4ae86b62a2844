#pragma once

#include "CacheLineAllocator.h"
#include "conversion/SampleConversion.h"
#include "latency/VariableRateResamplerKernels.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zvaudio {

// Resamples interleaved float audio by a ratio close to 1, so that a stream can follow a
// clock that runs a little faster or slower than its source's.
//
// Method: windowed-sinc interpolation from a polyphase table. Each output frame is a
// kTaps-tap dot product with coefficients interpolated linearly between the two nearest of
// kPhases tabulated fractional delays, so the read position moves continuously and the
// output has no step when the ratio or the block changes.
//
// Constants: 28 taps under a Kaiser window (beta 10) with the cutoff at the input's Nyquist
// frequency keep images and phase-dependent ripple 110 dB below a 1 kHz sine and 108 dB below
// an 18 kHz one at the largest ratio; 256 phases keep the error of interpolating between them
// at the same level (64 would cost 20 dB at 18 kHz). Each phase has unit gain at DC.
//
// Owned by one thread at a time. The filter tables depend only on the constants below, so
// they are built once per process and shared read-only by every instance.
class VariableRateResampler {
public:
    // Largest deviation of the ratio from 1 the resampler accepts (its owner's
    // correction bound); SetRatio clamps to [1 - kMaxDeviation, 1 + kMaxDeviation].
    // 1000 ppm shifts pitch by 1.7 cents, far below what a listener hears, and is several
    // times the tens to few hundred ppm by which real device clocks drift, which leaves the
    // controller room to pull a queue back towards its target.
    static constexpr double kMaxDeviation = 1000e-6;

    static constexpr size_t kTaps = 28;
    static constexpr uint32_t kPhaseBits = 8;
    static constexpr size_t kPhases = size_t{1} << kPhaseBits;
    static constexpr double kKaiserBeta = 10.0;

    // Every allocation happens here: history for channelCount interleaved channels
    // (any count >= 1), and the shared filter tables the first time any instance is built.
    // Process allocates nothing.
    explicit VariableRateResampler(uint32_t channelCount);

    // Back to the state of a new stream: silent history, phase 0, ratio 1.
    void Reset();

    // For joining a stream already playing: the next Process call's first frame comes out
    // first and the history before it repeats that frame, so the output neither pauses nor
    // fades in. With stretchFirstBlock that call gives as many frames as it takes
    // (stretched by the filter's delay), so it does not fall short either; without, it
    // gives the delay's frames fewer, which the flush on switching off gives back.
    void StartAtNextInput(bool stretchFirstBlock = true);
    // Set by StartAtNextInput until the next input arrives.
    bool StartsAtNextInput() const { return primeHistory; }

    // Most frames Flush can write.
    static constexpr size_t kMaxFlushFrames = kTaps;

    // Writes the frames still held back by the filter's delay, up to and including the last
    // input frame, so that unresampled input may follow them directly. The fractional read
    // position glides to a whole frame across them (linear interpolation), leaving no step.
    // Returns the frames written; the resampler is then Reset.
    size_t Flush(float* out);

    // Output frames per input frame; 1.0 passes the rate through unchanged.
    void SetRatio(double ratio);
    double Ratio() const { return ratio; }

    // Upper bound of the frames one Process call can write for inFrames input frames.
    size_t MaxOutputFrames(size_t inFrames) const;

    // Consumes all inFrames interleaved input frames (float), writes the resampled
    // frames (float, interleaved, same channel count) to out, which holds at least
    // MaxOutputFrames(inFrames) frames, and returns how many frames it wrote.
    // Over many calls, frames out / frames in converges to the ratio.
    size_t Process(const float* in, size_t inFrames, float* out);

    // Delay the filter adds, in input frames (constant).
    double DelayFrames() const { return static_cast<double>(kTaps / 2); }

    uint32_t ChannelCount() const { return channels; }

    // Stereo runs a vector kernel, the fastest this CPU offers unless told otherwise, or the
    // portable loop for Scalar or Reference; other channel counts always run the portable
    // loop (Scalar). A path this CPU lacks leaves the current one. Returns the path in use.
    // Results of the paths agree to float rounding, not bit for bit.
    ConversionPath UsePath(ConversionPath path);
    ConversionPath Path() const { return path; }

private:
    // Writes every output frame whose taps lie within the buffered input.
    size_t Render(float* out);
    // Moves the frames still needed to the front of the buffer.
    void DropConsumed();

    using FloatTable = std::vector<float, CacheLineAllocator<float>>;
    struct Tables;
    static const Tables& SharedTables();

    uint32_t channels;
    const Tables& tables;
    ConversionPath path = ConversionPath::Scalar;
    detail::StereoKernel stereoKernel = nullptr;
    // Input frames waiting for their turn, interleaved; kTaps - 1 frames of history
    // precede the newest input.
    FloatTable buffer;
    size_t bufferFrames = 0; // capacity in frames
    size_t buffered = 0;     // frames held
    // Read position of the next output, in buffer frames and 2^-32 of a frame. Fixed
    // point, so that the positions do not depend on how the input was split into blocks.
    detail::ResamplePosition position{0, 0};
    uint64_t step = uint64_t{1} << 32; // input frames per output frame, 32.32
    double ratio = 1.0;
    // Set by StartAtNextInput: the next input's first frame fills the history.
    bool primeHistory = false;
    bool stretchFirst = true;
};

} // namespace zvaudio
