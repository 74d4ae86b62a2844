#include "latency/LatencyController.h"

#include <algorithm>
#include <cmath>

namespace zvaudio {

LatencyController::LatencyController(double bound, double slew)
    : maxCorrection(bound), slewPerSecond(slew) {}

double LatencyController::Proportional(double errorSeconds, bool& stopping) const {
    // A correction of c beyond the drift, moving by at most the slew s, takes c^2 / (2 s) of
    // depth to come back to the drift: beyond sqrt(2 s |error|) the depth would overshoot.
    const double proportional = -kProportionalGain * errorSeconds;
    const double stoppable = std::sqrt(2.0 * slewPerSecond * std::fabs(errorSeconds));
    stopping = slewPerSecond > 0.0 && std::fabs(proportional) > stoppable;
    return stopping ? std::copysign(stoppable, proportional) : proportional;
}

void LatencyController::Track(double applied, double errorSeconds) {
    bool stopping = false;
    const double proportional = Proportional(errorSeconds, stopping);
    correction = applied;
    if (stopping) {
        return; // the integral holds the drift while a large error is worked off
    }
    const double integralLimit = maxCorrection / kIntegralGain;
    integral = std::clamp((proportional - applied) / kIntegralGain, -integralLimit, integralLimit);
}

double LatencyController::Update(double errorSeconds, double elapsedSeconds, bool holdIntegral) {
    bool stopping = false;
    const double proportional = Proportional(errorSeconds, stopping);
    // While a large error is being worked off the integral holds the drift; one that does
    // not shrink says the integral is wrong, and it learns again.
    const bool workingOff = stopping && std::fabs(errorSeconds) < std::fabs(lastError);
    // The correction that holds the depth is what was applied (as late as the measurement
    // sees it) less how fast the depth moves.
    const double lagWeight = 1.0 - std::exp(-elapsedSeconds / kMeasurementLagSeconds);
    laggedCorrection += (correction - laggedCorrection) * lagWeight;
    const double holding = elapsedSeconds > 0.0
                               ? laggedCorrection - (errorSeconds - lastError) / elapsedSeconds
                               : laggedCorrection;
    lastError = errorSeconds;
    if (workingOff && !holdIntegral) {
        // Meanwhile the integral learns the drift from that, not from the error, which it
        // would wind up by.
        const double integralLimit = maxCorrection / kIntegralGain;
        const double learnt = std::clamp(-holding / kIntegralGain, -integralLimit, integralLimit);
        integral += (learnt - integral) * (1.0 - std::exp(-elapsedSeconds / kDriftSeconds));
    }
    if (!holdIntegral && !workingOff) {
        // Conditional integration: while the output is pinned at the bound, an error that
        // would pin it harder is not integrated, so that the loop does not overshoot by
        // what it wound up once the error has been worked off.
        const double integralLimit = maxCorrection / kIntegralGain;
        const double candidate =
            std::clamp(integral + errorSeconds * elapsedSeconds, -integralLimit, integralLimit);
        const double output = proportional - kIntegralGain * candidate;
        const bool windingUp = (output > maxCorrection && errorSeconds < 0.0) ||
                               (output < -maxCorrection && errorSeconds > 0.0);
        if (!windingUp) {
            integral = candidate;
        }
    }
    correction = std::clamp(proportional - kIntegralGain * integral, -maxCorrection, maxCorrection);
    return correction;
}

} // namespace zvaudio
