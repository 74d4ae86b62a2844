#include "latency/CadenceClock.h"

#include <algorithm>
#include <cmath>

namespace zvaudio {

CadenceClock::CadenceClock(double nominal, double bandwidth)
    : secondsPerUnit(std::max(nominal, 1e-12)), nominalSecondsPerUnit(secondsPerUnit),
      bandwidthHz(bandwidth) {}

double CadenceClock::OnEvent(double now, double units) {
    if (!started || lastUnits <= 0.0) {
        smoothedTime = now;
        startTime = now;
        lastUnits = units;
        started = true;
        return 0.0;
    }
    const double period = lastUnits * secondsPerUnit;
    const double predicted = smoothedTime + period;
    const double error = now - predicted;
    if (std::fabs(error) > 8.0 * period) {
        // A stall or a burst far beyond the usual: the old phase says nothing any more.
        // Start again from this event with the pace learnt.
        smoothedTime = now;
        startTime = now;
        lastUnits = units;
        return 0.0;
    }
    // Gains of a critically damped second-order loop at bandwidthHz, per period, held
    // below 0.5 so that the loop stays well damped at the longest periods. Deviations
    // count at most four periods, so that one stall cannot drag the pace far.
    constexpr double kPi = 3.14159265358979323846;
    const double narrowing = std::max(0.0, 1.0 - (now - startTime) / kNarrowingSeconds);
    const double bandwidth = bandwidthHz + (kStartBandwidthHz - bandwidthHz) * narrowing;
    const double omegaT = std::min(2.0 * kPi * bandwidth * period, 0.5);
    const double bounded = std::clamp(error, -4.0 * period, 4.0 * period);
    smoothedTime = predicted + std::sqrt(2.0) * omegaT * bounded;
    // A clock's pace differs from its nominal one by its drift, a few hundred ppm; bursts
    // of events must not talk the loop into another pace.
    // While wide it only finds the phase: a pace learnt from the first few events of a
    // bursty cadence would be far off, and unlearning it takes the narrow loop long.
    const double paceGain = narrowing > 0.0 ? 0.0 : omegaT * omegaT;
    secondsPerUnit = std::clamp(secondsPerUnit + paceGain * bounded / lastUnits,
                                nominalSecondsPerUnit * (1.0 - kPaceRange),
                                nominalSecondsPerUnit * (1.0 + kPaceRange));
    lastUnits = units;
    return error;
}

double CadenceClock::FractionSince(double now, double fallbackPeriod) const {
    const double period = Period() > 0.0 ? Period() : fallbackPeriod;
    if (!started || period <= 0.0) {
        return 0.0;
    }
    return std::clamp((now - smoothedTime) / period, 0.0, 1.0);
}

} // namespace zvaudio
