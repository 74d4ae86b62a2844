#include "FailureInjector.h"

namespace zvsim {

namespace {

bool IsKnownCall(ZVSimCall call) {
    return call >= 0 && call < kSimCallCount;
}

} // namespace

void FailureInjector::Arm(ZVSimCall call, ZVResult result, uint32_t count) {
    if (!IsKnownCall(call)) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    Armed& entry = armed[static_cast<std::size_t>(call)];
    entry.result = result;
    entry.remaining = result == kResultOk ? 0 : count;
}

void FailureInjector::Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    armed.fill(Armed{});
}

ZVResult FailureInjector::Take(ZVSimCall call) {
    std::lock_guard<std::mutex> lock(mutex);
    Armed& entry = armed[static_cast<std::size_t>(call)];
    if (entry.remaining == 0) {
        return kResultOk;
    }
    --entry.remaining;
    return entry.result;
}

} // namespace zvsim
