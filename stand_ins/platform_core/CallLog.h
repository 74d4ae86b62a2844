// Which platform calls were made, in order, and how many of each.
#pragma once

#include "PlatformCall.h"
#include "ZVAudio.h"

#include <array>
#include <cstdint>
#include <vector>

namespace zvplatform {

struct CallRecord {
    PlatformCall call;
    ZVSoundHandle handle; // kInvalidSoundHandle for calls that take none
};

// Counts every call; also keeps the calls in order unless quiet, so that a
// quiet log allocates nothing per call. Takes no lock: the owner's guards it.
class CallLog {
public:
    void Record(PlatformCall call, ZVSoundHandle handle) {
        ++counts[IndexOf(call)];
        if (!quiet) {
            records.push_back({call, handle});
        }
    }
    void SetQuiet(bool enabled) { quiet = enabled; }
    // Forgets the calls and the counts and ends quiet.
    void Clear();

    const std::vector<CallRecord>& Records() const { return records; }
    uint64_t Count(PlatformCall call) const { return counts[IndexOf(call)]; }
    uint64_t Total() const;

private:
    std::vector<CallRecord> records;
    std::array<uint64_t, kPlatformCallCount> counts{};
    bool quiet = false;
};

} // namespace zvplatform
