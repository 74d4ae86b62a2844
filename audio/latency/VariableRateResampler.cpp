#include "latency/VariableRateResampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#    include <emmintrin.h>
#    if defined(_MSC_VER) && !defined(__clang__)
#        include <intrin.h>
#    endif
#endif

namespace zvaudio {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr size_t kTaps = VariableRateResampler::kTaps;
constexpr uint32_t kWeightBits = 32 - VariableRateResampler::kPhaseBits;
constexpr float kWeightScale = 1.0f / static_cast<float>(uint32_t{1} << kWeightBits);
// Input frames copied in per round; the buffer holds them after the history.
constexpr size_t kChunkFrames = 1024;

// Zeroth-order modified Bessel function of the first kind, by its power series.
double BesselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    const double quarterSquare = x * x / 4.0;
    for (int k = 1; k < 64 && term > sum * 1e-17; ++k) {
        term *= quarterSquare / (static_cast<double>(k) * static_cast<double>(k));
        sum += term;
    }
    return sum;
}

// The interpolation kernel at t input frames from the output instant: sinc with its cutoff
// at the input's Nyquist frequency, under a Kaiser window reaching zero at +-kTaps / 2.
double Kernel(double t) {
    const double half = static_cast<double>(kTaps) / 2.0;
    const double x = t / half;
    if (x <= -1.0 || x >= 1.0) {
        return 0.0;
    }
    const double window = BesselI0(VariableRateResampler::kKaiserBeta * std::sqrt(1.0 - x * x)) /
                          BesselI0(VariableRateResampler::kKaiserBeta);
    const double sinc = t == 0.0 ? 1.0 : std::sin(kPi * t) / (kPi * t);
    return sinc * window;
}

// A NaN or an infinity would spread over every output whose taps reach it; it becomes
// silence for its own sample only, as the conversion to 16 bits treats it. x - x is NaN
// exactly when x is not finite, and the loop vectorises.
inline void CopyFinite(const float* in, size_t count, float* out) {
    for (size_t i = 0; i < count; ++i) {
        const float x = in[i];
        out[i] = x - x == 0.0f ? x : 0.0f;
    }
}

// Interpolated taps for the fractional delay `fraction` / 2^32.
inline void InterpolateTaps(const float* coefficients, const float* slopes, uint32_t fraction,
                            float* taps) {
    const size_t row = (fraction >> kWeightBits) * kTaps;
    const float weight =
        static_cast<float>(fraction & ((uint32_t{1} << kWeightBits) - 1)) * kWeightScale;
    for (size_t m = 0; m < kTaps; ++m) {
        taps[m] = coefficients[row + m] + weight * slopes[row + m];
    }
}

#if defined(__x86_64__) || defined(_M_X64)

// AVX2 alone does not promise FMA, which the AVX2 kernel uses.
bool CpuHasFma() {
#    if defined(__GNUC__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("fma");
#    elif defined(_MSC_VER)
    int info[4] = {};
    __cpuid(info, 1);
    return (info[2] & (1 << 12)) != 0;
#    else
    return false;
#    endif
}

bool PathAvailable(ConversionPath path) {
    switch (path) {
    case ConversionPath::Sse2: return true;
    case ConversionPath::Avx2:
        return IsConversionPathAvailable(ConversionPath::Avx2) && CpuHasFma();
    default: return true;
    }
}

detail::StereoKernel KernelFor(ConversionPath path) {
    switch (path) {
    case ConversionPath::Sse2: return detail::ResampleStereoSse2;
    case ConversionPath::Avx2: return detail::ResampleStereoAvx2;
    default: return nullptr;
    }
}

#else

bool PathAvailable(ConversionPath path) {
    return path == ConversionPath::Scalar || path == ConversionPath::Reference;
}

detail::StereoKernel KernelFor(ConversionPath /*path*/) {
    return nullptr;
}

#endif

} // namespace

#if defined(__x86_64__) || defined(_M_X64)

namespace detail {

// One output per pass, four values at a time, with separate multiply and add; otherwise
// as the AVX2 kernel.
size_t ResampleStereoSse2(StereoTables tables, const float* frames, size_t frameCount,
                          uint64_t step, ResamplePosition& position, float* out) noexcept {
    constexpr size_t kRowFloats = 2 * kTaps;
    static_assert(kRowFloats % 8 == 0, "a stereo row must be whole pairs of SSE vectors");
    const uint32_t stepFraction = static_cast<uint32_t>(step);
    const size_t stepWhole = static_cast<size_t>(step >> 32);
    size_t index = position.index;
    uint32_t fraction = position.fraction;
    size_t written = 0;
    while (index + kTaps <= frameCount) {
        const size_t row = (fraction >> kWeightBits) * kRowFloats;
        const float* coefficients = tables.rows + row;
        const float* slopes = tables.slopes + row;
        const float* window = frames + index * 2;
        const __m128 weight = _mm_set1_ps(
            static_cast<float>(fraction & ((uint32_t{1} << kWeightBits) - 1)) * kWeightScale);
        __m128 even = _mm_setzero_ps();
        __m128 odd = _mm_setzero_ps();
        for (size_t v = 0; v < kRowFloats; v += 8) {
            const __m128 tapsA = _mm_add_ps(_mm_loadu_ps(coefficients + v),
                                            _mm_mul_ps(weight, _mm_loadu_ps(slopes + v)));
            const __m128 tapsB = _mm_add_ps(_mm_loadu_ps(coefficients + v + 4),
                                            _mm_mul_ps(weight, _mm_loadu_ps(slopes + v + 4)));
            even = _mm_add_ps(even, _mm_mul_ps(tapsA, _mm_loadu_ps(window + v)));
            odd = _mm_add_ps(odd, _mm_mul_ps(tapsB, _mm_loadu_ps(window + v + 4)));
        }
        __m128 sum = _mm_add_ps(even, odd);
        sum = _mm_add_ps(sum, _mm_movehl_ps(sum, sum));
        _mm_storel_pi(reinterpret_cast<__m64*>(out + 2 * written), sum);
        ++written;
        const uint64_t next = uint64_t{fraction} + stepFraction;
        fraction = static_cast<uint32_t>(next);
        index += stepWhole + static_cast<size_t>(next >> 32);
    }
    position.index = index;
    position.fraction = fraction;
    return written;
}

} // namespace detail

#endif

// Rows for phases 0 .. kPhases (the last is phase 0 one tap on), and each row's step to the
// next, so that an interpolated coefficient costs one multiply-add; and the same with every
// tap written twice, for the stereo kernels.
struct VariableRateResampler::Tables {
    FloatTable coefficients;
    FloatTable slopes;
    FloatTable stereoCoefficients;
    FloatTable stereoSlopes;

    Tables()
        : coefficients((kPhases + 1) * kTaps), slopes((kPhases + 1) * kTaps),
          stereoCoefficients(2 * (kPhases + 1) * kTaps), stereoSlopes(2 * (kPhases + 1) * kTaps) {
        // Tap m of the window starting at frame i meets input frame i + m; the output
        // instant lies kTaps / 2 - 1 + phase frames after i.
        std::vector<double> row(kTaps);
        for (size_t p = 0; p <= kPhases; ++p) {
            const double phase = static_cast<double>(p) / static_cast<double>(kPhases);
            double sum = 0.0;
            for (size_t m = 0; m < kTaps; ++m) {
                row[m] =
                    Kernel(static_cast<double>(kTaps / 2 - 1) + phase - static_cast<double>(m));
                sum += row[m];
            }
            for (size_t m = 0; m < kTaps; ++m) {
                coefficients[p * kTaps + m] = static_cast<float>(row[m] / sum);
            }
        }
        for (size_t p = 0; p < kPhases; ++p) {
            for (size_t m = 0; m < kTaps; ++m) {
                slopes[p * kTaps + m] =
                    coefficients[(p + 1) * kTaps + m] - coefficients[p * kTaps + m];
            }
        }
        for (size_t i = 0; i < coefficients.size(); ++i) {
            stereoCoefficients[2 * i] = stereoCoefficients[2 * i + 1] = coefficients[i];
            stereoSlopes[2 * i] = stereoSlopes[2 * i + 1] = slopes[i];
        }
    }
};

const VariableRateResampler::Tables& VariableRateResampler::SharedTables() {
    // Built by the first caller; C++11 makes concurrent first calls wait for it
    // ([stmt.dcl]/4), which GCC and Clang implement with __cxa_guard_acquire on every
    // target we build, MinGW included. Building takes about a millisecond, so a change
    // of latency target no longer does.
    static const Tables shared;
    return shared;
}

VariableRateResampler::VariableRateResampler(uint32_t channelCount)
    : channels(std::max<uint32_t>(channelCount, 1)), tables(SharedTables()),
      buffer((kTaps + kChunkFrames) * channels), bufferFrames(kTaps + kChunkFrames) {
    if (channels == 2) {
        UsePath(ConversionPath::Avx2);
        if (path != ConversionPath::Avx2) {
            UsePath(ConversionPath::Sse2);
        }
    }
    Reset();
}

ConversionPath VariableRateResampler::UsePath(ConversionPath requested) {
    if (requested == ConversionPath::Reference) {
        requested = ConversionPath::Scalar;
    }
    if (channels == 2 && PathAvailable(requested)) {
        path = requested;
        stereoKernel = KernelFor(path);
    }
    return path;
}

void VariableRateResampler::Reset() {
    std::fill(buffer.begin(), buffer.end(), 0.0f);
    buffered = kTaps - 1;
    position = {0, 0};
    primeHistory = false;
    SetRatio(1.0);
}

void VariableRateResampler::StartAtNextInput(bool stretchFirstBlock) {
    Reset();
    stretchFirst = stretchFirstBlock;
    // The next output's instant, kTaps / 2 - 1 frames into its window, lands on the first
    // frame after the history.
    position = {kTaps / 2, 0};
    primeHistory = true;
}

size_t VariableRateResampler::Flush(float* out) {
    // Held input runs from the next output's instant to the last buffered frame.
    const double first = static_cast<double>(position.index + kTaps / 2 - 1) +
                         static_cast<double>(position.fraction) * 0x1p-32;
    const double last = static_cast<double>(buffered) - 1.0;
    size_t written = 0;
    if (!primeHistory && last >= first) {
        // Spacing of about one frame, stretched or squeezed by at most half a frame over
        // the whole run, so that the last output lands on the last input frame.
        const auto count = static_cast<size_t>(std::lround(last - first)) + 1;
        const double spacing = count > 1 ? (last - first) / static_cast<double>(count - 1) : 0.0;
        for (size_t k = 0; k < count; ++k) {
            const double at = k + 1 == count ? last : first + spacing * static_cast<double>(k);
            const auto whole = static_cast<size_t>(at);
            const auto weight = static_cast<float>(at - static_cast<double>(whole));
            const float* here = buffer.data() + whole * channels;
            const float* next = whole + 1 < buffered ? here + channels : here;
            for (uint32_t c = 0; c < channels; ++c) {
                out[k * channels + c] = here[c] + weight * (next[c] - here[c]);
            }
        }
        written = count;
    }
    Reset();
    return written;
}

void VariableRateResampler::SetRatio(double requested) {
    if (std::isnan(requested)) {
        requested = 1.0;
    }
    ratio = std::clamp(requested, 1.0 - kMaxDeviation, 1.0 + kMaxDeviation);
    step = static_cast<uint64_t>(std::llround(4294967296.0 / ratio));
}

size_t VariableRateResampler::MaxOutputFrames(size_t inFrames) const {
    // Fewer than kTaps frames stay buffered between calls, so the outputs of one call
    // cover at most inFrames input frames, plus one for the partial step at either end.
    return static_cast<size_t>(std::ceil(static_cast<double>(inFrames) * (1.0 + kMaxDeviation))) +
           2;
}

size_t VariableRateResampler::Process(const float* in, size_t inFrames, float* out) {
    const uint64_t steadyStep = step;
    if (primeHistory && inFrames > 0) {
        primeHistory = false;
        for (size_t frame = 0; frame < kTaps - 1; ++frame) {
            CopyFinite(in, channels, buffer.data() + frame * channels);
        }
        // The filter's delay has to come from somewhere: this first block is stretched
        // to give as many frames as it has, its last output landing the delay before its
        // last input, so that joining a stream takes nothing from its queue. 14 frames
        // over a 1024-frame block lower the pitch by 1.4 % for that block alone.
        constexpr size_t kDelay = kTaps / 2;
        if (stretchFirst && inFrames > 2 * kDelay) {
            // Output n + 1 must find its window beyond the input: n x step >= inFrames -
            // kDelay frames on from the first.
            const double spacing =
                static_cast<double>(inFrames - kDelay) / static_cast<double>(inFrames);
            step = static_cast<uint64_t>(std::ceil(spacing * 4294967296.0));
        }
    }
    size_t written = 0;
    while (inFrames > 0) {
        const size_t take = std::min(inFrames, bufferFrames - buffered);
        CopyFinite(in, take * channels, buffer.data() + buffered * channels);
        buffered += take;
        in += take * channels;
        inFrames -= take;
        written += Render(out + written * channels);
        DropConsumed();
    }
    step = steadyStep;
    return written;
}

size_t VariableRateResampler::Render(float* out) {
    if (stereoKernel != nullptr) {
        return stereoKernel({tables.stereoCoefficients.data(), tables.stereoSlopes.data()},
                            buffer.data(), buffered, step, position, out);
    }
    alignas(32) float taps[kTaps];
    size_t written = 0;
    const uint32_t stepFraction = static_cast<uint32_t>(step);
    const size_t stepWhole = static_cast<size_t>(step >> 32);
    size_t index = position.index;
    uint32_t fraction = position.fraction;
    while (index + kTaps <= buffered) {
        InterpolateTaps(tables.coefficients.data(), tables.slopes.data(), fraction, taps);
        const float* window = buffer.data() + index * channels;
        for (uint32_t c = 0; c < channels; ++c) {
            float sum = 0.0f;
            for (size_t m = 0; m < kTaps; ++m) {
                sum += taps[m] * window[m * channels + c];
            }
            out[c] = sum;
        }
        out += channels;
        ++written;
        const uint64_t next = uint64_t{fraction} + stepFraction;
        fraction = static_cast<uint32_t>(next);
        index += stepWhole + static_cast<size_t>(next >> 32);
    }
    position = {index, fraction};
    return written;
}

void VariableRateResampler::DropConsumed() {
    const size_t kept = buffered - position.index;
    std::memmove(buffer.data(), buffer.data() + position.index * channels,
                 kept * channels * sizeof(float));
    buffered = kept;
    position.index = 0;
}

} // namespace zvaudio
