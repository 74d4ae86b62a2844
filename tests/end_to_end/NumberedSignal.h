// A test signal whose every sample names its own position, so that a played
// stream can be checked sample by sample after any drops and padding.
#pragma once

#include <cstdint>
#include <vector>

// Sample i carries code i mod kPeriod, mapped onto every 16-bit value but 0:
// codes 0..32767 become -32768..-1 and codes 32768..65534 become 1..32767.
// Zero stays reserved, so every zero the device plays is padding. As floats
// the values are v / 32768 below zero and v / 32767 above, which the
// plug-in's conversion turns back into v exactly.
class NumberedSignal {
public:
    static constexpr uint64_t kPeriod = 65535;

    static int16_t Value(uint64_t index) {
        const auto code = static_cast<int32_t>(index % kPeriod);
        return static_cast<int16_t>(code < 32768 ? code - 32768 : code - 32767);
    }

    static float HostSample(uint64_t index) {
        const int16_t value = Value(index);
        return static_cast<float>(value) / (value < 0 ? 32768.0f : 32767.0f);
    }

    // The code a non-zero played value stands for.
    static uint64_t Code(int16_t value) {
        return static_cast<uint64_t>(value < 0 ? value + 32768 : value + 32767);
    }

    // Host samples first..first+count-1.
    static std::vector<float> Block(uint64_t first, std::size_t count) {
        std::vector<float> block(count);
        for (std::size_t i = 0; i < count; ++i) {
            block[i] = HostSample(first + i);
        }
        return block;
    }
};
