// Built with AVX2 and FMA enabled and entered only after a run-time CPU check. Only the
// class's constants are used from its header, so no inline function compiled for AVX2 can
// be picked by the linker for callers on CPUs without it.
#include "latency/VariableRateResampler.h"
#include "latency/VariableRateResamplerKernels.h"

#if defined(__x86_64__) || defined(_M_X64)

#    if !(defined(__AVX2__) && defined(__FMA__)) && !defined(_MSC_VER)
#        error "VariableRateResamplerAvx2.cpp must be compiled with -mavx2 -mfma"
#    endif

#    include <immintrin.h>

namespace zvaudio {
namespace detail {
namespace {

constexpr size_t kTaps = VariableRateResampler::kTaps;
constexpr uint32_t kWeightBits = 32 - VariableRateResampler::kPhaseBits;
constexpr uint32_t kWeightMask = (uint32_t{1} << kWeightBits) - 1;
constexpr float kWeightScale = 1.0f / static_cast<float>(uint32_t{1} << kWeightBits);
constexpr size_t kRowFloats = 2 * kTaps;
constexpr size_t kVectors = kRowFloats / 8;
static_assert(kRowFloats % 8 == 0, "a stereo row must be whole AVX vectors");

// Interpolates the taps for `weight` from a row and its slopes and multiplies them with
// the window's interleaved frames, in two chains so that neither waits on the other.
// Returns four lanes holding left, right, left, right partial sums.
inline __m128 Dot(const float* coefficients, const float* slopes, __m256 weight,
                  const float* window) noexcept {
    __m256 even = _mm256_setzero_ps();
    __m256 odd = _mm256_setzero_ps();
    for (size_t v = 0; v < kVectors; ++v) {
        const __m256 taps = _mm256_fmadd_ps(weight, _mm256_loadu_ps(slopes + 8 * v),
                                            _mm256_loadu_ps(coefficients + 8 * v));
        if (v % 2 == 0) {
            even = _mm256_fmadd_ps(taps, _mm256_loadu_ps(window + 8 * v), even);
        } else {
            odd = _mm256_fmadd_ps(taps, _mm256_loadu_ps(window + 8 * v), odd);
        }
    }
    const __m256 sum = _mm256_add_ps(even, odd);
    return _mm_add_ps(_mm256_castps256_ps128(sum), _mm256_extractf128_ps(sum, 1));
}

// The same for two outputs whose phases share a row, which is most pairs at ratios this
// close to 1: each row and slope vector is loaded once for both, so the loop does a third
// fewer loads, its limit. Every sum is formed as in Dot, so pairing changes no result.
inline void DotPair(const float* coefficients, const float* slopes, __m256 weightA, __m256 weightB,
                    const float* windowA, const float* windowB, __m128& sumA,
                    __m128& sumB) noexcept {
    __m256 evenA = _mm256_setzero_ps();
    __m256 oddA = _mm256_setzero_ps();
    __m256 evenB = _mm256_setzero_ps();
    __m256 oddB = _mm256_setzero_ps();
    for (size_t v = 0; v < kVectors; ++v) {
        const __m256 row = _mm256_loadu_ps(coefficients + 8 * v);
        const __m256 slope = _mm256_loadu_ps(slopes + 8 * v);
        const __m256 tapsA = _mm256_fmadd_ps(weightA, slope, row);
        const __m256 tapsB = _mm256_fmadd_ps(weightB, slope, row);
        if (v % 2 == 0) {
            evenA = _mm256_fmadd_ps(tapsA, _mm256_loadu_ps(windowA + 8 * v), evenA);
            evenB = _mm256_fmadd_ps(tapsB, _mm256_loadu_ps(windowB + 8 * v), evenB);
        } else {
            oddA = _mm256_fmadd_ps(tapsA, _mm256_loadu_ps(windowA + 8 * v), oddA);
            oddB = _mm256_fmadd_ps(tapsB, _mm256_loadu_ps(windowB + 8 * v), oddB);
        }
    }
    const __m256 totalA = _mm256_add_ps(evenA, oddA);
    const __m256 totalB = _mm256_add_ps(evenB, oddB);
    sumA = _mm_add_ps(_mm256_castps256_ps128(totalA), _mm256_extractf128_ps(totalA, 1));
    sumB = _mm_add_ps(_mm256_castps256_ps128(totalB), _mm256_extractf128_ps(totalB, 1));
}

inline __m256 Weight(uint32_t fraction) noexcept {
    return _mm256_set1_ps(static_cast<float>(fraction & kWeightMask) * kWeightScale);
}

} // namespace

size_t ResampleStereoAvx2(StereoTables tables, const float* frames, size_t frameCount,
                          uint64_t step, ResamplePosition& position, float* out) noexcept {
    const uint32_t stepFraction = static_cast<uint32_t>(step);
    const size_t stepWhole = static_cast<size_t>(step >> 32);
    size_t index = position.index;
    uint32_t fraction = position.fraction;
    size_t written = 0;
    while (index + kTaps <= frameCount) {
        const uint64_t second = uint64_t{fraction} + stepFraction;
        const uint32_t fractionB = static_cast<uint32_t>(second);
        const size_t indexB = index + stepWhole + static_cast<size_t>(second >> 32);
        const size_t row = (fraction >> kWeightBits) * kRowFloats;
        if (indexB + kTaps <= frameCount &&
            (fractionB >> kWeightBits) == (fraction >> kWeightBits)) {
            __m128 sumA;
            __m128 sumB;
            DotPair(tables.rows + row, tables.slopes + row, Weight(fraction), Weight(fractionB),
                    frames + index * 2, frames + indexB * 2, sumA, sumB);
            // Left and right of each: lanes 0 + 2 and 1 + 3.
            const __m128 both = _mm_add_ps(_mm_shuffle_ps(sumA, sumB, _MM_SHUFFLE(1, 0, 1, 0)),
                                           _mm_shuffle_ps(sumA, sumB, _MM_SHUFFLE(3, 2, 3, 2)));
            _mm_storeu_ps(out + 2 * written, both);
            written += 2;
            const uint64_t third = uint64_t{fractionB} + stepFraction;
            fraction = static_cast<uint32_t>(third);
            index = indexB + stepWhole + static_cast<size_t>(third >> 32);
            continue;
        }
        __m128 sum =
            Dot(tables.rows + row, tables.slopes + row, Weight(fraction), frames + index * 2);
        sum = _mm_add_ps(sum, _mm_movehl_ps(sum, sum));
        _mm_storel_pi(reinterpret_cast<__m64*>(out + 2 * written), sum);
        ++written;
        fraction = fractionB;
        index = indexB;
    }
    position.index = index;
    position.fraction = fraction;
    return written;
}

} // namespace detail
} // namespace zvaudio

#endif
