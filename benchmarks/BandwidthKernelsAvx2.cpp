// Built with AVX2 enabled and entered only after a run-time CPU check.
#include "BandwidthKernels.h"

#if defined(__x86_64__) || defined(_M_X64)

#    include <immintrin.h>

namespace zvbench {
namespace detail {

void CopyHighHalvesAvx2(const float* in, int16_t* out, size_t count) noexcept {
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i low =
            _mm256_srai_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i)), 16);
        const __m256i high =
            _mm256_srai_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i + 8)), 16);
        // The pack works per 128-bit lane; one permute restores the order.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(low, high), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), packed);
    }
    if (i < count) {
        CopyHighHalvesSse2(in + i, out + i, count - i);
    }
}

} // namespace detail
} // namespace zvbench

#endif
