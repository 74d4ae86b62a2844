// The logging library's one call, answered by the build's platform model, for
// builds in which the model stands in for the logger too.
#include "PlatformModel.h"
#include "ZVUnityNativeLogging.h"

namespace zv {

void ZVUnityNativeLogging::Log(ZVUnityNativeLogLevel level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    zvplatform::ActivePlatform().Log(static_cast<int32_t>(level), format, args);
    va_end(args);
}

} // namespace zv
