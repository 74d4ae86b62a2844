#pragma once

#include "ZVAudio.h"

#include <cstdint>
#include <vector>

namespace zvscenario {

// The platform calls in virtual time, linked in place of the platform library:
// a device with three buffers in flight whose clock is advanced by the
// scenario, one period per Tick, so hours of audio run in seconds and every
// run is exactly repeatable. Single-threaded.
class VirtualDevice {
public:
    // Per device period: plays the oldest released buffer (or counts the
    // period as starved), then asks the stream for the next buffer. The first
    // tick after a start only asks.
    static void Tick();

    static uint64_t StarvedPeriods();
    static uint64_t LogLines();

    // Every released buffer's samples are appended here while it is set.
    static void CaptureInto(std::vector<int16_t>* samples);
};

} // namespace zvscenario
