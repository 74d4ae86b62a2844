#include "DeviceCounters.h"

#include <initializer_list>

namespace zvsim {

ZVSimDeviceStats DeviceCounters::Snapshot() const {
    ZVSimDeviceStats stats{};
    stats.streamsCreated = streamsCreated.load(std::memory_order_relaxed);
    stats.streamsDestroyed = streamsDestroyed.load(std::memory_order_relaxed);
    stats.requestsIssued = requestsIssued.load(std::memory_order_relaxed);
    stats.buffersFetched = buffersFetched.load(std::memory_order_relaxed);
    stats.fetchesNotReady = fetchesNotReady.load(std::memory_order_relaxed);
    stats.buffersPlayed = buffersPlayed.load(std::memory_order_relaxed);
    stats.samplesPlayed = samplesPlayed.load(std::memory_order_relaxed);
    stats.silentSamples = silentSamples.load(std::memory_order_relaxed);
    stats.starvedPeriods = starvedPeriods.load(std::memory_order_relaxed);
    stats.clockPeriods = clockPeriods.load(std::memory_order_relaxed);
    return stats;
}

void DeviceCounters::Reset() {
    for (std::atomic<uint64_t>* counter :
         {&streamsCreated, &streamsDestroyed, &requestsIssued, &buffersFetched, &fetchesNotReady,
          &buffersPlayed, &samplesPlayed, &silentSamples, &starvedPeriods, &clockPeriods}) {
        counter->store(0, std::memory_order_relaxed);
    }
}

} // namespace zvsim
