#include "LatencyController.h"

#include <algorithm>

namespace zvaudio {

LatencyController::LatencyController(double bound) : maxCorrection(bound) {}

void LatencyController::Reset() {
    integral = 0.0;
    correction = 0.0;
}

double LatencyController::Update(double errorSeconds, double elapsedSeconds, bool holdIntegral) {
    if (!holdIntegral) {
        const double integralLimit = maxCorrection / kIntegralGain;
        integral =
            std::clamp(integral + errorSeconds * elapsedSeconds, -integralLimit, integralLimit);
    }
    correction = std::clamp(-(kProportionalGain * errorSeconds + kIntegralGain * integral),
                            -maxCorrection, maxCorrection);
    return correction;
}

} // namespace zvaudio
