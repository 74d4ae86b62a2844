// Host floats that convert to one known, non-zero 16-bit value each, so that every
// sample reaching the device can be traced back to the push it came from. Shared by
// the soak run and the plug-in fuzzer.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace zvtest {

// The conversion rule, written out independently of the plug-in: scale by 32767 for
// x >= 0 and by 32768 otherwise, in single precision, truncate toward zero, saturate;
// NaN and both infinities give 0.
inline int16_t ExpectedPcm16(float x) {
    if (std::isnan(x) || std::isinf(x)) {
        return 0;
    }
    const float product = x >= 0.0f ? x * 32767.0f : x * 32768.0f;
    if (product >= 32767.0f) {
        return 32767;
    }
    if (product <= -32768.0f) {
        return -32768;
    }
    return static_cast<int16_t>(std::trunc(product));
}

// Sequence number n maps to the non-zero value (n mod 65535) + 1, read as a signed
// 16-bit pattern. Zero is left out so that padded silence never looks like audio.
class NumberedSamples {
public:
    static constexpr uint64_t kPeriod = 65535;

    NumberedSamples() {
        for (int32_t value = -32768; value <= 32767; ++value) {
            floats[Slot(static_cast<int16_t>(value))] = FloatFor(static_cast<int16_t>(value));
        }
    }

    static int16_t ValueOf(uint64_t sequence) {
        return static_cast<int16_t>(static_cast<uint16_t>(sequence % kPeriod + 1));
    }

    float FloatOf(uint64_t sequence) const { return floats[Slot(ValueOf(sequence))]; }

    // A triangle instead, for a signal that is resampled on its way: one step per
    // sample up from -32767 to 32767 and back down, every value twice a period. The
    // ramp's jump at each wrap would come out of a resampler as values that belong
    // nowhere; the triangle's neighbours stay neighbours.
    static constexpr uint64_t kTriangleHalf = 65534;
    static constexpr uint64_t kTrianglePeriod = 2 * kTriangleHalf;

    static int16_t TriangleValueOf(uint64_t sequence) {
        const uint64_t phase = sequence % kTrianglePeriod;
        const auto step =
            static_cast<int32_t>(phase < kTriangleHalf ? phase : kTrianglePeriod - 1 - phase);
        return static_cast<int16_t>(step < 32767 ? step - 32767 : step - 32766);
    }

    float TriangleFloatOf(uint64_t sequence) const {
        return floats[Slot(TriangleValueOf(sequence))];
    }

    // The smallest sequence number >= lowest whose triangle value is `value` (non-zero;
    // -32768, which a resampler's overshoot may saturate to, reads as -32767).
    static uint64_t TriangleSequenceAtOrAfter(int16_t value, uint64_t lowest) {
        const int32_t clamped = std::max<int32_t>(value, -32767);
        const auto rising = static_cast<uint64_t>(clamped < 0 ? clamped + 32767 : clamped + 32766);
        const uint64_t falling = kTrianglePeriod - 1 - rising;
        const auto atOrAfter = [lowest](uint64_t phase) {
            return lowest + (phase + kTrianglePeriod - lowest % kTrianglePeriod) % kTrianglePeriod;
        };
        return std::min(atOrAfter(rising), atOrAfter(falling));
    }

    // The smallest sequence number >= lowest that carries value (non-zero).
    static uint64_t SequenceAtOrAfter(int16_t value, uint64_t lowest) {
        const uint64_t index = static_cast<uint16_t>(value) - uint64_t{1};
        return lowest + (index + kPeriod - lowest % kPeriod) % kPeriod;
    }

private:
    static size_t Slot(int16_t value) { return static_cast<uint16_t>(value); }

    // Negative values divide exactly by a power of two; positive ones are nudged to
    // the float whose product truncates to the value.
    static float FloatFor(int16_t value) {
        if (value <= 0) {
            return static_cast<float>(value) / 32768.0f;
        }
        float x = static_cast<float>(value) / 32767.0f;
        while (ExpectedPcm16(x) < value) {
            x = std::nextafter(x, 2.0f);
        }
        while (ExpectedPcm16(x) > value) {
            x = std::nextafter(x, 0.0f);
        }
        return x;
    }

    std::array<float, 65536> floats{};
};

} // namespace zvtest
