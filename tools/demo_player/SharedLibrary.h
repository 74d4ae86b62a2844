// A dynamic library opened by path at run time, the way the engine opens a
// plug-in. This class is the only place that knows dlopen from LoadLibraryW.
#pragma once

#include <string>

namespace zvdemo {

class SharedLibrary {
public:
    // The generic shape every resolved symbol is handed out as; callers cast
    // it to the export's real type.
    using Symbol = void (*)();

    SharedLibrary() = default;
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;
    SharedLibrary(SharedLibrary&& other) noexcept;
    SharedLibrary& operator=(SharedLibrary&& other) noexcept;

    // Opens the library at `path` (UTF-8) with every symbol bound at once, so
    // that a missing dependency fails here rather than at the first call.
    // Closes any library held before. False with Error() set on failure.
    bool Open(const std::string& path);

    // Lets go of the library; the process may unmap it.
    void Close();

    bool IsOpen() const { return handle != nullptr; }

    // The exported symbol `name`, or null (with Error() set) when it is missing.
    Symbol Resolve(const char* name);

    const std::string& Error() const { return error; }

    // "libName.so" on Linux, "Name.dll" on Windows.
    static std::string FileNameFor(const std::string& baseName);

    // Folder of the running executable (UTF-8), or "." when it cannot be told.
    static std::string ExecutableDirectory();

private:
    void* handle = nullptr;
    std::string error;
};

} // namespace zvdemo
