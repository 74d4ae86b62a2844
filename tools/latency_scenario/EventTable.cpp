#include "EventTable.h"

#include "Scenario.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

namespace zvscenario {

namespace {

constexpr double kEventAt = 60.0;     // when the change or event starts
constexpr double kBackWithinMs = 5.0; // of the requested target, 30 s after an event
constexpr double kBackSeconds = 30.0;
constexpr double kAboveLimitMs = 30.0; // 1-s mean depth above the larger target
constexpr double kLongestGapMs = 25.0;
constexpr double kSinadGoalDb = 85.0;
constexpr double kPoorDb = 60.0;
constexpr double kCrossfadeFrames = 64.0;
constexpr double kMaxCorrection = 1e-3;

enum class Kind { CadenceChange, OneOff, RingLimited, Jitter, Rapid, SwitchOn };

struct EventRow {
    Kind kind = Kind::CadenceChange;
    std::string what;
    ScenarioSettings settings;
    std::vector<double> changes; // cadence changes: when each starts
    double eventEnd = 0.0;       // one-off: when the event is over
    double largerTargetMs = 0.0; // rapid: the larger of the two targets
    bool inShort = false;
};

// Views of one run's figures over [from, until) seconds of virtual time.
struct Span {
    const ScenarioResult& run;
    double from;
    double until;

    bool Holds(double t) const { return t >= from && t < until; }

    template <typename Item> size_t Count(const std::vector<Item>& items) const {
        return static_cast<size_t>(std::count_if(
            items.begin(), items.end(), [this](const Item& i) { return Holds(i.seconds); }));
    }
    double LongestGapMs(uint32_t rate) const {
        uint64_t longest = 0;
        for (const auto& gap : run.silentRunList) {
            if (Holds(gap.seconds)) {
                longest = std::max(longest, gap.frames);
            }
        }
        return static_cast<double>(longest) * 1000.0 / rate;
    }
    size_t WindowsBelow(double db) const {
        size_t count = 0;
        for (size_t w = 0; w < run.windowSinadDb.size(); ++w) {
            count += Holds(run.windowSeconds[w]) && run.windowSinadDb[w] < db ? 1u : 0u;
        }
        return count;
    }
    // The lowest or highest of a per-window figure over the windows in the span.
    template <typename Pick>
    double Extreme(const std::vector<float>& figure, double none, Pick pick) const {
        double extreme = none;
        for (size_t w = 0; w < figure.size(); ++w) {
            if (Holds(run.windowSeconds[w])) {
                extreme = pick(extreme, static_cast<double>(figure[w]));
            }
        }
        return extreme;
    }
    double WorstWindowDb() const {
        return Extreme(run.windowSinadDb, 1e9, [](double a, double b) { return std::min(a, b); });
    }
    double LargestStep() const {
        return Extreme(run.windowStep, 0.0, [](double a, double b) { return std::max(a, b); });
    }
    // Device periods starved and samples padded, whole seconds inside the span.
    uint64_t Starved() const { return Delta(&RunningTotals::starvedPeriods); }
    uint64_t Padded() const { return Delta(&RunningTotals::silenceSamples); }
    uint64_t Delta(uint64_t RunningTotals::*field) const {
        const auto first = static_cast<size_t>(std::ceil(from));
        const size_t last = std::min(static_cast<size_t>(until), run.totals.size());
        if (first == 0 || last <= first) {
            return last > 0 && first == 0 ? run.totals[last - 1].*field : 0;
        }
        return run.totals[last - 1].*field - run.totals[first - 1].*field;
    }
};

double MsOf(double frames, uint32_t rate) {
    return frames * 1000.0 / rate;
}

ScenarioSettings Base(double drift, uint32_t target, double seconds) {
    ScenarioSettings settings;
    settings.driftPpm = drift;
    settings.targetMilliseconds = target;
    settings.seconds = seconds;
    settings.sineWindows = true;
    return settings;
}

EventRow Make(Kind kind, const std::string& what, const ScenarioSettings& settings) {
    EventRow row;
    row.kind = kind;
    row.what = what;
    row.settings = settings;
    return row;
}

std::vector<EventRow> Rows(const EventOptions& options) {
    std::vector<EventRow> rows;
    char what[96];
    // Cadence changes: steady, then bursts, then steady again.
    for (const uint32_t burst : {2u, 3u, 4u}) {
        for (const uint32_t target : {40u, 60u, 100u}) {
            for (const double drift : {-300.0, 300.0}) {
                EventRow row = Make(Kind::CadenceChange, "", Base(drift, target, 180.0));
                std::snprintf(what, sizeof what, "steady -> bursts of %u -> steady", burst);
                row.what = what;
                row.settings.cadenceSteps = {{kEventAt, burst, 0.0}, {2.0 * kEventAt, 1, 0.0}};
                row.changes = {kEventAt, 2.0 * kEventAt};
                row.inShort = burst == 4 && target == 40 && drift > 0.0;
                rows.push_back(row);
            }
        }
    }
    for (const double drift : {-300.0, 300.0}) {
        EventRow bursts = Make(Kind::CadenceChange, "bursts of 2 -> 6", Base(drift, 40, 150.0));
        bursts.settings.burstBlocks = 2;
        bursts.settings.cadenceSteps = {{kEventAt, 6, 0.0}};
        bursts.changes = {kEventAt};
        rows.push_back(bursts);
        EventRow late =
            Make(Kind::CadenceChange, "lateness <= 5 -> <= 40 ms", Base(drift, 40, 150.0));
        late.settings.blockLatenessMs = 5.0;
        late.settings.cadenceSteps = {{kEventAt, 1, 40.0}};
        late.changes = {kEventAt};
        rows.push_back(late);
    }
    // One-off events at 60 s.
    for (const double hitch : {0.5, 1.0, 1.5}) {
        EventRow row = Make(Kind::OneOff, "", Base(300.0, 40, 150.0));
        std::snprintf(what, sizeof what, "hitch %.1f s, then the blocks owed at once", hitch);
        row.what = what;
        row.settings.hitchAtSeconds = kEventAt;
        row.settings.hitchSeconds = hitch;
        row.eventEnd = kEventAt + hitch;
        row.inShort = hitch == 1.0;
        rows.push_back(row);
    }
    {
        EventRow row = Make(Kind::OneOff, "device thread stalls 0.1 s", Base(300.0, 40, 150.0));
        row.settings.stallAtSeconds = kEventAt;
        row.settings.stallSeconds = 0.1;
        row.eventEnd = kEventAt + 0.1;
        row.inShort = true;
        rows.push_back(row);
        EventRow pause = Make(Kind::OneOff, "engine pauses 2 s", Base(300.0, 40, 150.0));
        pause.settings.pauseAtSeconds = kEventAt;
        pause.settings.pauseSeconds = 2.0;
        pause.eventEnd = kEventAt + 2.0;
        pause.inShort = true;
        rows.push_back(pause);
    }
    // The ring cannot hold what the cadence needs: control against control off.
    for (const uint32_t target : {0u, 40u}) {
        EventRow row = Make(Kind::RingLimited, "8 kHz, 4096-frame buffers, ring 1 s",
                            Base(300.0, target, 120.0));
        row.settings.sampleRate = 8000;
        row.settings.deviceFrames = 4096;
        row.inShort = true;
        rows.push_back(row);
    }
    // Smooth under jitter, after settling.
    {
        EventRow late = Make(Kind::Jitter, "lateness <= 30 ms", Base(300.0, 40, 180.0));
        late.settings.blockLatenessMs = 30.0;
        late.inShort = true;
        rows.push_back(late);
        EventRow early = Make(Kind::Jitter, "lateness <= 30 ms", Base(-300.0, 40, 180.0));
        early.settings.blockLatenessMs = 30.0;
        rows.push_back(early);
        for (const uint32_t burst : {2u, 3u, 4u}) {
            EventRow row = Make(Kind::Jitter, "", Base(300.0, 40, 180.0));
            std::snprintf(what, sizeof what, "bursts of %u", burst);
            row.what = what;
            row.settings.burstBlocks = burst;
            rows.push_back(row);
        }
        EventRow step =
            Make(Kind::Jitter, "drift -300 -> +300 ppm at 60 s", Base(-300.0, 40, 180.0));
        step.settings.driftStepAtSeconds = kEventAt;
        step.settings.driftStepToPpm = 300.0;
        step.inShort = true;
        rows.push_back(step);
        if (options.longRun) {
            EventRow hours = Make(Kind::Jitter, "6 h of bursts of 3, lateness <= 10 ms",
                                  Base(300.0, 40, 6.0 * 3600.0));
            hours.settings.burstBlocks = 3;
            hours.settings.blockLatenessMs = 10.0;
            rows.push_back(hours);
        }
    }
    // Rapid changes of target for 10 s from 60 s, ending on the first.
    for (const auto& [a, b, every] :
         {std::tuple<uint32_t, uint32_t, double>{40, 0, 7.0}, {40, 200, 5.0}}) {
        EventRow row = Make(Kind::Rapid, "", Base(300.0, a, 120.0));
        std::snprintf(what, sizeof what, "%u <-> %u every %.0f ms for 10 s", b, a, every);
        row.what = what;
        row.settings.toggleFromSeconds = kEventAt;
        row.settings.toggleUntilSeconds = kEventAt + 10.0;
        row.settings.toggleEveryMs = every;
        row.settings.toggleMilliseconds[0] = a;
        row.settings.toggleMilliseconds[1] = b;
        row.settings.toggleEndMilliseconds = a;
        row.eventEnd = kEventAt + 10.0;
        row.largerTargetMs = std::max(a, b);
        row.inShort = true;
        rows.push_back(row);
    }
    // Control switched on in a stream that ran without it.
    for (const uint32_t burst : {1u, 3u}) {
        for (const double drift : {-300.0, 300.0}) {
            EventRow row =
                Make(Kind::SwitchOn, burst == 1 ? "0 -> 40, steady" : "0 -> 40, bursts of 3",
                     Base(drift, 0, 120.0));
            row.settings.burstBlocks = burst;
            row.settings.changeAtSeconds = kEventAt;
            row.settings.changeToMilliseconds = 40;
            row.inShort = burst == 1 && drift > 0.0;
            rows.push_back(row);
        }
    }
    return rows;
}

struct Verdict {
    std::string gaps;   // count (longest ms)
    std::string cuts;   // count (samples)
    std::string poor;   // windows below 60 dB
    std::string worst;  // worst window after settling, dB
    std::string depth;  // the row's depth figure
    std::string failed; // unmet verdicts, comma separated

    void Fail(const char* what) {
        failed += failed.empty() ? what : (std::string(", ") + what).c_str();
    }
};

std::string Format(const char* format, double a, double b = 0.0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// The last second from which the series stays within `limit` to the end, after `from`.
double BackAfter(const std::vector<double>& series, double limit, double from) {
    size_t back = static_cast<size_t>(from);
    for (size_t s = static_cast<size_t>(from); s < series.size(); ++s) {
        if (series[s] > limit) {
            back = s + 1;
        }
    }
    return static_cast<double>(back) - from;
}

Verdict Judge(const EventRow& row, const ScenarioResult& run) {
    Verdict verdict;
    const ScenarioSettings& settings = row.settings;
    const uint32_t rate = settings.sampleRate;
    const double end = settings.seconds;
    const double settled = static_cast<double>(kSettlingSeconds);
    const double blockMs = MsOf(settings.hostFrames, rate);
    const double requested = settings.targetMilliseconds;

    switch (row.kind) {
    case Kind::CadenceChange: {
        size_t worstGaps = 0;
        double longest = 0.0;
        size_t worstPoor = 0;
        uint64_t starved = 0;
        for (size_t c = 0; c < row.changes.size(); ++c) {
            const Span span{run, row.changes[c],
                            c + 1 < row.changes.size() ? row.changes[c + 1] : end};
            worstGaps = std::max(worstGaps, span.Count(run.silentRunList));
            longest = std::max(longest, span.LongestGapMs(rate));
            worstPoor = std::max(worstPoor, span.WindowsBelow(kPoorDb));
            // Starving afterwards: after the change's gap, if it has one.
            double gapEnd = span.from;
            for (const auto& gap : run.silentRunList) {
                if (span.Holds(gap.seconds)) {
                    gapEnd = gap.seconds + static_cast<double>(gap.frames) / rate;
                    break;
                }
            }
            const Span afterGap{run, gapEnd + 1.0, span.until};
            starved += afterGap.Starved() + afterGap.Padded();
        }
        // The second of a change holds what the engine pushed before anything could
        // measure it (a burst of six comes 107 ms early): it is not counted.
        double above = 0.0;
        for (size_t s = kSettlingSeconds; s < run.timeDepthMs.size(); ++s) {
            if (std::find(row.changes.begin(), row.changes.end(), static_cast<double>(s)) !=
                row.changes.end()) {
                continue;
            }
            above =
                std::max(above, run.timeDepthMs[s] - std::max(run.effectiveTargetMs[s], requested));
        }
        const double endError = std::fabs(run.controlDepthMs.back() - run.effectiveTargetMs.back());
        const Span after{run, settled, end};
        verdict.gaps = Format("%.0f (%.1f ms)", static_cast<double>(worstGaps), longest);
        verdict.cuts = Format("%.0f (%.0f)", static_cast<double>(after.Count(run.cuts)),
                              static_cast<double>(run.samplesRemoved));
        verdict.poor = Format("%.0f", static_cast<double>(worstPoor));
        verdict.worst = Format("%.1f", after.WorstWindowDb());
        verdict.depth = Format("%.1f above; %.2f off at end", above, endError);
        if (worstGaps > 1 || longest > kLongestGapMs) {
            verdict.Fail("gap");
        }
        if (starved > 0) {
            verdict.Fail("starved");
        }
        if (worstPoor > 6) {
            verdict.Fail("windows < 60 dB");
        }
        if (above > kAboveLimitMs) {
            verdict.Fail("depth above");
        }
        if (endError > 2.0) {
            verdict.Fail("depth at end");
        }
        break;
    }
    case Kind::OneOff: {
        // The event's own gap: the first silent run from its start until a second after.
        const Span own{run, kEventAt, row.eventEnd + 1.0};
        double ownEnd = row.eventEnd;
        for (const auto& gap : run.silentRunList) {
            if (own.Holds(gap.seconds)) {
                ownEnd = std::max(ownEnd, gap.seconds + static_cast<double>(gap.frames) / rate);
                break;
            }
        }
        const Span after{run, ownEnd + 0.05, end};
        const double limit = requested + kBackWithinMs;
        const double backTarget = BackAfter(run.effectiveTargetMs, limit, row.eventEnd);
        const double backDepth = BackAfter(run.timeDepthMs, limit, row.eventEnd);
        const size_t cuts = Span{run, kEventAt, end}.Count(run.cuts);
        verdict.gaps =
            Format("%.0f after its own", static_cast<double>(after.Count(run.silentRunList)));
        verdict.cuts = Format("%.0f (%.0f)", static_cast<double>(cuts),
                              static_cast<double>(run.samplesRemoved));
        verdict.poor = Format("%.0f after", static_cast<double>(after.WindowsBelow(kPoorDb)));
        verdict.worst = Format("%.1f", Span{run, row.eventEnd + kBackSeconds, end}.WorstWindowDb());
        verdict.depth = Format("target back in %.0f s, depth in %.0f s", backTarget, backDepth);
        if (after.Count(run.silentRunList) > 0 || after.Starved() + after.Padded() > 0) {
            verdict.Fail("gap after");
        }
        if (cuts > 3) {
            verdict.Fail("cuts");
        }
        if (after.WindowsBelow(kPoorDb) > 4) {
            verdict.Fail("windows < 60 dB");
        }
        if (backTarget > kBackSeconds || backDepth > kBackSeconds) {
            verdict.Fail("not back in 30 s");
        }
        break;
    }
    case Kind::RingLimited: {
        const Span after{run, settled, end};
        verdict.gaps = Format("%.0f (%.1f ms)", static_cast<double>(after.Count(run.silentRunList)),
                              after.LongestGapMs(rate));
        verdict.cuts = Format("%.0f (%.0f)", static_cast<double>(after.Count(run.cuts)),
                              static_cast<double>(run.samplesRemoved));
        verdict.poor = Format("%.0f", static_cast<double>(after.WindowsBelow(kPoorDb)));
        verdict.worst = Format("%.1f", after.WorstWindowDb());
        verdict.depth = Format("%.0f ms, correction %+.0f ppm", run.timeDepthMs.back(),
                               run.correctionPpm.back());
        if (after.Padded() > 0 || after.Count(run.silentRunList) > 0) {
            verdict.Fail("padded");
        }
        if (after.WorstWindowDb() < kSinadGoalDb) {
            verdict.Fail("SINAD");
        }
        if (std::fabs(run.correctionPpm.back()) > 0.99 * kMaxCorrection * 1e6) {
            verdict.Fail("correction pinned");
        }
        break;
    }
    case Kind::Jitter: {
        const Span after{run, settled, end};
        verdict.gaps = Format("%.0f", static_cast<double>(after.Count(run.silentRunList)));
        verdict.cuts = Format("%.0f (%.0f)", static_cast<double>(after.Count(run.cuts)),
                              static_cast<double>(run.samplesRemoved));
        verdict.poor =
            Format("%.0f below 85 dB", static_cast<double>(after.WindowsBelow(kSinadGoalDb)));
        verdict.worst = Format("%.1f", after.WorstWindowDb());
        verdict.depth = Format("effective %.1f ms", run.effectiveTargetMs.back());
        if (after.WorstWindowDb() < kSinadGoalDb) {
            verdict.Fail("SINAD");
        }
        if (after.Count(run.silentRunList) > 0) {
            verdict.Fail("gap");
        }
        break;
    }
    case Kind::Rapid: {
        double deepest = 0.0;
        for (size_t s = static_cast<size_t>(kEventAt); s < run.timeDepthMs.size(); ++s) {
            deepest = std::max(deepest, run.timeDepthMs[s]);
        }
        const Span toggling{run, kEventAt, end};
        const Span after{run, row.eventEnd, end};
        verdict.gaps =
            Format("%.0f (%.1f ms)", static_cast<double>(toggling.Count(run.silentRunList)),
                   toggling.LongestGapMs(rate));
        verdict.cuts = Format("%.0f after", static_cast<double>(after.Count(run.cuts)));
        verdict.poor = Format("%.0f", static_cast<double>(toggling.WindowsBelow(kPoorDb)));
        verdict.worst = Format("%.1f", Span{run, row.eventEnd + kBackSeconds, end}.WorstWindowDb());
        verdict.depth =
            Format("deepest 1-s mean %.1f ms (limit %.1f)", deepest, row.largerTargetMs + blockMs);
        if (deepest > row.largerTargetMs + blockMs) {
            verdict.Fail("depth");
        }
        if (after.Count(run.cuts) > 1) {
            verdict.Fail("cuts after");
        }
        if (toggling.WindowsBelow(kPoorDb) > 2) {
            verdict.Fail("windows < 60 dB");
        }
        break;
    }
    case Kind::SwitchOn: {
        const Span after{run, settings.changeAtSeconds, end};
        const double allowed = SineStep(rate, -kMaxCorrection) +
                               2.0 * kSineAmplitude * 32767.0 / kCrossfadeFrames + 2.0;
        verdict.gaps = Format("%.0f (%.1f ms)", static_cast<double>(after.Count(run.silentRunList)),
                              after.LongestGapMs(rate));
        verdict.cuts = Format("%.0f (%.0f)", static_cast<double>(after.Count(run.cuts)),
                              static_cast<double>(run.samplesRemoved));
        verdict.poor = Format("%.0f", static_cast<double>(after.WindowsBelow(kPoorDb)));
        verdict.worst =
            Format("%.1f", Span{run, settings.changeAtSeconds + settled, end}.WorstWindowDb());
        verdict.depth =
            Format("largest step %.0f LSB (allowed %.0f)", after.LargestStep(), allowed);
        if (after.LargestStep() > allowed) {
            verdict.Fail("step");
        }
        break;
    }
    }
    return verdict;
}

} // namespace

bool RunEventTable(const EventOptions& options) {
    std::printf("Events on a running stream: stereo, 48 kHz unless stated, host blocks and device "
                "buffers of 1024 frames, ring 1 s, changes and events at %.0f s (virtual time); "
                "the played 997 Hz sine judged per 50 ms window. Gaps: runs of two or more frames "
                "of exact zero (worst change, or after the event's own gap); cuts: runs of blocks "
                "with frames cut after settling or from the event on (samples over the run).\n\n",
                kEventAt);
    std::printf(
        "| what | drift ppm | target ms | gaps (longest) | cuts (samples) | windows < 60 dB "
        "| worst window after settling dB | depth | verdict |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    bool met = true;
    for (const EventRow& row : Rows(options)) {
        if ((options.shortVersion && !row.inShort) ||
            (!options.only.empty() && row.what.find(options.only) == std::string::npos)) {
            continue;
        }
        const ScenarioResult run = RunScenario(row.settings);
        const Verdict verdict = Judge(row, run);
        if (std::getenv("ZV_SCENARIO_TRACE") != nullptr) {
            for (const auto& gap : run.silentRunList) {
                std::printf("  silent run at %.3f s, %llu frames\n", gap.seconds,
                            static_cast<unsigned long long>(gap.frames));
            }
            for (const auto& cut : run.cuts) {
                std::printf("  cut at %.3f s, %llu samples\n", cut.seconds,
                            static_cast<unsigned long long>(cut.samples));
            }
            for (const auto& insert : run.inserts) {
                std::printf("  inserted at %.3f s, %llu samples\n", insert.seconds,
                            static_cast<unsigned long long>(insert.samples));
            }
            for (size_t w = 0; w < run.windowSinadDb.size(); ++w) {
                if (run.windowSinadDb[w] < 92.0f ||
                    (run.windowSeconds[w] > 59.8 && run.windowSeconds[w] < 60.1)) {
                    std::printf("  window at %.3f s: %.1f dB, step %.0f\n", run.windowSeconds[w],
                                run.windowSinadDb[w], run.windowStep[w]);
                }
            }
            for (size_t s = 0; s < run.timeDepthMs.size(); s += 5) {
                std::printf("  %zu s: depth %.1f ms, control %.1f, target %.1f, %+.0f ppm\n", s,
                            run.timeDepthMs[s], run.controlDepthMs[s], run.effectiveTargetMs[s],
                            run.correctionPpm[s]);
            }
        }
        char target[32];
        if (row.kind == Kind::RingLimited && row.settings.targetMilliseconds == 0) {
            std::snprintf(target, sizeof target, "off");
        } else {
            std::snprintf(target, sizeof target, "%u", row.settings.targetMilliseconds);
        }
        std::printf("| %s | %+.0f | %s | %s | %s | %s | %s | %s | %s |\n", row.what.c_str(),
                    row.settings.driftPpm, target, verdict.gaps.c_str(), verdict.cuts.c_str(),
                    verdict.poor.c_str(), verdict.worst.c_str(), verdict.depth.c_str(),
                    verdict.failed.empty() ? "met" : ("NOT met: " + verdict.failed).c_str());
        std::fflush(stdout);
        met = met && verdict.failed.empty();
    }
    std::printf("\nEvent verdicts: %s\n", met ? "met" : "NOT met");
    return met;
}

} // namespace zvscenario
