#pragma once

#include "ZVAudio.h"

namespace zvaudio {

// The engine's logging function may throw (it formats, and may run out of
// memory doing so). Both of these catch whatever it throws: a line that cannot
// be written is lost, never the caller.

// One log line, "<call>() failed with error <text>", for a failing platform call.
void LogPlatformFailure(const char* callName, ZVResult result) noexcept;

// One log line in the same format for a failure of the plug-in's own, with a
// text of its own in place of the platform's result text.
void LogFailure(const char* callName, const char* text) noexcept;

} // namespace zvaudio
