// Stand-in for the engine's logging library. Every call becomes one complete
// line on stderr, written in a single piece so that lines from different
// threads never interleave. Nothing is allocated: the line is built on the stack.
#include "ZVUnityNativeLogging.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace zv {
namespace {

// Long enough for any message the plug-in writes; longer ones are cut short.
constexpr std::size_t kMaxLineLength = 1024;

// Serialises writers; stderr is unbuffered, so one fwrite is one write.
std::mutex logMutex;

} // namespace

void ZVUnityNativeLogging::Log(ZVUnityNativeLogLevel level, const char* format, ...) {
    char line[kMaxLineLength];
    int prefixLength =
        std::snprintf(line, sizeof line, "[ZVAudioOutput level %d] ", static_cast<int>(level));
    std::size_t length = prefixLength > 0 ? static_cast<std::size_t>(prefixLength) : 0;

    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        int written = std::vsnprintf(line + length, sizeof line - length, format, args);
        va_end(args);
        if (written > 0) {
            length += static_cast<std::size_t>(written);
        }
    }

    // Leave room for the newline even when the message was cut short.
    if (length > sizeof line - 2) {
        length = sizeof line - 2;
    }
    line[length++] = '\n';
    line[length] = '\0';

    std::lock_guard<std::mutex> lock(logMutex);
    std::fwrite(line, 1, length, stderr);
    std::fflush(stderr);
}

} // namespace zv
