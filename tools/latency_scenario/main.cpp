// Latency scenario: the plug-in's intake against a device clock that drifts
// from the engine's, in virtual time, with latency control off and on. Prints
// a table, optionally writes an SVG plot of depth over time, and checks the
// played output of a sine for discontinuities and its SINAD. With --check the
// exit code says whether the goals were met; --check-sinad adds the drift
// run's worst-window SINAD to them (the cadence tables judge theirs always).
// See docs/latency.md.
#include "CadenceTable.h"
#include "EventTable.h"
#include "Scenario.h"
#include "SvgPlot.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace zvscenario;

namespace {

constexpr double kDrifts[] = {-300.0, -100.0, 100.0, 300.0};
constexpr const char* kColours[] = {"#1f77b4", "#2ca02c", "#ff7f0e", "#d62728"};
constexpr uint32_t kTargetMs = 40;
constexpr double kToleranceMs = 2.0;
constexpr double kSinadGoalDb = 85.0;

struct Options {
    double minutes = 120.0;
    double sineSeconds = 120.0;
    std::string svgPath;
    bool check = false;
    bool checkSinad = false;
    bool driftTable = true;
    bool cadenceTable = true;
    bool eventTable = true;
    CadenceOptions cadence;
    EventOptions events;
};

// The whole of `text` as a finite number within [low, high], as the demo
// player reads its numbers: "10x", "" or "nan" are refused, not read as 10 or 0.
bool ParseNumber(const char* text, double low, double high, double& value) {
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(parsed) || parsed < low ||
        parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

bool Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        bool valid = true;
        if (arg == "--minutes" && hasValue) {
            valid = ParseNumber(argv[++i], 0.0, 1e6, options.minutes);
        } else if (arg == "--sine-seconds" && hasValue) {
            valid = ParseNumber(argv[++i], 0.0, 1e6, options.sineSeconds);
        } else if (arg == "--svg" && hasValue) {
            options.svgPath = argv[++i];
        } else if (arg == "--check") {
            options.check = true;
        } else if (arg == "--check-sinad") {
            options.check = true;
            options.checkSinad = true;
        } else if (arg == "--tables" && hasValue) {
            const std::string tables = argv[++i];
            options.driftTable = tables.find("drift") != std::string::npos;
            options.cadenceTable = tables.find("cadence") != std::string::npos;
            options.eventTable = tables.find("events") != std::string::npos;
        } else if (arg == "--events-short") {
            options.events.shortVersion = true;
        } else if (arg == "--events-only" && hasValue) {
            options.events.only = argv[++i];
        } else if (arg == "--events-long") {
            options.events.longRun = true;
        } else if (arg == "--cadence-short") {
            options.cadence.shortVersion = true;
        } else if (arg == "--cadence-seconds" && hasValue) {
            valid = ParseNumber(argv[++i], 0.0, 1e6, options.cadence.seconds);
        } else if (arg == "--callback-jitter-ms" && hasValue) {
            valid = ParseNumber(argv[++i], 0.0, 1000.0, options.cadence.callbackJitterMs);
        } else if (arg == "--block-jitter-ms" && hasValue) {
            valid = ParseNumber(argv[++i], 0.0, 1000.0, options.cadence.blockJitterMs);
        } else if (arg == "--sinad-seconds" && hasValue) {
            valid = ParseNumber(argv[++i], 0.0, 1e6, options.cadence.sinadSeconds);
        } else if (arg == "--cadence-svg" && hasValue) {
            options.cadence.svgPath = argv[++i];
        } else {
            valid = false;
        }
        if (!valid) {
            std::fprintf(stderr, "%s: bad option or value: %s\n", argv[0], argv[i]);
            std::fprintf(stderr,
                         "usage: %s [--tables drift,cadence,events] [--check] [--check-sinad]\n"
                         "  two-hour table: [--minutes M] [--sine-seconds S] [--svg PATH]\n"
                         "  cadence table: [--cadence-short] [--cadence-seconds S] "
                         "[--callback-jitter-ms R] [--block-jitter-ms B] [--sinad-seconds S] "
                         "[--cadence-svg PATH]\n"
                         "  event table: [--events-short] [--events-long]\n",
                         argv[0]);
            return false;
        }
    }
    // Room for the settling, a change at 60 s and the settling after it.
    const bool cadenceFits =
        options.cadence.seconds >= options.cadence.changeAtSeconds + 2.0 * kSettlingSeconds &&
        options.cadence.sinadSeconds >= 2.0 * kSettlingSeconds + 1.0;
    const bool usable = options.minutes * 60.0 >= 2.0 * kSettlingSeconds &&
                        options.sineSeconds > 31.0 && cadenceFits &&
                        (options.driftTable || options.cadenceTable || options.eventTable);
    if (!usable) {
        std::fprintf(stderr,
                     "%s: runs too short to settle (--minutes at least %.1f, --sine-seconds over "
                     "31, --cadence-seconds and --sinad-seconds long enough), or no table chosen\n",
                     argv[0], 2.0 * kSettlingSeconds / 60.0);
    }
    return usable;
}

// Means of consecutive runs of `every` values.
std::vector<double> Decimate(const std::vector<double>& series, size_t every) {
    std::vector<double> out;
    for (size_t start = 0; start + every <= series.size(); start += every) {
        double sum = 0.0;
        for (size_t i = start; i < start + every; ++i) {
            sum += series[i];
        }
        out.push_back(sum / static_cast<double>(every));
    }
    return out;
}

// Trailing one-minute means, one per `every` seconds.
std::vector<double> MinuteMeans(const std::vector<double>& series, size_t every) {
    std::vector<double> out;
    for (size_t end = every; end <= series.size(); end += every) {
        const size_t start = end >= 60 ? end - 60 : 0;
        double sum = 0.0;
        for (size_t i = start; i < end; ++i) {
            sum += series[i];
        }
        out.push_back(sum / static_cast<double>(end - start));
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        return 2;
    }
    bool cadenceMet = true;
    if (options.eventTable) {
        cadenceMet = RunEventTable(options.events);
        std::printf("\n");
    }
    if (options.cadenceTable) {
        cadenceMet = RunCadenceTables(options.cadence) && cadenceMet;
        std::printf("\n");
    }
    if (!options.driftTable) {
        return options.check && !cadenceMet ? 1 : 0;
    }
    const double seconds = options.minutes * 60.0;
    std::printf("48 kHz stereo, blocks and device buffers of %u frames, ring 1 s, target %u ms, "
                "%.0f min of audio per run (virtual time)\n\n",
                kBlockFrames, kTargetMs, options.minutes);
    std::printf("| drift ppm | control | depth 1st s ms | depth at 30 s ms | depth at end ms | "
                "worst 1-min avg off target after 30 s, ms (controlled / time-weighted) | "
                "correction at end ppm | samples dropped | starved periods after 30 s | "
                "empty-ring requests after 30 s | removed | inserted |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");

    bool goalsMet = true;
    SvgPlot offPlot("Control off: ring depth (10 s means)", options.minutes, 0.0, 1000.0,
                    "depth (ms)");
    SvgPlot onPlot("Control on, target 40 ms: solid = controller's depth (10 s means), "
                   "dashed = ring depth (1-min means)",
                   options.minutes, 25.0, 55.0, "depth (ms)");
    onPlot.AddBand(kTargetMs - kToleranceMs, kTargetMs + kToleranceMs);
    for (size_t d = 0; d < std::size(kDrifts); ++d) {
        for (const uint32_t target : {0u, kTargetMs}) {
            ScenarioSettings settings;
            settings.driftPpm = kDrifts[d];
            settings.targetMilliseconds = target;
            settings.seconds = seconds;
            const ScenarioResult run = RunScenario(settings);
            const bool on = target != 0;
            const std::vector<double>& depth = on ? run.controlDepthMs : run.timeDepthMs;
            const double worstTime =
                WorstMinuteDeviation(run.timeDepthMs, kTargetMs, kSettlingSeconds);
            char worst[48];
            if (on) {
                std::snprintf(worst, sizeof worst, "%.2f / %.2f",
                              WorstMinuteDeviation(run.controlDepthMs, kTargetMs, kSettlingSeconds),
                              worstTime);
            } else {
                std::snprintf(worst, sizeof worst, "- / %.2f", worstTime);
            }
            std::printf("| %+.0f | %s | %.1f | %.1f | %.1f | %s | %+.1f | %llu | %llu | "
                        "%llu | %llu | %llu |\n",
                        kDrifts[d], on ? "on" : "off", run.timeDepthMs.front(),
                        depth[kSettlingSeconds - 1], depth.back(), worst, run.correctionPpm.back(),
                        static_cast<unsigned long long>(run.samplesDropped),
                        static_cast<unsigned long long>(run.starvedAfterSettling),
                        static_cast<unsigned long long>(run.deferredAfterSettling),
                        static_cast<unsigned long long>(run.samplesRemoved),
                        static_cast<unsigned long long>(run.samplesInserted));
            char label[64];
            std::snprintf(label, sizeof label, "%+.0f ppm", kDrifts[d]);
            if (on) {
                goalsMet = goalsMet &&
                           WorstMinuteDeviation(run.controlDepthMs, kTargetMs, kSettlingSeconds) <=
                               kToleranceMs &&
                           worstTime <= kToleranceMs && run.samplesDropped == 0 &&
                           run.starvedAfterSettling == 0 && run.deferredAfterSettling == 0 &&
                           run.logLines == 0;
                onPlot.AddLine(Decimate(run.controlDepthMs, 10), 10.0 / 60.0, label, kColours[d]);
                onPlot.AddLine(MinuteMeans(run.timeDepthMs, 10), 10.0 / 60.0, "", kColours[d],
                               true);
            } else {
                offPlot.AddLine(Decimate(run.timeDepthMs, 10), 10.0 / 60.0, label, kColours[d]);
            }
        }
    }

    // The fast paths: an engine hitch of 200 ms ten minutes in, which the
    // device rides out on its queue and then on silence, followed by the burst
    // of every block the engine owed. Not part of the goals above.
    std::printf("\nEngine hitch of 200 ms at 10 min, +300 ppm, control on:\n");
    std::printf(
        "| hitch | depth before ms | 1-s depths from the hitch on, lowest / highest ms | back "
        "within 40 +- 2 ms "
        "after s | starved periods | removed | inserted |\n|---|---|---|---|---|---|---|\n");
    for (const double hitch : {0.0, 0.2}) {
        ScenarioSettings settings;
        settings.driftPpm = 300.0;
        settings.targetMilliseconds = kTargetMs;
        settings.seconds = 900.0;
        settings.hitchAtSeconds = 600.0;
        settings.hitchSeconds = hitch;
        const ScenarioResult run = RunScenario(settings);
        double lowest = 1e9;
        double highest = 0.0;
        size_t back = 600;
        for (size_t t = 600; t < run.timeDepthMs.size(); ++t) {
            lowest = std::min(lowest, run.timeDepthMs[t]);
            highest = std::max(highest, run.timeDepthMs[t]);
            if (std::fabs(run.timeDepthMs[t] - kTargetMs) > kToleranceMs) {
                back = t + 1;
            }
        }
        std::printf("| %s | %.1f | %.1f / %.1f | %zu | %llu | %llu | %llu |\n",
                    hitch > 0.0 ? "200 ms" : "none", run.timeDepthMs[599], lowest, highest,
                    back - 600, static_cast<unsigned long long>(run.starvedPeriods),
                    static_cast<unsigned long long>(run.samplesRemoved),
                    static_cast<unsigned long long>(run.samplesInserted));
    }

    // The whole path under +300 ppm: the played 16-bit output of the sine.
    ScenarioSettings sineRun;
    sineRun.driftPpm = 300.0;
    sineRun.targetMilliseconds = kTargetMs;
    sineRun.seconds = options.sineSeconds;
    sineRun.capture = true;
    const ScenarioResult played = RunScenario(sineRun);
    const SineQuality quality =
        MeasureSine(played.played, kSampleRate, static_cast<double>(kSettlingSeconds),
                    played.correctionPpm.back() * 1e-6);
    // One LSB of rounding on each side of a step.
    const bool continuous = quality.largestStep <= quality.sineStep + 2.0;
    std::printf("\n997 Hz sine at -1 dBFS, +300 ppm, control on, %.0f s of played output:\n",
                options.sineSeconds);
    std::printf("  largest sample step from the start %.0f LSB (the sine's own largest step %.1f "
                "LSB): %s\n",
                quality.largestStep, quality.sineStep, continuous ? "no discontinuity" : "STEP");
    std::printf("  SINAD from %zu s on: %.1f dB over all 50 ms windows, worst window %.1f dB (goal "
                ">= %.0f dB): "
                "%s\n",
                kSettlingSeconds, quality.overallSinadDb, quality.worstSinadDb, kSinadGoalDb,
                quality.worstSinadDb >= kSinadGoalDb ? "met" : "NOT met");
    goalsMet = goalsMet && continuous;
    if (options.checkSinad) {
        goalsMet = goalsMet && quality.worstSinadDb >= kSinadGoalDb;
    }
    std::printf("\nDepth goals (40 +- 2 ms after 30 s, nothing dropped, no starvation after 30 s) "
                "and continuity: %s\n",
                goalsMet ? "met" : "NOT met");

    if (!options.svgPath.empty()) {
        std::ofstream svg(options.svgPath);
        svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"900\" height=\"760\" "
               "font-family=\"sans-serif\">\n<rect width=\"900\" height=\"760\" fill=\"white\"/>\n"
            << offPlot.Render(0, 0, 900, 370) << onPlot.Render(0, 380, 900, 370) << "</svg>\n";
        std::printf("plot written to %s\n", options.svgPath.c_str());
    }
    return options.check && !(goalsMet && cadenceMet) ? 1 : 0;
}
