#pragma once

#include <string>

namespace zvscenario {

// Changes of the engine's cadence on a running stream, one-off events (hitches with
// catch-up, device stalls, pauses), a ring too small for the cadence, jitter, rapid
// changes of target and switching control on, each judged by what the device played
// (the sine's SINAD per 50 ms window, runs of exact zeros, sample steps) and by the
// counters. Prints one markdown table and says whether every verdict was met (see
// docs/latency.md).
struct EventOptions {
    bool shortVersion = false; // the subset CTest runs
    bool longRun = false;      // adds six hours of bursts with lateness
    std::string only;          // rows whose description contains this, when set
};

bool RunEventTable(const EventOptions& options);

} // namespace zvscenario
