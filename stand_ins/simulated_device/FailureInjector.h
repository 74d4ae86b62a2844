// Makes chosen platform calls fail on purpose, for tests of error paths.
#pragma once

#include "ZVSimulatedDevice.h"

#include <array>
#include <cstdint>
#include <mutex>

namespace zvsim {

class FailureInjector {
public:
    // The next `count` calls of `call` fail with `result`; a result of 0 or a
    // count of 0 disarms that call.
    void Arm(ZVSimCall call, ZVResult result, uint32_t count);
    void Clear();

    // Returns the result an armed call must fail with, using up one of its
    // failures, or kResultOk when the call should run normally. Any thread.
    ZVResult Take(ZVSimCall call);

private:
    struct Armed {
        ZVResult result = kResultOk;
        uint32_t remaining = 0;
    };

    std::mutex mutex;
    std::array<Armed, kSimCallCount> armed{};
};

} // namespace zvsim
