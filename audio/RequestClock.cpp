#include "RequestClock.h"

#include <algorithm>
#include <cmath>

namespace zvaudio {

void RequestClock::OnRequest(double now) {
    if (requests == 0) {
        smoothedTime = now;
        requests = 1;
        return;
    }
    if (requests == 1) {
        period = std::max(now - smoothedTime, 1e-6);
        smoothedTime = now;
        requests = 2;
        return;
    }
    const double predicted = smoothedTime + period;
    const double error = now - predicted;
    if (std::fabs(error) > 2.0 * period) {
        // Requests the platform skipped (a stall), or a burst of them: the old phase no
        // longer says anything. Start again from this request with the period learnt.
        smoothedTime = now;
        return;
    }
    // Gains of a critically damped second-order loop at kBandwidthHz, per period. A
    // single late callback counts at most a quarter period, so that a stall of the
    // platform's thread cannot drag the period far.
    constexpr double kPi = 3.14159265358979323846;
    // Held below 0.5 per period so that the loop stays well damped at the longest periods.
    const double omegaT = std::min(2.0 * kPi * kBandwidthHz * period, 0.5);
    const double bounded = std::clamp(error, -0.25 * period, 0.25 * period);
    smoothedTime = predicted + std::sqrt(2.0) * omegaT * bounded;
    period += omegaT * omegaT * bounded;
}

double RequestClock::FractionSinceRequest(double now, double fallbackPeriod) const {
    if (requests == 0) {
        return 0.0;
    }
    const double interval = period > 0.0 ? period : fallbackPeriod;
    if (interval <= 0.0) {
        return 0.0;
    }
    return std::clamp((now - smoothedTime) / interval, 0.0, 1.0);
}

} // namespace zvaudio
