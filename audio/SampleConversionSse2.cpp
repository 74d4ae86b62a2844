#include "SampleConversion.h"

#if defined(__x86_64__) || defined(_M_X64)

#    include <emmintrin.h>

namespace zvaudio {
namespace {

// Four values at a time by the same rule as the scalar paths. SSE2 has no blend, so the
// scale is picked with and/andnot/or.
inline __m128i ConvertFour(__m128 x) noexcept {
    const __m128 nonNegative = _mm_cmpge_ps(x, _mm_setzero_ps()); // false for NaN
    const __m128 scale = _mm_or_ps(_mm_and_ps(nonNegative, _mm_set1_ps(32767.0f)),
                                   _mm_andnot_ps(nonNegative, _mm_set1_ps(32768.0f)));
    __m128 product = _mm_mul_ps(x, scale);
    // minps/maxps return the second operand when either is NaN; NaN lanes are zeroed below.
    product = _mm_min_ps(product, _mm_set1_ps(32767.0f));
    product = _mm_max_ps(product, _mm_set1_ps(-32768.0f));
    const __m128i truncated = _mm_cvttps_epi32(product);
    const __m128i magnitude = _mm_and_si128(_mm_castps_si128(x), _mm_set1_epi32(0x7fffffff));
    const __m128i finite = _mm_cmplt_epi32(magnitude, _mm_set1_epi32(0x7f800000));
    return _mm_and_si128(truncated, finite);
}

} // namespace

namespace detail {

void ConvertToPcm16Sse2(const float* in, int16_t* out, size_t count) noexcept {
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i low = ConvertFour(_mm_loadu_ps(in + i));
        const __m128i high = ConvertFour(_mm_loadu_ps(in + i + 4));
        // Values are already in range, so the saturating pack only narrows.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(low, high));
    }
    if (i + 4 <= count) {
        const __m128i four = ConvertFour(_mm_loadu_ps(in + i));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(four, four));
        i += 4;
    }
    if (i < count) {
        ConvertToPcm16Scalar(in + i, out + i, count - i);
    }
}

} // namespace detail
} // namespace zvaudio

#endif
