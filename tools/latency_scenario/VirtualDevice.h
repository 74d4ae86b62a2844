#pragma once

#include "ZVAudio.h"

#include <cstdint>
#include <vector>

namespace zvscenario {

// The platform calls in virtual time, linked in place of the platform library:
// a device with three buffers in flight whose clock is advanced by the
// scenario, so hours of audio run in seconds and every run is exactly
// repeatable. Each period the scenario calls Play at the period's boundary and
// Request when the callback runs, which a real platform's scheduling may
// delay; the device keeps playing on its own schedule meanwhile.
// Single-threaded.
class VirtualDevice {
public:
    struct Played {
        const int16_t* samples; // null when the period played silence
        uint32_t count;         // samples of the period; 0 for the first after a start
        bool starved;           // no released buffer was there to play
    };

    // At a period's boundary: plays the oldest released buffer, or counts the
    // period as starved. The first period after a start plays nothing. The
    // samples stay valid until the next Request.
    static Played Play();
    // The period's callback: asks the stream for the next buffer.
    static void Request();

    static uint64_t StarvedPeriods();
    static uint64_t LogLines();

    // Every played period's samples (silence for a starved one) are appended
    // here while it is set.
    static void CaptureInto(std::vector<int16_t>* samples);
};

} // namespace zvscenario
