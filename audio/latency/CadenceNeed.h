#pragma once

#include <array>
#include <cstddef>

namespace zvaudio {

// What depth the engine's cadence needs, told apart from what one event needed.
//
// Every window of the queue's recent depths gives a need: how far the queue fell below its
// mean, plus the buffer the platform takes. The need seen now is met at once; but only a
// need that recurs is held: one reached in windows of two separate runs within the
// history, or in a run of kSustainedWindows in a row. That is the peak detector of an
// adaptive jitter buffer, made for an engine: a burst pattern, a late audio thread or a
// block size shows in window after window; a hitch, a stall or a pause leaves one run of
// at most three windows (its own, and the two the measurement spans), and is forgotten
// as soon as it leaves the measurement. A held need stays for kHoldSeconds after it last
// recurred, then falls at kFallPerSecond, slowly enough that the depth follows without a
// cut.
//
// Not thread-safe; its owner serialises every call.
class CadenceNeed {
public:
    static constexpr size_t kHistoryWindows = 32;
    static constexpr size_t kSustainedWindows = 5;
    static constexpr double kHoldSeconds = 30.0;
    static constexpr double kFallPerSecond = 0.0003;

    // samplesPerSecond (rate x channels) converts the fall to samples. Peaks within
    // toleranceSamples of a level count as reaching it: a random lateness reaches its
    // extremes only now and then.
    CadenceNeed(double samplesPerSecond, double toleranceSamples);

    // The need measured now (samples), at `now` on the steering clock, with windows of
    // windowSeconds.
    void Observe(double need, double now, double windowSeconds);

    // The need of the windows the measurement spans now; 0 before any.
    double Seen() const { return seen; }
    // The need of the pattern that recurs in the history now; 0 before one has.
    double Recurring() const { return recurring; }
    // The same, held for kHoldSeconds after it last rose and then let fall slowly.
    double Held() const { return held; }
    // The held need is falling at kFallPerSecond.
    bool Falling() const { return falling; }

    // The queue ran dry: what the current window showed on the way says nothing of the
    // cadence. The history and what recurred in it stay.
    void Forget();

private:
    void CloseWindow(double now);
    double HighestRecurring() const;

    const double samplesPerSecond;
    const double tolerance;
    std::array<double, kHistoryWindows> peaks{}; // oldest first from `next`
    size_t filled = 0;
    size_t next = 0;
    double windowStart = -1e300;
    double windowPeak = 0.0;
    double seen = 0.0;
    double recurring = 0.0;
    double held = 0.0;
    double heldUntil = 0.0;
    bool falling = false;
    double lastClose = 0.0;
};

} // namespace zvaudio
