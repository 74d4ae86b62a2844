#pragma once

namespace zvaudio {

// When a stream of events (the platform's requests, the host's blocks) happens, estimated
// from the times they reach the plug-in with a second-order delay-locked loop: the smoothed
// time of the latest event and the seconds each unit of audio takes. An event that arrives
// late because its thread was scheduled late, or early as part of a burst, moves the
// estimate by a small fraction of its deviation, so that a depth measured against it does
// not jump with the scheduling of two threads; a real change of pace (a clock's drift) is
// followed with no lasting error.
//
// Not thread-safe; its owner serialises every call.
class CadenceClock {
public:
    // secondsPerUnit: the nominal pace, which the loop starts from. bandwidthHz: of the
    // loop, far below any event rate and well above how fast a clock's rate can wander;
    // the lower, the less an event's lateness moves the estimate.
    // The loop starts wider, at kStartBandwidthHz, and narrows to bandwidthHz over its first
    // kNarrowingSeconds, so that it locks onto a cadence within a second or two and then
    // holds it steadily.
    static constexpr double kStartBandwidthHz = 1.0;
    static constexpr double kNarrowingSeconds = 5.0;
    CadenceClock(double secondsPerUnit, double bandwidthHz);

    // The pace stays within this fraction of the nominal one.
    static constexpr double kPaceRange = 0.01;

    // An event at `now` (seconds, monotonic) that starts `units` frames of audio (a host
    // block, or the buffer a platform request takes); the next event is due when they
    // have played; 0 when not known yet, which only anchors the loop. Returns how late
    // the event came against the loop's prediction (negative: early); 0 when the loop
    // had nothing to predict from, and after a restart.
    double OnEvent(double now, double units);

    // When the loop started (or restarted with a length it did not know).
    double StartTime() const { return startTime; }
    // Smoothed time of the latest event.
    double SmoothedTime() const { return smoothedTime; }
    // Seconds from the latest event to the next one; 0 while its length is unknown.
    double Period() const { return lastUnits * secondsPerUnit; }

    // Fraction of a period since the latest event's smoothed time, in [0, 1]; 0 before the
    // first event. fallbackPeriod stands in while the latest event's length is unknown.
    double FractionSince(double now, double fallbackPeriod) const;

private:
    bool started = false;
    double startTime = 0.0;
    double smoothedTime = 0.0;
    double lastUnits = 0.0;
    double secondsPerUnit;
    double nominalSecondsPerUnit;
    double bandwidthHz;
};

} // namespace zvaudio
