#include "BandwidthKernels.h"

#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#    include <emmintrin.h>
#endif

namespace zvbench {

namespace detail {

void CopyHighHalvesScalar(const float* in, int16_t* out, size_t count) noexcept {
    for (size_t i = 0; i < count; ++i) {
        uint32_t bits = 0;
        std::memcpy(&bits, &in[i], sizeof bits);
        out[i] = static_cast<int16_t>(bits >> 16);
    }
}

#if defined(__x86_64__) || defined(_M_X64)
void CopyHighHalvesSse2(const float* in, int16_t* out, size_t count) noexcept {
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        // An arithmetic shift keeps each high half within int16, so the
        // saturating pack passes it through unchanged.
        const __m128i low =
            _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)), 16);
        const __m128i high =
            _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 4)), 16);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(low, high));
    }
    CopyHighHalvesScalar(in + i, out + i, count - i);
}
#endif

} // namespace detail

namespace {

#if defined(__x86_64__) || defined(_M_X64)
bool HasAvx2() noexcept {
#    if defined(__GNUC__)
    return __builtin_cpu_supports("avx2");
#    else
    return false;
#    endif
}
#endif

} // namespace

void CopyHighHalves(const float* in, int16_t* out, size_t count) noexcept {
#if defined(__x86_64__) || defined(_M_X64)
    static const bool avx2 = HasAvx2();
    if (avx2) {
        detail::CopyHighHalvesAvx2(in, out, count);
    } else {
        detail::CopyHighHalvesSse2(in, out, count);
    }
#else
    detail::CopyHighHalvesScalar(in, out, count);
#endif
}

const char* CopyHighHalvesPath() noexcept {
#if defined(__x86_64__) || defined(_M_X64)
    return HasAvx2() ? "AVX2" : "SSE2";
#else
    return "Scalar";
#endif
}

} // namespace zvbench
