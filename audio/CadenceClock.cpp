#include "CadenceClock.h"

#include <algorithm>
#include <cmath>

namespace zvaudio {

CadenceClock::CadenceClock(double nominal, double bandwidth)
    : secondsPerUnit(std::max(nominal, 1e-12)), bandwidthHz(bandwidth) {}

void CadenceClock::OnEvent(double now, double units) {
    units = std::max(units, 1.0);
    if (!started) {
        smoothedTime = now;
        startTime = now;
        lastUnits = units;
        started = true;
        return;
    }
    const double period = lastUnits * secondsPerUnit;
    const double predicted = smoothedTime + period;
    const double error = now - predicted;
    if (std::fabs(error) > 8.0 * period) {
        // A stall or a burst far beyond the usual: the old phase says nothing any more.
        // Start again from this event with the pace learnt.
        smoothedTime = now;
        lastUnits = units;
        return;
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
    secondsPerUnit += omegaT * omegaT * bounded / lastUnits;
    secondsPerUnit = std::max(secondsPerUnit, 1e-12);
    lastUnits = units;
}

double CadenceClock::FractionSince(double now) const {
    if (!started) {
        return 0.0;
    }
    return std::clamp((now - smoothedTime) / Period(), 0.0, 1.0);
}

} // namespace zvaudio
