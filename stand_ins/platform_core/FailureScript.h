// The results that chosen platform calls return instead of running: failure
// injection for tests of the plug-in's error paths.
#pragma once

#include "PlatformCall.h"
#include "ZVAudio.h"

#include <array>
#include <cstdint>
#include <deque>
#include <mutex>

namespace zvplatform {

// Per call, a queue of scripted results, each for a number of calls, then a
// standing result (kResultOk unless set). Any thread; taking a result
// allocates nothing.
class FailureScript {
public:
    // The next `times` calls of `call`, after those already scripted, return `result`.
    void Append(PlatformCall call, ZVResult result, uint32_t times = 1);
    // The next `times` calls of `call` return `result`, replacing what was
    // scripted for it; kResultOk or 0 times disarms the call.
    void Arm(PlatformCall call, ZVResult result, uint32_t times);
    // Every call of `call` beyond the scripted ones returns `result`.
    void SetStanding(PlatformCall call, ZVResult result);
    // Nothing scripted and every standing result kResultOk.
    void Clear();

    // The result this call of `call` returns, using up one scripted call.
    ZVResult Next(PlatformCall call);

private:
    struct Run {
        ZVResult result;
        uint32_t remaining;
    };
    struct Script {
        std::deque<Run> runs;
        ZVResult standing = kResultOk;
    };

    std::mutex mutex;
    std::array<Script, kPlatformCallCount> scripts{};
};

} // namespace zvplatform
