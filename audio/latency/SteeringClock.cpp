#include "latency/SteeringClock.h"

#include <atomic>
#include <chrono>

namespace zvaudio {

namespace {

double SteadySeconds() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count();
}

std::atomic<SteeringClock::Source> source{&SteadySeconds};

} // namespace

double SteeringClock::Now() {
    return source.load(std::memory_order_relaxed)();
}

void SteeringClock::SetSource(Source newSource) {
    source.store(newSource != nullptr ? newSource : &SteadySeconds, std::memory_order_relaxed);
}

} // namespace zvaudio
