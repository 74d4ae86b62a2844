#pragma once

#include <cstddef>
#include <cstdint>

namespace zvbench {

// The bandwidth limit of a float-to-16-bit conversion: reads 4 bytes and writes
// 2 per value, keeping the high half of each float's bit pattern, with no
// conversion logic at all. Uses the widest vector unit this CPU offers.
void CopyHighHalves(const float* in, int16_t* out, size_t count) noexcept;
const char* CopyHighHalvesPath() noexcept;

namespace detail {
#if defined(__x86_64__) || defined(_M_X64)
void CopyHighHalvesSse2(const float* in, int16_t* out, size_t count) noexcept;
void CopyHighHalvesAvx2(const float* in, int16_t* out, size_t count) noexcept;
#endif
void CopyHighHalvesScalar(const float* in, int16_t* out, size_t count) noexcept;
} // namespace detail

} // namespace zvbench
