#include "latency/CadenceNeed.h"

#include <algorithm>

namespace zvaudio {

CadenceNeed::CadenceNeed(double rate, double toleranceSamples)
    : samplesPerSecond(rate), tolerance(toleranceSamples) {}

void CadenceNeed::Observe(double need, double now, double windowSeconds) {
    if (now - windowStart >= windowSeconds) {
        if (windowStart > -1e299) {
            CloseWindow(now);
        }
        windowStart = now;
        windowPeak = 0.0;
    }
    windowPeak = std::max(windowPeak, need);
    seen = need;
}

void CadenceNeed::Forget() {
    windowPeak = 0.0;
    seen = 0.0;
}

void CadenceNeed::CloseWindow(double now) {
    peaks[next] = windowPeak;
    next = (next + 1) % kHistoryWindows;
    filled = std::min(filled + 1, kHistoryWindows);

    recurring = HighestRecurring();
    falling = false;
    if (recurring >= held) {
        held = recurring;
        heldUntil = now + kHoldSeconds;
    } else if (now > heldUntil) {
        held = std::max(recurring, held - kFallPerSecond * samplesPerSecond * (now - lastClose));
        falling = held > recurring;
    }
    lastClose = now;
}

double CadenceNeed::HighestRecurring() const {
    // The highest level reached (within the tolerance) in two separate runs of windows, or
    // in one long run.
    double best = 0.0;
    const size_t first = (next + kHistoryWindows - filled) % kHistoryWindows;
    for (size_t c = 0; c < filled; ++c) {
        const double level = peaks[(first + c) % kHistoryWindows];
        if (level <= best) {
            continue;
        }
        size_t runs = 0;
        size_t run = 0;
        size_t longest = 0;
        for (size_t i = 0; i < filled; ++i) {
            if (peaks[(first + i) % kHistoryWindows] >= level - tolerance) {
                runs += run == 0 ? 1 : 0;
                longest = std::max(longest, ++run);
            } else {
                run = 0;
            }
        }
        if (runs >= 2 || longest >= kSustainedWindows) {
            best = level;
        }
    }
    return best;
}

} // namespace zvaudio
