// Built with AVX2 enabled and entered only after a run-time CPU check. Nothing from the
// standard library is used here, so no inline function compiled for AVX2 can be picked by
// the linker for callers on CPUs without it.
#include "conversion/SampleConversion.h"

#if defined(__x86_64__) || defined(_M_X64)

#    if !defined(__AVX2__) && !defined(_MSC_VER)
#        error "SampleConversionAvx2.cpp must be compiled with AVX2 enabled (-mavx2)"
#    endif

#    include <immintrin.h>

namespace zvaudio {
namespace {

// Values per fast block. The rare block that needs the exact rule is converted again while
// it is still in L1.
constexpr size_t kBlock = 2048;
constexpr size_t kWide = 32; // values per iteration of the fast loop

// Eight values at a time by the exact rule, as the scalar paths do it.
inline __m256i ConvertEightExact(__m256 x) noexcept {
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

void ConvertExact(const float* in, int16_t* out, size_t count) noexcept {
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i first = ConvertEightExact(_mm256_loadu_ps(in + i));
        const __m256i second = ConvertEightExact(_mm256_loadu_ps(in + i + 8));
        const __m256i packed = _mm256_packs_epi32(first, second);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            _mm256_permute4x64_epi64(packed, 0xD8));
    }
    if (i < count) {
        detail::ConvertToPcm16Sse2(in + i, out + i, count - i);
    }
}

// The common case in three operations: the scale is picked by the sign bit (blendv reads
// only that bit), and the truncation is left unclamped. In-range products truncate exactly
// and the saturating pack clamps them. Everything else (NaN, infinities, products beyond
// int32) truncates to INT32_MIN, which the caller watches for; -0 and -65536 are the only
// inputs that are right either way (0 and -32768).
inline __m256i ConvertEightFast(__m256 x) noexcept {
    const __m256 scale = _mm256_blendv_ps(_mm256_set1_ps(32767.0f), _mm256_set1_ps(32768.0f), x);
    return _mm256_cvttps_epi32(_mm256_mul_ps(x, scale));
}

// The pack works per 128-bit lane and yields a0-3 b0-3 | a4-7 b4-7; swapping the middle
// quadwords restores sample order.
inline void StoreSixteen(int16_t* out, __m256i a, __m256i b) noexcept {
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
}

inline __m256i ConvertThirtyTwo(const float* in, int16_t* out, __m256i low) noexcept {
    const __m256i a = ConvertEightFast(_mm256_loadu_ps(in));
    const __m256i b = ConvertEightFast(_mm256_loadu_ps(in + 8));
    const __m256i c = ConvertEightFast(_mm256_loadu_ps(in + 16));
    const __m256i d = ConvertEightFast(_mm256_loadu_ps(in + 24));
    StoreSixteen(out, a, b);
    StoreSixteen(out + 16, c, d);
    return _mm256_min_epi32(low, _mm256_min_epi32(_mm256_min_epi32(a, b), _mm256_min_epi32(c, d)));
}

// Converts count >= kWide values and returns false if any lane truncated to INT32_MIN, in
// which case the output must be redone by the exact rule.
bool ConvertFast(const float* in, int16_t* out, size_t count) noexcept {
    __m256i low = _mm256_set1_epi32(0x7fffffff);
    __m256i lowOdd = low;
    // One unaligned group of eight covers the values before the first 32-byte boundary;
    // the loop then loads whole aligned vectors (the first few values are written twice).
    const auto address = reinterpret_cast<uintptr_t>(in);
    size_t i = ((0u - address) & 31u) / sizeof(float);
    if (i != 0) {
        const __m256i head = ConvertEightFast(_mm256_loadu_ps(in));
        const __m128i packed =
            _mm_packs_epi32(_mm256_castsi256_si128(head), _mm256_extracti128_si256(head, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed);
        low = head;
    }
    // Two independent chains so consecutive iterations do not wait on each other's minimum.
    for (; i + 2 * kWide <= count; i += 2 * kWide) {
        low = ConvertThirtyTwo(in + i, out + i, low);
        lowOdd = ConvertThirtyTwo(in + i + kWide, out + i + kWide, lowOdd);
    }
    if (i + kWide <= count) {
        low = ConvertThirtyTwo(in + i, out + i, low);
        i += kWide;
    }
    // The last values are covered by one more group ending at the end, overlapping the
    // previous ones; the values written twice are identical.
    if (i < count) {
        lowOdd = ConvertThirtyTwo(in + count - kWide, out + count - kWide, lowOdd);
    }
    const __m256i flagged =
        _mm256_cmpeq_epi32(_mm256_min_epi32(low, lowOdd), _mm256_set1_epi32(INT32_MIN));
    return _mm256_testz_si256(flagged, flagged) != 0;
}

} // namespace

namespace detail {

void ConvertToPcm16Avx2(const float* in, int16_t* out, size_t count) noexcept {
    if (count < kWide) {
        ConvertExact(in, out, count);
        return;
    }
    size_t done = 0;
    while (done < count) {
        // Full blocks, then whatever is left in one block of kBlock up to 2 * kBlock - 1
        // values, so that no block is shorter than kWide.
        const size_t left = count - done;
        const size_t length = left >= 2 * kBlock ? kBlock : left;
        if (!ConvertFast(in + done, out + done, length)) {
            ConvertExact(in + done, out + done, length);
        }
        done += length;
    }
}

} // namespace detail
} // namespace zvaudio

#endif
