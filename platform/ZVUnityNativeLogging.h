// Declaration of the engine-side logging library (zv_unity_native_logging),
// exactly as the plug-in calls it. The function has C++ linkage, and its
// decorated name depends on the compiler family. On Windows the platform's DLL
// exports the MSVC name; the import library the plug-in links against maps
// whatever this compiler references to that name (cmake/ZVWindowsPlatform.cmake).
#pragma once

#include <cstdint>

#if defined(_WIN32)
// Exported by name from an export list, under the decoration the platform uses.
#    define ZV_LOGGING_API
#else
#    define ZV_LOGGING_API __attribute__((visibility("default")))
#endif

#if defined(__GNUC__)
#    define ZV_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#    define ZV_PRINTF_FORMAT(fmt, args)
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
