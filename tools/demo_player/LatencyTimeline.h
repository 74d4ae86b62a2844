// The queue depth and latency control's correction over a run, sampled while
// the engine plays and printed as a short table: at the start, at even steps
// in between, and at the end.
#pragma once

#include <cstddef>
#include <vector>

namespace zvdemo {

class LatencyTimeline {
public:
    // Keeps about `rows` samples spread over `programmeSeconds` of audio.
    LatencyTimeline(double programmeSeconds, size_t rows);

    // queueMs: samples in the ring now; depthMs and correctionPpm: latency
    // control's smoothed depth and correction (0 with control off).
    void Sample(double audioSeconds, double queueMs, double depthMs, double correctionPpm);

    void Print(bool controlOn) const;

private:
    struct Row {
        double audioSeconds;
        double queueMs;
        double depthMs;
        double correctionPpm;
    };
    double step;
    double nextAt = 0.0;
    std::vector<Row> rows;
    Row last{};
    bool haveLast = false;
};

} // namespace zvdemo
