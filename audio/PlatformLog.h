#pragma once

#include "ZVAudio.h"

namespace zvaudio {

// One log line, "<call>() failed with error <text>", for a failing platform call.
void LogPlatformFailure(const char* callName, ZVResult result);

// One log line in the same format for a failure of the plug-in's own, with a
// text of its own in place of the platform's result text.
void LogFailure(const char* callName, const char* text);

} // namespace zvaudio
