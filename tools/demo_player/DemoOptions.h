// The demo player's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zvdemo {

// A SetAudioOutputLatencyTarget call at a time of the programme.
struct TargetChange {
    double atSeconds = 0.0;
    uint32_t milliseconds = 0;
};

// A change of the engine's or the device's behaviour at a time of the programme:
// blocks per burst, a block's largest lateness in ms, or the length of a hitch or
// a stall in ms.
struct CadenceEvent {
    double atSeconds = 0.0;
    double value = 0.0;
};

struct DemoOptions {
    std::string inputPath;                   // empty: the built-in test signal
    double seconds = 3.0;                    // length of the built-in test signal
    std::string outputPath;                  // empty: demo_output.wav in the current folder
    std::string pluginPath;                  // empty: the plug-in beside the executable
    double speed = 1.0;                      // device clock (and engine pace) factor
    uint32_t bufferSeconds = 1;              // ring length handed to CreateOutputBuffer
    uint32_t deviceBufferFrames = 1024;      // platform buffer size; 0 = the device's default
    uint32_t latencyTargetMs = 0;            // 0 = latency control off
    double driftPpm = 0.0;                   // device clock against the engine's
    uint32_t burstBlocks = 1;                // blocks handed over back to back
    double jitterMs = 0.0;                   // largest random lateness of a block
    std::vector<TargetChange> targetChanges; // in time order
    std::vector<CadenceEvent> burstChanges;  // new --burst from a time on; in time order
    std::vector<CadenceEvent> jitterChanges; // new --jitter-ms from a time on; in time order
    std::vector<CadenceEvent> hitches;       // engine thread held up, then catching up
    std::vector<CadenceEvent> deviceStalls;  // device thread held up
    double toneHz = 0.0;                     // 0: the chord; else a pure sine of this frequency
    double sinadFromSeconds = -1.0;          // start of the tone's measurement; < 0: the default
    bool help = false;

    // Fills `options` from argv. False with `error` set on a bad command line.
    static bool Parse(int argc, char** argv, DemoOptions& options, std::string& error);
    static std::string Usage(const char* program);
};

} // namespace zvdemo
