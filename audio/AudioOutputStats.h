#pragma once

#include <cstdint>

// Counters of one AudioOutput since it was created. Every field is 64 bits and
// the record has no padding, so managed code can mirror it byte for byte.
// Always: samplesQueued == samplesDelivered + samplesDropped + queuedSamples.
struct ZVAudioOutputStats {
    uint64_t samplesQueued;        // samples of host blocks handed to a ring
    uint64_t samplesDropped;       // of those, samples that left a ring unplayed
    uint64_t samplesDelivered;     // queued samples written into platform buffers
    uint64_t silenceSamples;       // zero samples padded into platform buffers
    uint64_t buffersFilled;        // platform buffers filled and handed back
    uint64_t requestsDeferred;     // platform requests that found the ring empty
    uint64_t queuedSamples;        // samples waiting in the ring now
    uint64_t ringCapacity;         // capacity of the current ring; 0 with no stream
    uint64_t samplesWithoutStream; // host samples ignored because no stream existed
};

static_assert(sizeof(ZVAudioOutputStats) == 72, "the statistics record is 72 bytes");
