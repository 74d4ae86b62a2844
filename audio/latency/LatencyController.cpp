#include "latency/LatencyController.h"

#include <algorithm>

namespace zvaudio {

LatencyController::LatencyController(double bound) : maxCorrection(bound) {}

void LatencyController::Track(double applied, double errorSeconds) {
    const double integralLimit = maxCorrection / kIntegralGain;
    integral = std::clamp(-(applied + kProportionalGain * errorSeconds) / kIntegralGain,
                          -integralLimit, integralLimit);
    correction = applied;
}

double LatencyController::Update(double errorSeconds, double elapsedSeconds, bool holdIntegral) {
    if (!holdIntegral) {
        // Conditional integration: while the output is pinned at the bound, an error that
        // would pin it harder is not integrated, so that the loop does not overshoot by
        // what it wound up once the error has been worked off.
        const double integralLimit = maxCorrection / kIntegralGain;
        const double candidate =
            std::clamp(integral + errorSeconds * elapsedSeconds, -integralLimit, integralLimit);
        const double output = -(kProportionalGain * errorSeconds + kIntegralGain * candidate);
        const bool windingUp = (output > maxCorrection && errorSeconds < 0.0) ||
                               (output < -maxCorrection && errorSeconds > 0.0);
        if (!windingUp) {
            integral = candidate;
        }
    }
    correction = std::clamp(-(kProportionalGain * errorSeconds + kIntegralGain * integral),
                            -maxCorrection, maxCorrection);
    return correction;
}

} // namespace zvaudio
