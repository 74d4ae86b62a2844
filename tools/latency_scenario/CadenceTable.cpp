#include "CadenceTable.h"

#include "Scenario.h"
#include "SvgPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace zvscenario {

namespace {

struct Cadence {
    const char* name;
    uint32_t burstBlocks;
    double latenessMs;
    double hitchSeconds; // at the middle of the run
};

constexpr Cadence kSteady{"steady", 1, 0.0, 0.0};
constexpr Cadence kBurst2{"burst 2", 2, 0.0, 0.0};
constexpr Cadence kBurst3{"burst 3", 3, 0.0, 0.0};
constexpr Cadence kBurst4{"burst 4", 4, 0.0, 0.0};
constexpr Cadence kLate{"late <= 30 ms", 1, 30.0, 0.0};
constexpr Cadence kHitch{"hitch 200 ms", 1, 0.0, 0.2};
constexpr Cadence kCadences[] = {kSteady, kBurst2, kBurst3, kBurst4, kLate, kHitch};

bool IsSteady(const Cadence& cadence) {
    return cadence.burstBlocks == 1 && cadence.latenessMs == 0.0 && cadence.hitchSeconds == 0.0;
}

constexpr uint32_t kRates[] = {8000, 44100, 48000, 96000};
constexpr uint32_t kDeviceBuffers[] = {256, 1024, 4096};
constexpr double kDrifts[] = {-300.0, 0.0, 300.0};
constexpr uint32_t kTargetMs = 40;
constexpr uint32_t kHostTableTargetMs = 60; // the engine component's default
constexpr uint32_t kHostBlocks[] = {256, 512, 1024};

struct Change {
    uint32_t from;
    uint32_t to;
};
constexpr Change kChanges[] = {{40, 41}, {40, 200}, {200, 40}, {0, 40}, {40, 0}};

// Goals.
constexpr double kDepthToleranceMs = 2.0;
constexpr double kMarginMs = 10.0;
constexpr double kCrossfadeFrames = 64.0;
constexpr double kMaxCorrection = 1e-3; // the resampler's bound, which raises the sine's pitch
constexpr double kSinadGoalDb = 85.0;

struct Row {
    Cadence cadence;
    uint32_t rate = 48000;
    uint32_t deviceFrames = 1024;
    uint32_t hostFrames = 1024;
    double drift = 0.0;
    uint32_t target = kTargetMs;
    bool changes = false;
    uint32_t changeTo = 0;
    // The effective target must equal the requested one whatever the bound says.
    bool requireRequested = false;
    double seconds = 120.0;
    double changeAt = 60.0;
};

double FramesToMs(double frames, uint32_t rate) {
    return frames * 1000.0 / rate;
}

// What the cadence needs beyond the device's own buffer, conservatively: a
// burst of host blocks, the latest a block comes, and a margin. A requested
// target at or above it must be steered to as it is.
double CadenceBoundMs(const Row& row) {
    return FramesToMs(row.deviceFrames, row.rate) +
           row.cadence.burstBlocks * FramesToMs(row.hostFrames, row.rate) + row.cadence.latenessMs +
           row.cadence.hitchSeconds * 1000.0 + kMarginMs;
}

// A ring that holds the bound's depth with a host block and a device buffer to
// spare: one second unless the buffers are long at a low rate.
uint32_t RingSeconds(const Row& row) {
    const double needMs = CadenceBoundMs(row) + kMarginMs + FramesToMs(row.hostFrames, row.rate) +
                          FramesToMs(row.deviceFrames, row.rate);
    return std::max<uint32_t>(1, static_cast<uint32_t>(std::ceil(needMs / 1000.0)));
}

ScenarioSettings SettingsOf(const Row& row) {
    ScenarioSettings settings;
    settings.sampleRate = row.rate;
    settings.hostFrames = row.hostFrames;
    settings.deviceFrames = row.deviceFrames;
    settings.ringSeconds = RingSeconds(row);
    settings.driftPpm = row.drift;
    settings.targetMilliseconds = row.target;
    settings.seconds = row.seconds;
    settings.burstBlocks = row.cadence.burstBlocks;
    settings.blockLatenessMs = row.cadence.latenessMs;
    if (row.cadence.hitchSeconds > 0.0) {
        settings.hitchAtSeconds = row.seconds / 2.0;
        settings.hitchSeconds = row.cadence.hitchSeconds;
    }
    if (row.changes) {
        settings.changeAtSeconds = row.changeAt;
        settings.changeToMilliseconds = row.changeTo;
        // With control off the ring drifts towards empty or full as it always
        // did; what counts is the change and what control does.
        if (row.target == 0) {
            settings.watchFromSeconds = row.changeAt;
        }
        if (row.changeTo == 0) {
            settings.watchUntilSeconds = row.changeAt + kSettlingSeconds;
        }
    }
    return settings;
}

struct Outcome {
    double effectiveEndMs = 0.0;
    bool requestedRequired = false; // the cadence allows the requested target
    double worstDepthMs = 0.0;      // |depth - effective target|, settled seconds
    RunningTotals settled;          // sums over settled seconds with control on
    RunningTotals all;
    double largestStep = 0.0;
    double allowedStep = 0.0;
    uint64_t silentRuns = 0;
    double longestSilentMs = 0.0;
    double firstSilentSeconds = -1.0;
    bool joinedDry = false;
    bool depthMissed = false; // the depth strayed beyond the tolerance
    std::string failed;       // goals not met, comma separated
};

void Fail(Outcome& outcome, const char* goal) {
    if (!outcome.failed.empty()) {
        outcome.failed += ", ";
    }
    outcome.failed += goal;
}

Outcome Evaluate(const Row& row, const ScenarioResult& run) {
    Outcome outcome;
    const size_t seconds = run.controlDepthMs.size();
    const auto unsettled = [&](size_t s) {
        const auto at = static_cast<double>(s);
        const auto within = [at](double from, double length) {
            return at >= from && at < from + length;
        };
        return at < kSettlingSeconds ||
               (row.changes && within(std::floor(row.changeAt), kSettlingSeconds + 1.0)) ||
               (row.cadence.hitchSeconds > 0.0 &&
                within(std::floor(row.seconds / 2.0),
                       row.cadence.hitchSeconds + kSettlingSeconds + 1.0));
    };
    const auto requestedAt = [&](size_t s) {
        return row.changes && static_cast<double>(s) >= row.changeAt ? row.changeTo : row.target;
    };

    RunningTotals previous;
    for (size_t s = 0; s < seconds; ++s) {
        const RunningTotals& now = run.totals[s];
        if (!unsettled(s) && requestedAt(s) != 0) {
            outcome.settled.samplesRemoved += now.samplesRemoved - previous.samplesRemoved;
            outcome.settled.samplesInserted += now.samplesInserted - previous.samplesInserted;
            outcome.settled.silenceSamples += now.silenceSamples - previous.silenceSamples;
            outcome.settled.samplesDropped += now.samplesDropped - previous.samplesDropped;
            outcome.settled.starvedPeriods += now.starvedPeriods - previous.starvedPeriods;
            outcome.worstDepthMs = std::max(
                outcome.worstDepthMs, std::fabs(run.controlDepthMs[s] - run.effectiveTargetMs[s]));
        }
        previous = now;
    }
    outcome.all = run.totals.back();
    if (outcome.settled.samplesRemoved > 0) {
        Fail(outcome, "cut");
    }
    if (outcome.settled.samplesInserted > 0) {
        Fail(outcome, "inserted");
    }
    if (outcome.settled.silenceSamples > 0) {
        Fail(outcome, "padded");
    }
    if (outcome.settled.starvedPeriods > 0) {
        Fail(outcome, "starved");
    }
    if (outcome.settled.samplesDropped > 0) {
        Fail(outcome, "overwritten");
    }
    // Reported, not gating: with the correction's slew bounded for the sine's sake, the
    // loop follows a jittered or bunched measurement less tightly (docs/latency.md).
    outcome.depthMissed = outcome.worstDepthMs > kDepthToleranceMs;

    const uint32_t requested = requestedAt(seconds - 1);
    outcome.effectiveEndMs = run.effectiveTargetMs.back();
    if (requested != 0) {
        const double frameMs = FramesToMs(1.0, row.rate);
        const double boundMs = CadenceBoundMs(row);
        const double ringMs =
            FramesToMs(static_cast<double>(run.ringCapacity) / kChannels, row.rate) -
            FramesToMs(row.hostFrames, row.rate) - FramesToMs(row.deviceFrames, row.rate);
        outcome.requestedRequired = row.requireRequested || requested >= boundMs;
        const double effective = outcome.effectiveEndMs;
        const bool ok = outcome.requestedRequired
                            ? std::fabs(effective - requested) <= frameMs
                            : effective >= requested - frameMs && effective <= boundMs + kMarginMs;
        if (!ok || effective > ringMs + frameMs) {
            Fail(outcome, "effective target");
        }
    }

    outcome.largestStep = run.largestStep;
    outcome.allowedStep = SineStep(row.rate, -kMaxCorrection) +
                          2.0 * kSineAmplitude * 32767.0 / kCrossfadeFrames + 2.0;
    outcome.silentRuns = run.silentRuns;
    outcome.longestSilentMs = FramesToMs(static_cast<double>(run.longestSilentRunFrames), row.rate);
    outcome.firstSilentSeconds = run.firstSilentRunSeconds;
    outcome.joinedDry = run.joinedDry;
    if (row.changes) {
        if (outcome.largestStep > outcome.allowedStep) {
            Fail(outcome, "step");
        }
        if (outcome.silentRuns > 0) {
            Fail(outcome, "silence");
        }
    }
    return outcome;
}

unsigned long long Count(uint64_t value) {
    return static_cast<unsigned long long>(value);
}

void PrintHeader(bool changes) {
    std::printf("| cadence | host block | device buffer | rate Hz | drift ppm | target ms | "
                "effective at end ms | worst \\|depth - effective\\| ms | cut | inserted | "
                "padded | starved periods | overwritten |%s goal |\n",
                changes ? " largest step LSB (allowed) | silent runs (longest ms, first at s) |"
                        : "");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|%s---|\n",
                changes ? "---|---|" : "");
}

// Runs the row, prints it, and says whether its goals were met.
bool RunRow(const Row& row) {
    const ScenarioSettings settings = SettingsOf(row);
    const ScenarioResult run = RunScenario(settings);
    const Outcome outcome = Evaluate(row, run);
    if (std::getenv("ZV_SCENARIO_TRACE") != nullptr && !outcome.failed.empty()) {
        for (size_t s = 0; s < run.controlDepthMs.size(); s += 2) {
            std::printf("  %zu s: depth %.1f ms, control %.1f, target %.1f, %+.0f ppm\n", s,
                        run.timeDepthMs[s], run.controlDepthMs[s], run.effectiveTargetMs[s],
                        run.correctionPpm[s]);
        }
    }

    char target[32];
    if (row.changes) {
        std::snprintf(target, sizeof target, "%u->%u", row.target, row.changeTo);
    } else {
        std::snprintf(target, sizeof target, "%u", row.target);
    }
    char device[48];
    if (settings.ringSeconds > 1) {
        std::snprintf(device, sizeof device, "%u (ring %u s)", row.deviceFrames,
                      settings.ringSeconds);
    } else {
        std::snprintf(device, sizeof device, "%u", row.deviceFrames);
    }
    char effective[48];
    if (outcome.requestedRequired || (row.changes ? row.changeTo : row.target) == 0) {
        std::snprintf(effective, sizeof effective, "%.1f", outcome.effectiveEndMs);
    } else {
        std::snprintf(effective, sizeof effective, "%.1f (cadence bound %.1f)",
                      outcome.effectiveEndMs, CadenceBoundMs(row));
    }
    char sine[96] = "";
    if (row.changes) {
        if (outcome.silentRuns > 0) {
            std::snprintf(sine, sizeof sine, " %.0f (%.0f) | %llu (%.1f, %.2f) |",
                          outcome.largestStep, outcome.allowedStep, Count(outcome.silentRuns),
                          outcome.longestSilentMs, outcome.firstSilentSeconds);
        } else {
            std::snprintf(sine, sizeof sine, " %.0f (%.0f) | 0%s |", outcome.largestStep,
                          outcome.allowedStep,
                          outcome.joinedDry ? " (ran dry before: lead-in)" : "");
        }
    }
    std::printf(
        "| %s | %u | %s | %u | %+.0f | %s | %s | %.2f | %llu / %llu | %llu / %llu | %llu "
        "| %llu | %llu |%s %s |\n",
        row.cadence.name, row.hostFrames, device, row.rate, row.drift, target, effective,
        outcome.worstDepthMs, Count(outcome.settled.samplesRemoved),
        Count(outcome.all.samplesRemoved), Count(outcome.settled.samplesInserted),
        Count(outcome.all.samplesInserted), Count(outcome.settled.silenceSamples),
        Count(outcome.settled.starvedPeriods), Count(outcome.settled.samplesDropped), sine,
        outcome.failed.empty()
            ? (outcome.depthMissed ? "met (depth off)" : "met")
            : ("NOT met: " + outcome.failed + (outcome.depthMissed ? " (depth off)" : "")).c_str());
    std::fflush(stdout);
    return outcome.failed.empty();
}

bool RunRows(const std::vector<Row>& rows, bool changes) {
    PrintHeader(changes);
    bool met = true;
    for (const Row& row : rows) {
        met = RunRow(row) && met;
    }
    std::printf("\n");
    return met;
}

bool RunSinad(const CadenceOptions& options) {
    std::printf("Sine through jittered clocks: steady engine, 48 kHz, host blocks and device "
                "buffers of 1024 frames, target %u ms, each callback up to %.1f ms and each block "
                "up to %.1f ms late, %.0f s; 997 Hz at -1 dBFS, four-parameter fit in %.0f ms "
                "windows over the last %.0f s (goal >= %.0f dB in every window)\n\n",
                kTargetMs, options.callbackJitterMs, options.blockJitterMs, options.sinadSeconds,
                kSineWindowSeconds * 1000.0, options.sinadSeconds - 60.0, kSinadGoalDb);
    std::printf("| drift ppm | worst window dB | all windows dB | correction at end ppm | cut | "
                "inserted | goal |\n|---|---|---|---|---|---|---|\n");
    bool met = true;
    for (const double drift : {-300.0, 300.0}) {
        ScenarioSettings settings;
        settings.driftPpm = drift;
        settings.targetMilliseconds = kTargetMs;
        settings.seconds = options.sinadSeconds;
        settings.capture = true;
        settings.callbackLatenessMs = options.callbackJitterMs;
        settings.blockLatenessMs = options.blockJitterMs;
        const ScenarioResult run = RunScenario(settings);
        const SineQuality quality = MeasureSine(run.played, settings.sampleRate,
                                                std::max(options.sinadSeconds - 120.0, 30.0),
                                                run.correctionPpm.back() * 1e-6);
        const bool good = quality.worstSinadDb >= kSinadGoalDb;
        met = met && good;
        std::printf("| %+.0f | %.1f | %.1f | %+.1f | %llu | %llu | %s |\n", drift,
                    quality.worstSinadDb, quality.overallSinadDb, run.correctionPpm.back(),
                    Count(run.samplesRemoved), Count(run.samplesInserted),
                    good ? "met" : "NOT met");
    }
    std::printf("\n");
    return met;
}

void WriteBurstPlot(const CadenceOptions& options) {
    Row row;
    row.cadence = kBurst3;
    row.drift = 300.0;
    row.seconds = std::max(options.seconds, 300.0);
    const ScenarioResult run = RunScenario(SettingsOf(row));
    double top = 0.0;
    for (size_t s = 1; s < run.timeDepthMs.size(); ++s) {
        top = std::max({top, run.timeDepthMs[s], run.controlDepthMs[s], run.effectiveTargetMs[s]});
    }
    top = std::ceil(top * 1.1 / 50.0) * 50.0;
    SvgPlot plot("Bursts of 3 blocks, 48 kHz, device buffers of 1024 frames, +300 ppm, target "
                 "40 ms (per second)",
                 row.seconds / 60.0, 0.0, top, "depth (ms)");
    plot.AddLine(run.timeDepthMs, 1.0 / 60.0, "ring depth (time-weighted)", "#1f77b4");
    plot.AddLine(run.controlDepthMs, 1.0 / 60.0, "controller's depth", "#d62728");
    plot.AddLine(run.effectiveTargetMs, 1.0 / 60.0, "effective target", "#2ca02c", true);
    std::ofstream svg(options.svgPath);
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"900\" height=\"380\" "
           "font-family=\"sans-serif\">\n<rect width=\"900\" height=\"380\" fill=\"white\"/>\n"
        << plot.Render(0, 0, 900, 370) << "</svg>\n";
    std::printf("plot of a bursty run written to %s\n\n", options.svgPath.c_str());
}

} // namespace

bool RunCadenceTables(const CadenceOptions& options) {
    bool met = true;
    const bool full = !options.shortVersion;

    // Every cadence against every device buffer, rate and drift; the short
    // version keeps every cadence at 48 kHz with buffers of 1024 frames, and
    // each other buffer and rate under a steady engine and bursts of 3.
    std::vector<Row> rows;
    for (const Cadence& cadence : kCadences) {
        for (const uint32_t rate : kRates) {
            for (const uint32_t device : kDeviceBuffers) {
                const bool home = rate == 48000 && device == 1024;
                const bool steadyOrBurst3 = IsSteady(cadence) || cadence.burstBlocks == 3;
                const bool oneAway = (rate == 48000) != (device == 1024);
                if (!full && !home && !(steadyOrBurst3 && oneAway)) {
                    continue;
                }
                for (const double drift : kDrifts) {
                    if (!full && !home && drift == 0.0) {
                        continue;
                    }
                    Row row;
                    row.cadence = cadence;
                    row.rate = rate;
                    row.deviceFrames = device;
                    row.drift = drift;
                    row.seconds = options.seconds;
                    rows.push_back(row);
                }
            }
        }
    }
    std::printf(
        "Cadence table: stereo, host blocks of 1024 frames, target %u ms, %.0f s per run "
        "(virtual time). Goals with control on, from %zu s after the start (after the "
        "hitch for its row): nothing cut, no silence inserted or padded, no starved "
        "period, nothing overwritten; at the end the effective target equals the requested "
        "one where the cadence bound (device buffer + burst x host block + lateness + "
        "%.0f ms) allows it, else stays within the bound + %.0f ms. Reported beside them: "
        "whether the record's depth stayed within %.0f ms of the effective target each "
        "second (\"depth off\" where not). Cut and inserted: after settling / whole run.\n\n",
        kTargetMs, options.seconds, kSettlingSeconds, kMarginMs, kMarginMs, kDepthToleranceMs);
    met = RunRows(rows, false) && met;

    if (full) {
        rows.clear();
        for (const uint32_t host : kHostBlocks) {
            for (const uint32_t device : {256u, 1024u}) {
                for (const Cadence& cadence : {kSteady, kBurst2}) {
                    for (const double drift : {-300.0, 300.0}) {
                        Row row;
                        row.cadence = cadence;
                        row.hostFrames = host;
                        row.deviceFrames = device;
                        row.drift = drift;
                        row.target = kHostTableTargetMs;
                        row.requireRequested = true;
                        row.seconds = options.seconds;
                        rows.push_back(row);
                    }
                }
            }
        }
        std::printf("Host blocks against device buffers, 48 kHz, target %u ms: the same goals, "
                    "and the effective target equal to the requested one in every row.\n\n",
                    kHostTableTargetMs);
        met = RunRows(rows, false) && met;
    }

    rows.clear();
    for (const Cadence& cadence : {kSteady, kBurst3}) {
        for (const double drift : kDrifts) {
            if (!full && (!IsSteady(cadence) || drift != 300.0)) {
                continue;
            }
            for (const Change& change : kChanges) {
                Row row;
                row.cadence = cadence;
                row.drift = drift;
                row.target = change.from;
                row.changes = true;
                row.changeTo = change.to;
                row.changeAt = options.changeAtSeconds;
                // A rise is glided at about 0.5 ms/s: the run outlasts it.
                row.seconds = change.to > change.from + 20 ? options.glideSeconds : options.seconds;
                rows.push_back(row);
            }
        }
    }
    std::printf("Target changes through SetLatencyTarget at %.0f s, 48 kHz, host blocks and "
                "device buffers of 1024 frames. The goals above, settled again %zu s after the "
                "change; and over the played output (from the change on where control was off "
                "before it, until %zu s after it where it is switched off) no step between "
                "neighbouring samples of a channel beyond the sine's own largest step (at the "
                "correction's bound) + "
                "2 x amplitude / %.0f (a crossfade) + 2 LSB, and no run of two or more frames of "
                "digital silence after the first sound.\n\n",
                options.changeAtSeconds, kSettlingSeconds, kSettlingSeconds, kCrossfadeFrames);
    met = RunRows(rows, true) && met;

    met = RunSinad(options) && met;
    if (!options.svgPath.empty()) {
        WriteBurstPlot(options);
    }
    std::printf("Cadence goals: %s\n", met ? "met" : "NOT met");
    return met;
}

} // namespace zvscenario
