// Declaration of the engine-side logging library (zv_unity_native_logging),
// exactly as the plug-in calls it. The function has C++ linkage: its decorated
// name depends on the compiler family, so the plug-in and the logging library
// must be built by the same family.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#  if defined(ZV_LOGGING_BUILDING)
#    define ZV_LOGGING_API __declspec(dllexport)
#  else
#    define ZV_LOGGING_API
#  endif
#else
#  define ZV_LOGGING_API __attribute__((visibility("default")))
#endif

#if defined(__GNUC__)
#  define ZV_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#  define ZV_PRINTF_FORMAT(fmt, args)
#endif

namespace zv {

// Declared at namespace scope so that the mangled name of Log is the same in
// every build made with one compiler family. The plug-in uses the value 1.
enum ZVUnityNativeLogLevel : int32_t {};

class ZV_LOGGING_API ZVUnityNativeLogging {
public:
    static void Log(ZVUnityNativeLogLevel level, const char* format, ...) ZV_PRINTF_FORMAT(2, 3);
};

} // namespace zv
