#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zvscenario {

// One run of the plug-in's intake against the virtual device: stereo, the
// device clock `driftPpm` away from the engine's. The engine pushes a 997 Hz
// sine at -1 dBFS in blocks of hostFrames; the device plays buffers of
// deviceFrames.
struct ScenarioSettings {
    uint32_t sampleRate = 48000;
    uint32_t hostFrames = 1024;
    uint32_t deviceFrames = 1024;
    uint32_t ringSeconds = 1;
    double driftPpm = 0.0;
    uint32_t targetMilliseconds = 0; // 0 = control off
    double seconds = 7200.0;
    bool capture = false; // keep the played output for the sine check

    // The engine's cadence. Blocks come in bursts of burstBlocks back to back,
    // one burst every burstBlocks host periods; each block is up to
    // blockLatenessMs late (uniformly), on a schedule that the lateness does
    // not shift, and never before the block ahead of it.
    uint32_t burstBlocks = 1;
    double blockLatenessMs = 0.0;
    // An engine hitch: no block from hitchAtSeconds for hitchSeconds, then
    // every block due meanwhile at once.
    double hitchAtSeconds = 0.0;
    double hitchSeconds = 0.0;
    // The cadence changes mid-run: from atSeconds on, bursts of burstBlocks and lateness
    // up to blockLatenessMs (the first block due at or after atSeconds starts a burst).
    struct CadenceStep {
        double atSeconds;
        uint32_t burstBlocks;
        double blockLatenessMs;
    };
    std::vector<CadenceStep> cadenceSteps;
    // An engine pause: no block from pauseAtSeconds for pauseSeconds, and none owed
    // afterwards; the schedule resumes where it stopped.
    double pauseAtSeconds = 0.0;
    double pauseSeconds = 0.0;
    // The device's thread stalls: no callback from stallAtSeconds for stallSeconds, one
    // when it ends, then one a period again; the device plays on from what it holds.
    double stallAtSeconds = 0.0;
    double stallSeconds = 0.0;
    // The device clock moves from driftPpm to driftStepToPpm at driftStepAtSeconds.
    double driftStepAtSeconds = -1.0;
    double driftStepToPpm = 0.0;

    // Each device callback runs up to this late (uniformly) after its period's
    // boundary, as a platform's thread is scheduled; the device keeps playing
    // on its own schedule. Below one device period.
    double callbackLatenessMs = 0.0;
    uint64_t seed = 1; // of both latenesses; a run repeats exactly

    // A new target set through the instance mid-run; negative = none.
    double changeAtSeconds = -1.0;
    uint32_t changeToMilliseconds = 0;
    // Rapid changes: from toggleFromSeconds until toggleUntilSeconds the target alternates
    // between toggleMilliseconds[1] and [0] every toggleEveryMs, starting with [1]; at
    // toggleUntilSeconds it is set to toggleEndMilliseconds.
    double toggleFromSeconds = -1.0;
    double toggleUntilSeconds = -1.0;
    double toggleEveryMs = 0.0;
    uint32_t toggleMilliseconds[2] = {0, 0};
    uint32_t toggleEndMilliseconds = 0;

    // Measure the played sine in every kSineWindowSeconds window as it plays (no capture
    // needed, so hours can run).
    bool sineWindows = false;

    // The part of the played output watched for steps and silence.
    double watchFromSeconds = 0.0;
    double watchUntilSeconds = 1e300;
};

// Counters at the end of one second of audio, from the start of the run.
struct RunningTotals {
    uint64_t samplesRemoved = 0;  // latency record
    uint64_t samplesInserted = 0; // latency record
    uint64_t silenceSamples = 0;  // padded into platform buffers
    uint64_t samplesDropped = 0;  // overwritten (or left unplayed)
    uint64_t starvedPeriods = 0;  // device periods with no buffer to play
};

struct ScenarioResult {
    // Per second of audio: the ring's depth averaged over time, and from the
    // latency record at the second's end the controller's smoothed depth, the
    // correction and the depth steered to (targetSamples, in milliseconds).
    std::vector<double> timeDepthMs;
    std::vector<double> controlDepthMs;
    std::vector<double> correctionPpm;
    std::vector<double> effectiveTargetMs;
    std::vector<RunningTotals> totals;
    uint64_t samplesDropped = 0;
    uint64_t starvedAfterSettling = 0;  // device periods with nothing to play, after 30 s
    uint64_t deferredAfterSettling = 0; // requests that found the ring empty, after 30 s
    uint64_t samplesRemoved = 0;
    uint64_t samplesInserted = 0;
    uint64_t logLines = 0;
    uint64_t starvedPeriods = 0; // over the whole run
    uint64_t ringCapacity = 0;   // samples

    // The played output from watchFromSeconds until watchUntilSeconds, watched
    // as it plays: the largest step between neighbouring samples of one
    // channel, and runs of two or more frames of exact zero on every channel
    // after the first non-zero sample (the sine never makes one; the lead-in
    // of silence before it does not count).
    double largestStep = 0.0;
    uint64_t silentRuns = 0;
    uint64_t longestSilentRunFrames = 0;
    double firstSilentRunSeconds = -1.0;
    // Control was switched on in a stream that had run dry (requests found the ring
    // empty in the second before): its lead-in is watched as a start's is.
    bool joinedDry = false;

    std::vector<int16_t> played; // with capture: every played period

    // Per second: the ring's deepest point (after any block or request).
    std::vector<double> maxDepthMs;
    // Every run of blocks that had frames cut, and every block that brought silence:
    // when it began and how many samples in all.
    struct Splice {
        double seconds;
        uint64_t samples;
    };
    std::vector<Splice> cuts;
    std::vector<Splice> inserts;
    // Every run of two or more frames of exact zero on every channel after the first
    // sound, watched or not.
    struct SilentRun {
        double seconds;
        uint64_t frames;
    };
    std::vector<SilentRun> silentRunList;
    // With sineWindows: per kSineWindowSeconds window of played output, its start on
    // the virtual clock, its SINAD and the largest step between neighbouring samples of
    // a channel within it (and into it).
    std::vector<double> windowSeconds;
    std::vector<float> windowSinadDb;
    std::vector<float> windowStep;
};

ScenarioResult RunScenario(const ScenarioSettings& settings);

// Largest deviation from the target of any one-minute average of `series`
// (per-second values) that starts at or after `fromSecond`.
double WorstMinuteDeviation(const std::vector<double>& series, double target, size_t fromSecond);

// The played sine: the largest step between neighbouring samples of one
// channel over the whole output against the largest the sine itself makes,
// and from `fromSecond` on the SINAD of a four-parameter sine fit over
// kSineWindowSeconds windows (worst window and all windows together).
struct SineQuality {
    double largestStep = 0.0;
    double sineStep = 0.0;
    double worstSinadDb = 0.0;
    double overallSinadDb = 0.0;
};
SineQuality MeasureSine(const std::vector<int16_t>& played, uint32_t sampleRate, double fromSecond,
                        double correction);

// The sine's own largest step between neighbouring samples, in 16-bit LSB,
// when the correction shifts its frequency by `correction`.
double SineStep(uint32_t sampleRate, double correction);

constexpr uint32_t kSampleRate = 48000;
constexpr uint32_t kChannels = 2;
constexpr uint32_t kBlockFrames = 1024;
constexpr double kSineHz = 997.0;
constexpr double kSineAmplitude = 0.8912509381337456; // -1 dBFS
constexpr double kSineWindowSeconds = 0.05;
constexpr size_t kSettlingSeconds = 30;

} // namespace zvscenario
