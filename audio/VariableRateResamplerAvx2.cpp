// Built with AVX2 and FMA enabled and entered only after a run-time CPU check. Only the
// class's constants are used from its header, so no inline function compiled for AVX2 can
// be picked by the linker for callers on CPUs without it.
#include "VariableRateResampler.h"
#include "VariableRateResamplerKernels.h"

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

} // namespace

// Per output frame: interpolate the row between the two nearest phases (one FMA per eight
// values) and multiply it with the window's interleaved frames, in two chains so that
// neither waits on the other; the lanes then add up to left and right.
size_t ResampleStereoAvx2(StereoTables tables, const float* frames, size_t frameCount,
                          uint64_t step, ResamplePosition& position, float* out) noexcept {
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
        const __m256 weight =
            _mm256_set1_ps(static_cast<float>(fraction & kWeightMask) * kWeightScale);
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
        __m128 half = _mm_add_ps(_mm256_castps256_ps128(sum), _mm256_extractf128_ps(sum, 1));
        half = _mm_add_ps(half, _mm_movehl_ps(half, half));
        _mm_storel_pi(reinterpret_cast<__m64*>(out + 2 * written), half);
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
} // namespace zvaudio

#endif
