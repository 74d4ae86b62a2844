// The seven platform calls that a model of the platform answers, by kind.
#pragma once

#include <cstddef>

namespace zvplatform {

// In the order of the simulated device's ZVSimCall numbers.
enum class PlatformCall {
    GetBufferedOutputDefaults,
    CreateSoundWithBufferedOutput,
    StartSound,
    StopSound,
    DestroySound,
    GetOutputBuffer,
    ReleaseOutputBuffer,
};

constexpr std::size_t kPlatformCallCount = 7;

// The call's exported name, as the plug-in logs it.
const char* PlatformCallName(PlatformCall call);

constexpr std::size_t IndexOf(PlatformCall call) {
    return static_cast<std::size_t>(call);
}

} // namespace zvplatform
