#include "DeviceClock.h"

namespace zvplatform {

DeviceClock::Clock::duration DeviceClock::Of(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

void DeviceClock::Begin(double seconds) {
    origin = Clock::now();
    period = seconds;
}

DeviceClock::Clock::time_point DeviceClock::Deadline(uint64_t count) const {
    return origin + Of(period * static_cast<double>(count));
}

uint64_t DeviceClock::PeriodsElapsed() const {
    const double behind = std::chrono::duration<double>(Clock::now() - origin).count() / period;
    return behind > 0.0 ? static_cast<uint64_t>(behind) : 0;
}

void DeviceClock::Rebase(uint64_t count, double seconds) {
    origin = Deadline(count);
    period = seconds;
}

} // namespace zvplatform
