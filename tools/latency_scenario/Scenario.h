#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zvscenario {

// One run of the plug-in's intake against the virtual device: 48 kHz stereo,
// engine blocks and device buffers of 1024 frames, a one-second ring, the
// device clock `driftPpm` away from the engine's. The engine pushes a 997 Hz
// sine at -1 dBFS.
struct ScenarioSettings {
    double driftPpm = 0.0;
    uint32_t targetMilliseconds = 0; // 0 = control off
    double seconds = 7200.0;
    bool capture = false; // keep the played output for the sine check
    // An engine hitch: no block from hitchAtSeconds for hitchSeconds, then
    // every block due meanwhile at once.
    double hitchAtSeconds = 0.0;
    double hitchSeconds = 0.0;
};

struct ScenarioResult {
    // Per second of audio: the ring's depth averaged over time, and the
    // controller's smoothed depth (its measurement: the midpoint of each take).
    std::vector<double> timeDepthMs;
    std::vector<double> controlDepthMs;
    std::vector<double> correctionPpm;
    uint64_t samplesDropped = 0;
    uint64_t starvedAfterSettling = 0;  // device periods with nothing to play, after 30 s
    uint64_t deferredAfterSettling = 0; // requests that found the ring empty, after 30 s
    uint64_t samplesRemoved = 0;
    uint64_t samplesInserted = 0;
    uint64_t logLines = 0;
    uint64_t starvedPeriods = 0; // over the whole run
    std::vector<int16_t> played; // with capture: every released buffer
};

ScenarioResult RunScenario(const ScenarioSettings& settings);

// Largest deviation from the target of any one-minute average of `series`
// (per-second values) that starts at or after `fromSecond`.
double WorstMinuteDeviation(const std::vector<double>& series, double target, size_t fromSecond);

// The played sine: the largest step between neighbouring samples of one
// channel over the whole output against the largest the sine itself makes,
// and from `fromSecond` on the SINAD of a four-parameter sine fit over 0.1 s
// windows (worst window and all windows together).
struct SineQuality {
    double largestStep = 0.0;
    double sineStep = 0.0;
    double worstSinadDb = 0.0;
    double overallSinadDb = 0.0;
};
SineQuality MeasureSine(const std::vector<int16_t>& played, double fromSecond, double correction);

constexpr uint32_t kSampleRate = 48000;
constexpr uint32_t kChannels = 2;
constexpr uint32_t kBlockFrames = 1024;
constexpr double kSineHz = 997.0;
constexpr double kSineAmplitude = 0.8912509381337456; // -1 dBFS
constexpr size_t kSettlingSeconds = 30;

} // namespace zvscenario
