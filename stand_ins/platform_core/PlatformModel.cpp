#include "PlatformModel.h"

#include <cstdio>

namespace zvplatform {

void PlatformModel::Log(int32_t /*level*/, const char* format, va_list args) {
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    ++logLines;
    std::fprintf(stderr, "plug-in log: %s\n", line);
}

} // namespace zvplatform
