#include "SharedLibrary.h"

#include <utility>

#if defined(_WIN32)
#    ifndef WIN32_LEAN_AND_MEAN
#        define WIN32_LEAN_AND_MEAN
#    endif
#    include <windows.h>
#else
#    include <dlfcn.h>
#    include <unistd.h>
#endif

namespace zvdemo {

namespace {

#if defined(_WIN32)
std::wstring Widen(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) {
        return std::string();
    }
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                        nullptr, nullptr);
    return text;
}

std::string LastErrorText() {
    return "Windows error " + std::to_string(GetLastError());
}
#else
std::string LastErrorText() {
    const char* text = dlerror();
    return text != nullptr ? std::string(text) : std::string("unknown error");
}
#endif

} // namespace

SharedLibrary::~SharedLibrary() {
    Close();
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle(std::exchange(other.handle, nullptr)), error(std::move(other.error)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
    if (this != &other) {
        Close();
        handle = std::exchange(other.handle, nullptr);
        error = std::move(other.error);
    }
    return *this;
}

bool SharedLibrary::Open(const std::string& path) {
    Close();
    error.clear();
#if defined(_WIN32)
    // The altered search path makes the plug-in's own folder the first place
    // its dependencies are looked for, as when the engine loads it.
    HMODULE module = LoadLibraryExW(Widen(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    handle = reinterpret_cast<void*>(module);
#else
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (handle == nullptr) {
        error = "cannot load " + path + ": " + LastErrorText();
        return false;
    }
    return true;
}

void SharedLibrary::Close() {
    if (handle == nullptr) {
        return;
    }
#if defined(_WIN32)
    FreeLibrary(reinterpret_cast<HMODULE>(handle));
#else
    dlclose(handle);
#endif
    handle = nullptr;
}

SharedLibrary::Symbol SharedLibrary::Resolve(const char* name) {
    if (handle == nullptr) {
        error = std::string("no library is open to resolve ") + name;
        return nullptr;
    }
#if defined(_WIN32)
    FARPROC address = GetProcAddress(reinterpret_cast<HMODULE>(handle), name);
    if (address == nullptr) {
        error = std::string("missing export ") + name + ": " + LastErrorText();
        return nullptr;
    }
    return reinterpret_cast<Symbol>(address);
#else
    dlerror();
    void* address = dlsym(handle, name);
    if (address == nullptr) {
        error = std::string("missing export ") + name + ": " + LastErrorText();
        return nullptr;
    }
    return reinterpret_cast<Symbol>(address);
#endif
}

std::string SharedLibrary::FileNameFor(const std::string& baseName) {
#if defined(_WIN32)
    return baseName + ".dll";
#elif defined(__APPLE__)
    return "lib" + baseName + ".dylib";
#else
    return "lib" + baseName + ".so";
#endif
}

std::string SharedLibrary::ExecutableDirectory() {
    std::string path;
#if defined(_WIN32)
    std::wstring buffer(32768, L'\0');
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length > 0 && length < buffer.size()) {
        buffer.resize(length);
        path = Narrow(buffer);
    }
#else
    std::string buffer(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length > 0 && static_cast<std::size_t>(length) < buffer.size()) {
        buffer.resize(static_cast<std::size_t>(length));
        path = buffer;
    }
#endif
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace zvdemo
