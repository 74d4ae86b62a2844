// Built with AVX2 enabled and entered only after a run-time CPU check. Nothing from the
// standard library is used here, so no inline function compiled for AVX2 can be picked by
// the linker for callers on CPUs without it.
#include "SampleConversion.h"

#if defined(__x86_64__) || defined(_M_X64)

#    if !defined(__AVX2__) && !defined(_MSC_VER)
#        error "SampleConversionAvx2.cpp must be compiled with AVX2 enabled (-mavx2)"
#    endif

#    include <immintrin.h>

namespace zvaudio {
namespace {

// Eight values at a time by the same rule as the scalar paths.
inline __m256i ConvertEight(__m256 x) noexcept {
    const __m256 nonNegative = _mm256_cmp_ps(x, _mm256_setzero_ps(), _CMP_GE_OQ); // NaN: false
    const __m256 scale =
        _mm256_blendv_ps(_mm256_set1_ps(32768.0f), _mm256_set1_ps(32767.0f), nonNegative);
    __m256 product = _mm256_mul_ps(x, scale);
    // vminps/vmaxps return the second operand when either is NaN; NaN lanes are zeroed below.
    product = _mm256_min_ps(product, _mm256_set1_ps(32767.0f));
    product = _mm256_max_ps(product, _mm256_set1_ps(-32768.0f));
    const __m256i truncated = _mm256_cvttps_epi32(product);
    const __m256i magnitude =
        _mm256_and_si256(_mm256_castps_si256(x), _mm256_set1_epi32(0x7fffffff));
    const __m256i finite = _mm256_cmpgt_epi32(_mm256_set1_epi32(0x7f800000), magnitude);
    return _mm256_and_si256(truncated, finite);
}

} // namespace

namespace detail {

void ConvertToPcm16Avx2(const float* in, int16_t* out, size_t count) noexcept {
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i first = ConvertEight(_mm256_loadu_ps(in + i));
        const __m256i second = ConvertEight(_mm256_loadu_ps(in + i + 8));
        // The pack works per 128-bit lane and yields first0-3 second0-3 | first4-7 second4-7;
        // swapping the middle quadwords restores sample order.
        const __m256i packed = _mm256_packs_epi32(first, second);
        const __m256i ordered = _mm256_permute4x64_epi64(packed, 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), ordered);
    }
    if (i + 8 <= count) {
        const __m256i eight = ConvertEight(_mm256_loadu_ps(in + i));
        const __m128i packed =
            _mm_packs_epi32(_mm256_castsi256_si128(eight), _mm256_extracti128_si256(eight, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
        i += 8;
    }
    if (i < count) {
        ConvertToPcm16Sse2(in + i, out + i, count - i);
    }
}

} // namespace detail
} // namespace zvaudio

#endif
