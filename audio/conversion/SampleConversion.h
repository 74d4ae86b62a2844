#pragma once

#include <cstddef>
#include <cstdint>

// Float to signed 16-bit PCM. Each value is scaled by 32767 when it is >= 0 and by 32768
// otherwise (a NaN takes the second scale), in single precision, truncated toward zero and
// clamped to [-32768, 32767]. NaN and both infinities give 0.
//
// Every path gives bit-identical results for every input. The functions allocate nothing,
// take no locks and may be called from any thread, including the audio callback. `in` and
// `out` may have any alignment their types allow and must not overlap.

namespace zvaudio {

enum class ConversionPath { Reference, Scalar, Sse2, Avx2 };

// The rule written out plainly, one value at a time; the yardstick for the other paths.
int16_t ConvertSampleReference(float x) noexcept;
void ConvertToPcm16Reference(const float* in, int16_t* out, size_t count) noexcept;

// Fastest path this CPU offers, chosen on first use.
void ConvertToPcm16(const float* in, int16_t* out, size_t count) noexcept;

bool IsConversionPathAvailable(ConversionPath path) noexcept;

// Runs one named path; a path this CPU or build lacks falls back to Scalar.
void ConvertToPcm16Using(ConversionPath path, const float* in, int16_t* out, size_t count) noexcept;

const char* ConversionPathName(ConversionPath path) noexcept;
ConversionPath ActiveConversionPath() noexcept;

namespace detail {

// The kernels behind the paths. The vector kernels hand their last few values to
// ConvertToPcm16Scalar, which lives in a file built for the baseline CPU.
void ConvertToPcm16Scalar(const float* in, int16_t* out, size_t count) noexcept;
#if defined(__x86_64__) || defined(_M_X64)
void ConvertToPcm16Sse2(const float* in, int16_t* out, size_t count) noexcept;
void ConvertToPcm16Avx2(const float* in, int16_t* out, size_t count) noexcept;
#endif

} // namespace detail
} // namespace zvaudio
