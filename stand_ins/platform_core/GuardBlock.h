// Memory that a careless platform leaves a failed fetch's descriptor pointing
// at, to prove that the plug-in never writes through such a descriptor.
#pragma once

#include "ZVAudio.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace zvplatform {

class GuardBlock {
public:
    static constexpr uint8_t kPattern = 0x3C;

    GuardBlock() { Reset(); }
    void Reset() { bytes.fill(kPattern); }
    void PointAt(AudioOutputBuffer* descriptor) {
        descriptor->data = bytes.data();
        descriptor->size = static_cast<uint32_t>(bytes.size());
    }
    bool Untouched() const {
        return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == kPattern; });
    }

private:
    std::array<uint8_t, 128> bytes{};
};

} // namespace zvplatform
