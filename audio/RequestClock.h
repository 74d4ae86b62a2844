#pragma once

namespace zvaudio {

// The platform's request cadence, estimated from the times its requests reach the
// plug-in with a second-order delay-locked loop: the smoothed time of the latest request
// and the period between requests. A callback that runs late because its thread was
// scheduled late moves the estimate by a small fraction of its lateness, so the depth
// measured against it does not jump with the scheduling of two threads; a real change of
// cadence (the device clock's drift) is followed with no lasting error.
//
// Not thread-safe; its owner serialises every call.
class RequestClock {
public:
    // Loop bandwidth: a time constant of about a second, far below any period rate and
    // well above how fast a device clock's rate can wander.
    static constexpr double kBandwidthHz = 0.2;

    // A request at `now` (seconds, monotonic).
    void OnRequest(double now);

    // Fraction of a period since the latest request's smoothed time, in [0, 1]; 0 before
    // the first request. fallbackPeriod stands in until two requests give a period.
    double FractionSinceRequest(double now, double fallbackPeriod) const;

    bool HasRequest() const { return requests > 0; }
    // Seconds between requests; 0 until two requests have been seen.
    double Period() const { return period; }

private:
    unsigned requests = 0; // saturates at 2
    double smoothedTime = 0.0;
    double period = 0.0;
};

} // namespace zvaudio
