#include "StreamLibraryReference.h"

#if defined(_WIN32)
#    ifndef WIN32_LEAN_AND_MEAN
#        define WIN32_LEAN_AND_MEAN
#    endif
#    include <windows.h>
#else
#    include <dlfcn.h>
#endif

namespace zvaudio {

namespace {

// Any address inside the library names it.
const char anchor = 0;

void* TakeReference() {
#if defined(_WIN32)
    HMODULE module = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&anchor), &module) == 0) {
        return nullptr;
    }
    return module;
#else
    Dl_info info{};
    if (dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr) {
        return nullptr;
    }
    // The library already loaded, never a second copy of it.
    return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
#endif
}

void DropReference(void* library) {
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(library));
#else
    dlclose(library);
#endif
}

} // namespace

void StreamLibraryReference::StreamCreated() {
    if (streams++ == 0) {
        library = TakeReference();
    }
}

void StreamLibraryReference::StreamDestroyed() {
    if (streams == 0 || --streams != 0 || library == nullptr) {
        return;
    }
    DropReference(library);
    library = nullptr;
}

} // namespace zvaudio
