#pragma once

#include "CacheLineAllocator.h"

#include <cstdint>

namespace zvaudio {

// Fixed-capacity circular store of interleaved 16-bit samples between the
// host's pushes and the platform's pulls. It never blocks, never grows after
// construction and never refuses a write: when a write brings more than there
// is room for, the oldest queued samples are overwritten.
//
// The ring takes no lock of its own. Every call on a ring that the owner has
// installed must run under the owner's stream mutex. Construction and
// destruction need no lock and deliberately run outside it: a new ring is
// built (and zero-filled) before the owner takes the mutex to install it, and
// a released one is freed after the owner has let the mutex go, so neither
// stalls the platform's thread.
class SampleRingBuffer {
public:
    // The largest capacity: indexes and counts are signed 32-bit values.
    static constexpr uint32_t kMaxCapacity = 0x7FFFFFFFu;

    // Capacity is fixed; the only allocation happens here. Capacities above
    // kMaxCapacity are refused with std::length_error.
    explicit SampleRingBuffer(uint32_t capacity);

    // Queues source[0 .. count). A count of zero or less changes nothing.
    void Write(const int16_t* source, int32_t count);

    // Moves up to n of the oldest queued samples into destination and returns
    // how many were moved. The caller pads whatever remains.
    uint32_t Take(int16_t* destination, uint32_t n);

    // Inline: the request path asks this on every platform request.
    uint32_t Available() const {
        if (readIndex == -1) {
            return 0;
        }
        const int32_t queued = writeIndex - readIndex + 1;
        return static_cast<uint32_t>(queued > 0 ? queued : queued + Cap());
    }
    uint32_t Capacity() const { return static_cast<uint32_t>(samples.size()); }

private:
    int32_t Cap() const { return static_cast<int32_t>(samples.size()); }
    void CopyIn(int32_t slot, const int16_t* source, int32_t count);
    void CopyOut(int16_t* destination, int32_t slot, int32_t count) const;

    CacheLineSamples samples;
    int32_t readIndex = -1;
    int32_t writeIndex = -1;
};

} // namespace zvaudio
