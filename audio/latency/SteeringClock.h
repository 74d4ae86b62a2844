#pragma once

namespace zvaudio {

// Seconds on a monotonic clock, for latency control's depth measurement. A
// tool that drives the audio paths in virtual time installs its own source;
// the plug-in itself always runs on the steady clock.
class SteeringClock {
public:
    using Source = double (*)();

    static double Now();
    // nullptr restores the steady clock.
    static void SetSource(Source source);
};

} // namespace zvaudio
