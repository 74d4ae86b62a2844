#pragma once

#include <cstddef>
#include <cstdint>

// The resampler's vector kernels for interleaved stereo, one per instruction set. Each
// writes every output frame whose taps lie within `frames` and moves the read position.
namespace zvaudio {
namespace detail {

struct ResamplePosition {
    size_t index;      // first frame of the next output's window
    uint32_t fraction; // its fractional delay, in 2^-32 frames
};

// `rows` and `slopes` hold, per phase, each tap twice (left, right), so that a row lines
// up with the interleaved frames it multiplies.
struct StereoTables {
    const float* rows;
    const float* slopes;
};

using StereoKernel = size_t (*)(StereoTables tables, const float* frames, size_t frameCount,
                                uint64_t step, ResamplePosition& position, float* out) noexcept;

#if defined(__x86_64__) || defined(_M_X64)
size_t ResampleStereoSse2(StereoTables tables, const float* frames, size_t frameCount,
                          uint64_t step, ResamplePosition& position, float* out) noexcept;
size_t ResampleStereoAvx2(StereoTables tables, const float* frames, size_t frameCount,
                          uint64_t step, ResamplePosition& position, float* out) noexcept;
#endif

} // namespace detail
} // namespace zvaudio
