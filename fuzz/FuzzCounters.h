// Totals over a whole fuzzing run, printed when the process exits, so that a run
// reports how many operations it checked and not only how many inputs it tried.
#pragma once

#include <array>
#include <cinttypes>
#include <cstdint>
#include <cstdio>

namespace zvfuzz {

enum class Counter { Steps, Samples, Requests, FailedCalls, LateRequests, LoggerThrows, kCount };

class FuzzCounters {
public:
    static FuzzCounters& Instance() {
        static FuzzCounters counters;
        return counters;
    }

    void Add(Counter counter, uint64_t amount) { totals[static_cast<size_t>(counter)] += amount; }

    ~FuzzCounters() {
        std::fprintf(stderr,
                     "checked: %" PRIu64 " steps, %" PRIu64 " samples, %" PRIu64
                     " platform requests, %" PRIu64 " failed platform calls, %" PRIu64
                     " late requests to freed instances, %" PRIu64 " throwing log calls\n",
                     totals[0], totals[1], totals[2], totals[3], totals[4], totals[5]);
    }

private:
    FuzzCounters() = default;
    std::array<uint64_t, static_cast<size_t>(Counter::kCount)> totals{};
};

inline void Count(Counter counter, uint64_t amount = 1) {
    FuzzCounters::Instance().Add(counter, amount);
}

} // namespace zvfuzz
