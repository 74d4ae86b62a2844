#pragma once

#include "ZVAudio.h"

#include <cstdint>

namespace zvbench {

// The platform calls and the logger for the benchmarks, linked in place of
// the platform libraries: every call succeeds at once, one preallocated buffer
// is lent over and over, and nothing is recorded, so that a measured fill costs
// only the plug-in's own work. Single-threaded use only.
class BenchmarkPlatform {
public:
    // Size of the lent buffer; allocates, so call it outside timed regions.
    static void SetBufferBytes(uint32_t bytes);

    // Raises a buffer request for the current stream on the calling thread, as
    // the platform's thread would.
    static void RaiseRequest();

    static ZVSoundHandle CurrentHandle();
    // Log lines written so far; the benchmarks expect none.
    static uint64_t LogLines();
};

} // namespace zvbench
