// The clock of a device's periods.
#pragma once

#include <chrono>
#include <cstdint>

namespace zvplatform {

// Period boundaries are whole periods counted from an origin, so neither late
// wake-ups nor rounding add up to drift; a new period length starts a new
// origin. Reads the steady clock. (A device in virtual time, such as the
// latency scenario's, is told each period's boundary and needs no clock.)
// Takes no lock: the owner's guards it.
class DeviceClock {
public:
    using Clock = std::chrono::steady_clock;

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

    Clock::time_point origin{};
    double period = 1.0;
};

} // namespace zvplatform
