// The clock of a device's periods, on real time or on time a caller moves on.
#pragma once

#include <chrono>
#include <cstdint>

namespace zvplatform {

// Period boundaries are whole periods counted from an origin, so neither late
// wake-ups nor rounding add up to drift; a new period length starts a new
// origin. A real clock reads the steady clock; a virtual one stands still
// until moved on, so that hours of a device run in seconds and repeat exactly.
// Takes no lock: the owner's guards it.
class DeviceClock {
public:
    using Clock = std::chrono::steady_clock;
    enum class Source { Real, Virtual };

    explicit DeviceClock(Source timeSource) : source(timeSource) {}

    Clock::time_point Now() const { return source == Source::Real ? Clock::now() : virtualNow; }
    // Virtual clocks only: time moves on by `periods` of the current length.
    void AdvancePeriods(uint64_t periods);

    // Counts periods of `seconds` from now.
    void Begin(double seconds);
    double PeriodSeconds() const { return period; }
    // The end of period `count` since the origin.
    Clock::time_point Deadline(uint64_t count) const;
    // Whole periods gone by since the origin.
    uint64_t PeriodsElapsed() const;
    // Periods of `seconds` from the end of period `count` on, counted from 0 again.
    void Rebase(uint64_t count, double seconds);

private:
    static Clock::duration Of(double seconds);

    Source source;
    Clock::time_point virtualNow{};
    Clock::time_point origin{};
    double period = 1.0;
};

} // namespace zvplatform
