#include "conversion/SampleConversion.h"

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

// Values per fast block. The rare block that needs the exact rule is converted again while
// it is still in L1.
constexpr size_t kBlock = 2048;
constexpr size_t kWide = 16; // values per iteration of the fast loop

void ConvertExact(const float* in, int16_t* out, size_t count) noexcept {
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
        detail::ConvertToPcm16Scalar(in + i, out + i, count - i);
    }
}

// The common case without compare or clamp. x * 32768 is exact for every finite product,
// so subtracting max(x, 0) rounds once to the same float as x * 32767 for x >= 0 and
// leaves x * 32768 otherwise (maxps gives 0 for a NaN, whose product stays NaN). In-range
// products truncate exactly and the saturating pack clamps them; NaN, infinities and
// products beyond int32 truncate to INT32_MIN, which the caller watches for.
inline __m128i ConvertFourFast(__m128 x) noexcept {
    const __m128 scaled = _mm_mul_ps(x, _mm_set1_ps(32768.0f));
    return _mm_cvttps_epi32(_mm_sub_ps(scaled, _mm_max_ps(x, _mm_setzero_ps())));
}

inline __m128i FlagIndefinite(__m128i flags, __m128i a, __m128i b) noexcept {
    const __m128i indefinite = _mm_set1_epi32(INT32_MIN);
    return _mm_or_si128(
        flags, _mm_or_si128(_mm_cmpeq_epi32(a, indefinite), _mm_cmpeq_epi32(b, indefinite)));
}

inline __m128i ConvertSixteen(const float* in, int16_t* out, __m128i flags) noexcept {
    const __m128i a = ConvertFourFast(_mm_loadu_ps(in));
    const __m128i b = ConvertFourFast(_mm_loadu_ps(in + 4));
    const __m128i c = ConvertFourFast(_mm_loadu_ps(in + 8));
    const __m128i d = ConvertFourFast(_mm_loadu_ps(in + 12));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(a, b));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_packs_epi32(c, d));
    return FlagIndefinite(FlagIndefinite(flags, a, b), c, d);
}

// Converts count >= kWide values and returns false if any lane truncated to INT32_MIN, in
// which case the output must be redone by the exact rule.
bool ConvertFast(const float* in, int16_t* out, size_t count) noexcept {
    __m128i flags = _mm_setzero_si128();
    __m128i flagsOdd = flags;
    // One unaligned group of four covers the values before the first 16-byte boundary;
    // the loop then loads whole aligned vectors (the first few values are written twice).
    const auto address = reinterpret_cast<uintptr_t>(in);
    size_t i = ((0u - address) & 15u) / sizeof(float);
    if (i != 0) {
        const __m128i head = ConvertFourFast(_mm_loadu_ps(in));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(head, head));
        flags = FlagIndefinite(flags, head, head);
    }
    // Two independent chains so consecutive iterations do not wait on each other's flags.
    for (; i + 2 * kWide <= count; i += 2 * kWide) {
        flags = ConvertSixteen(in + i, out + i, flags);
        flagsOdd = ConvertSixteen(in + i + kWide, out + i + kWide, flagsOdd);
    }
    if (i + kWide <= count) {
        flags = ConvertSixteen(in + i, out + i, flags);
        i += kWide;
    }
    // The last values are covered by one more group ending at the end, overlapping the
    // previous ones; the values written twice are identical.
    if (i < count) {
        flagsOdd = ConvertSixteen(in + count - kWide, out + count - kWide, flagsOdd);
    }
    return _mm_movemask_epi8(_mm_or_si128(flags, flagsOdd)) == 0;
}

} // namespace

namespace detail {

void ConvertToPcm16Sse2(const float* in, int16_t* out, size_t count) noexcept {
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
