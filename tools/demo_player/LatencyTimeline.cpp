#include "LatencyTimeline.h"

#include <algorithm>
#include <cstdio>

namespace zvdemo {

LatencyTimeline::LatencyTimeline(double programmeSeconds, size_t rowCount)
    : step(programmeSeconds / static_cast<double>(std::max<size_t>(rowCount, 1))) {}

void LatencyTimeline::Sample(double audioSeconds, double queueMs, double depthMs,
                             double correctionPpm) {
    last = Row{audioSeconds, queueMs, depthMs, correctionPpm};
    haveLast = true;
    // The first sample once audio flows is the start; then one per step.
    if (audioSeconds > 0.0 && audioSeconds >= nextAt) {
        rows.push_back(last);
        nextAt = rows.size() == 1 ? step : nextAt + step;
    }
}

void LatencyTimeline::Print(bool controlOn) const {
    std::vector<Row> all = rows;
    if (haveLast && (all.empty() || all.back().audioSeconds < last.audioSeconds)) {
        all.push_back(last);
    }
    std::printf("\nQueue depth over time%s\n",
                controlOn ? " (latency control on)" : " (latency control off)");
    std::printf("  %10s  %12s  %16s  %16s\n", "audio s", "queue ms", "smoothed depth ms",
                "correction ppm");
    for (size_t i = 0; i < all.size(); ++i) {
        const Row& row = all[i];
        const char* label = i == 0 ? "  start" : (i + 1 == all.size() ? "  end" : "");
        if (controlOn) {
            std::printf("  %10.2f  %12.1f  %16.1f  %+16.1f%s\n", row.audioSeconds, row.queueMs,
                        row.depthMs, row.correctionPpm, label);
        } else {
            std::printf("  %10.2f  %12.1f  %16s  %16s%s\n", row.audioSeconds, row.queueMs, "-", "-",
                        label);
        }
    }
}

} // namespace zvdemo
