#include "FailureScript.h"

namespace zvplatform {

void FailureScript::Append(PlatformCall call, ZVResult result, uint32_t times) {
    if (times == 0) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    std::deque<Run>& runs = scripts[IndexOf(call)].runs;
    if (!runs.empty() && runs.back().result == result &&
        runs.back().remaining < UINT32_MAX - times) {
        runs.back().remaining += times;
    } else {
        runs.push_back({result, times});
    }
}

void FailureScript::Arm(PlatformCall call, ZVResult result, uint32_t times) {
    std::lock_guard<std::mutex> lock(mutex);
    std::deque<Run>& runs = scripts[IndexOf(call)].runs;
    runs.clear();
    if (result != kResultOk && times != 0) {
        runs.push_back({result, times});
    }
}

void FailureScript::SetStanding(PlatformCall call, ZVResult result) {
    std::lock_guard<std::mutex> lock(mutex);
    scripts[IndexOf(call)].standing = result;
}

void FailureScript::Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    for (Script& script : scripts) {
        script.runs.clear();
        script.standing = kResultOk;
    }
}

ZVResult FailureScript::Next(PlatformCall call) {
    std::lock_guard<std::mutex> lock(mutex);
    Script& script = scripts[IndexOf(call)];
    if (script.runs.empty()) {
        return script.standing;
    }
    Run& run = script.runs.front();
    const ZVResult result = run.result;
    if (--run.remaining == 0) {
        script.runs.pop_front();
    }
    return result;
}

} // namespace zvplatform
