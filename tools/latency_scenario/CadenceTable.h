#pragma once

#include <string>

namespace zvscenario {

// The engine's real cadences against latency control: bursts, late blocks, a
// hitch, device buffers and rates, changes of target mid-run, and the sine's
// SINAD under jittered request and block times. Prints markdown tables and
// says whether every goal was met (see docs/latency.md).
struct CadenceOptions {
    bool shortVersion = false; // the subset CTest runs
    double seconds = 120.0;    // per run
    double changeAtSeconds = 60.0;
    double glideSeconds = 460.0; // a run whose target rises far: the glide must end in it
    double callbackJitterMs = 1.0;
    double blockJitterMs = 1.0;
    double sinadSeconds = 180.0;
    std::string svgPath; // a plot of one bursty run, when set
};

bool RunCadenceTables(const CadenceOptions& options);

} // namespace zvscenario
