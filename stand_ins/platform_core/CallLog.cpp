#include "CallLog.h"

#include <numeric>

namespace zvplatform {

const char* PlatformCallName(PlatformCall call) {
    switch (call) {
    case PlatformCall::GetBufferedOutputDefaults: return "ZVAudioGetBufferedOutputDefaults";
    case PlatformCall::CreateSoundWithBufferedOutput: return "ZVAudioCreateSoundWithBufferedOutput";
    case PlatformCall::StartSound: return "ZVAudioStartSound";
    case PlatformCall::StopSound: return "ZVAudioStopSound";
    case PlatformCall::DestroySound: return "ZVAudioDestroySound";
    case PlatformCall::GetOutputBuffer: return "ZVAudioGetOutputBuffer";
    case PlatformCall::ReleaseOutputBuffer: return "ZVAudioReleaseOutputBuffer";
    }
    return "?";
}

void CallLog::Clear() {
    records.clear();
    counts.fill(0);
    quiet = false;
}

uint64_t CallLog::Total() const {
    return std::accumulate(counts.begin(), counts.end(), uint64_t{0});
}

} // namespace zvplatform
