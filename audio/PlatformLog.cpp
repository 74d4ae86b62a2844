#include "PlatformLog.h"

#include "ZVUnityNativeLogging.h"

namespace zvaudio {

namespace {
constexpr auto kLogLevel = static_cast<zv::ZVUnityNativeLogLevel>(1);
} // namespace

void LogPlatformFailure(const char* callName, ZVResult result) noexcept {
    const char* text = ZVAudioGetResultString(result);
    LogFailure(callName, text != nullptr ? text : "(no description)");
}

void LogFailure(const char* callName, const char* text) noexcept {
    try {
        zv::ZVUnityNativeLogging::Log(kLogLevel, "%s() failed with error %s", callName, text);
    } catch (...) {
        // Nothing to tell and no one to tell it to: the line is lost.
    }
}

} // namespace zvaudio
