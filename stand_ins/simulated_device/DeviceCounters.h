// Device-wide counters behind ZVSimGetDeviceStats.
#pragma once

#include "ZVSimulatedDevice.h"

#include <atomic>
#include <cstdint>

namespace zvsim {

// Each counter is updated on its own, without a lock, from whichever thread
// made the call; a snapshot is therefore exact per field, not across fields.
class DeviceCounters {
public:
    std::atomic<uint64_t> streamsCreated{0};
    std::atomic<uint64_t> streamsDestroyed{0};
    std::atomic<uint64_t> requestsIssued{0};
    std::atomic<uint64_t> buffersFetched{0};
    std::atomic<uint64_t> fetchesNotReady{0};
    std::atomic<uint64_t> buffersPlayed{0};
    std::atomic<uint64_t> samplesPlayed{0};
    std::atomic<uint64_t> silentSamples{0};
    std::atomic<uint64_t> starvedPeriods{0};
    std::atomic<uint64_t> clockPeriods{0};

    ZVSimDeviceStats Snapshot() const;
    void Reset();

    static void Increment(std::atomic<uint64_t>& counter, uint64_t amount = 1) {
        counter.fetch_add(amount, std::memory_order_relaxed);
    }
};

} // namespace zvsim
