// How the plug-in and the platform DLLs load under the engine's own loader:
// both of its runtimes load a plug-in with a plain LoadLibraryW of its full
// path (libil2cpp os/Win32/LibraryLoader.cpp; Mono mono_dl_open_file), and
// Windows then resolves the plug-in's imports from the modules already loaded,
// else through the standard search order: the application's folder, the
// system folders, the current folder and PATH, never the plug-in's own folder
// (Win32 documentation, "Dynamic-link library search order").
//
//   zv_load_order platform-first <platform folder> <plug-in folder>
//     preloads zv_unity_native_logging.dll and zv_sdk_loader.dll from the first
//     folder as the package's binding does, then loads ZVAudioOutput.dll from
//     the second (which holds neither) as the engine does, and plays a few
//     blocks through it: the imports bind to the modules already loaded.
//   zv_load_order plugin-alone <plug-in folder>
//     loads the plug-in as the engine does with neither platform DLL loaded nor
//     on the search path: ERROR_MOD_NOT_FOUND, and the plug-in's import table
//     names the modules that could not be found.
//   zv_load_order side-by-side <folder>
//     the three DLLs in one folder that is neither the program's nor the
//     current one, the plug-in loaded as the engine does: ERROR_MOD_NOT_FOUND,
//     for the platform DLLs beside it are not searched.
//   zv_load_order side-by-side-preloaded <folder>
//     the same folder, the platform DLLs preloaded from it first as the
//     binding does: the plug-in loads and plays.
//
// The binding's preload: each platform DLL by full path with
// LOAD_WITH_ALTERED_SEARCH_PATH, so that its own imports are found beside it,
// the logging library first (unity_package/.../Runtime/Core/PlatformLibraryPreload.cs).
//
// Exits 0 when the load order behaves as stated, 1 otherwise.
#ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Stats {
    uint64_t samplesQueued;
    uint64_t samplesDropped;
    uint64_t samplesDelivered;
    uint64_t silenceSamples;
    uint64_t buffersFilled;
    uint64_t requestsDeferred;
    uint64_t queuedSamples;
    uint64_t ringCapacity;
    uint64_t samplesWithoutStream;
};

using CreateAudioOutputFn = bool (*)();
using CreateOutputBufferFn = bool (*)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, float,
                                      uint32_t);
using OnUnityAudioFn = bool (*)(const float*, int32_t);
using GetStatsFn = bool (*)(Stats*);
using DestroyAudioOutputFn = bool (*)();
using SetSpeedFactorFn = void (*)(double);

const char* const kPlatformDlls[] = {"zv_sdk_loader.dll", "zv_unity_native_logging.dll"};
// The order the binding preloads them in.
const char* const kPreloadOrder[] = {"zv_unity_native_logging.dll", "zv_sdk_loader.dll"};

int Fail(const std::string& what) {
    std::fprintf(stderr, "FAIL: %s\n", what.c_str());
    return 1;
}

std::wstring Wide(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    const int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], length);
    wide.resize(wide.size() - 1);
    return wide;
}

// Loads a plug-in as the engine's runtimes do: a plain LoadLibraryW of its path.
HMODULE LoadAsTheEngine(const std::string& path, DWORD* error) {
    HMODULE module = LoadLibraryW(Wide(path).c_str());
    *error = module == nullptr ? GetLastError() : 0;
    return module;
}

// Loads a platform DLL as the package's binding does before its first call into
// the plug-in: by full path (with backslashes, which that search needs), its
// own imports looked for beside it.
HMODULE Preload(const std::string& path, DWORD* error) {
    HMODULE module = LoadLibraryExW(Wide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    *error = module == nullptr ? GetLastError() : 0;
    return module;
}

template <typename Function> Function Resolve(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::string ModulePath(HMODULE module) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    return path;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// The names of the DLLs a PE32+ image imports, read from the file.
std::vector<std::string> ImportedDlls(const std::string& path) {
    std::string native = path;
    std::replace(native.begin(), native.end(), '/', '\\');
    std::ifstream file(native, std::ios::binary);
    const std::vector<char> image((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    auto at = [&image](std::size_t offset, std::size_t size) {
        return offset + size <= image.size() ? image.data() + offset : nullptr;
    };
    std::vector<std::string> names;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(at(0, sizeof(IMAGE_DOS_HEADER)));
    if (dos == nullptr) {
        return names;
    }
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
        at(static_cast<std::size_t>(dos->e_lfanew), sizeof(IMAGE_NT_HEADERS64)));
    if (nt == nullptr || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        return names;
    }
    const auto* sections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
        at(static_cast<std::size_t>(dos->e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
               nt->FileHeader.SizeOfOptionalHeader,
           nt->FileHeader.NumberOfSections * sizeof(IMAGE_SECTION_HEADER)));
    // File offset of a relative virtual address, through the section holding it.
    auto offsetOf = [&](DWORD rva) -> std::size_t {
        for (WORD i = 0; sections != nullptr && i < nt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData) {
                return rva - s.VirtualAddress + s.PointerToRawData;
            }
        }
        return image.size();
    };
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (std::size_t entry = offsetOf(directory.VirtualAddress);;
         entry += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
            at(entry, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
        if (import == nullptr || import->Name == 0) {
            break;
        }
        const std::size_t name = offsetOf(import->Name);
        if (name < image.size()) {
            names.emplace_back(image.data() + name,
                               strnlen(image.data() + name, image.size() - name));
        }
    }
    return names;
}

// Preloads both platform DLLs from `platformDir` in the binding's order.
bool PreloadPlatform(const std::string& platformDir, HMODULE* loaded) {
    for (int i = 0; i < 2; ++i) {
        DWORD error = 0;
        loaded[i] = Preload(platformDir + "\\" + kPreloadOrder[i], &error);
        if (loaded[i] == nullptr) {
            std::fprintf(stderr, "FAIL: cannot preload %s: error %lu\n", kPreloadOrder[i], error);
            return false;
        }
    }
    return true;
}

// Plays a few blocks through the loaded plug-in into the simulated device.
int Play(HMODULE plugin) {
    // The plug-in's imports went to the modules already loaded.
    HMODULE device = GetModuleHandleA("zv_sdk_loader.dll");
    auto create = Resolve<CreateAudioOutputFn>(plugin, "CreateAudioOutput");
    auto open = Resolve<CreateOutputBufferFn>(plugin, "CreateOutputBuffer");
    auto push = Resolve<OnUnityAudioFn>(plugin, "OnUnityAudio");
    auto stats = Resolve<GetStatsFn>(plugin, "GetAudioOutputStats");
    auto destroy = Resolve<DestroyAudioOutputFn>(plugin, "DestroyAudioOutput");
    auto speed =
        device == nullptr ? nullptr : Resolve<SetSpeedFactorFn>(device, "ZVSimSetSpeedFactor");
    if (!create || !open || !push || !stats || !destroy || !speed) {
        return Fail("an export is missing");
    }
    speed(20.0);
    if (!create()) {
        return Fail("CreateAudioOutput returned false");
    }
    if (!open(256, 2, 48000, 0, 0, 0.0f, 1)) {
        return Fail("CreateOutputBuffer returned false");
    }
    std::vector<float> block(512, 0.25f);
    Stats counters = {};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (counters.buffersFilled < 4 && std::chrono::steady_clock::now() < deadline) {
        if (!push(block.data(), static_cast<int32_t>(block.size()))) {
            return Fail("OnUnityAudio returned false");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        stats(&counters);
    }
    destroy();
    std::printf("ring %llu samples, %llu buffers filled, %llu samples delivered\n",
                static_cast<unsigned long long>(counters.ringCapacity),
                static_cast<unsigned long long>(counters.buffersFilled),
                static_cast<unsigned long long>(counters.samplesDelivered));
    if (counters.ringCapacity == 0 || counters.buffersFilled < 4 ||
        counters.samplesDelivered == 0) {
        return Fail("the platform stream played nothing");
    }
    return 0;
}

int PlatformFirst(const std::string& platformDir, const std::string& pluginDir) {
    HMODULE platform[2] = {};
    if (!PreloadPlatform(platformDir, platform)) {
        return 1;
    }
    DWORD error = 0;
    HMODULE plugin = LoadAsTheEngine(pluginDir + "\\ZVAudioOutput.dll", &error);
    if (plugin == nullptr) {
        return Fail("ZVAudioOutput.dll after the platform DLLs: error " + std::to_string(error));
    }
    for (int i = 0; i < 2; ++i) {
        if (GetModuleHandleA(kPreloadOrder[i]) != platform[i]) {
            return Fail(std::string(kPreloadOrder[i]) + " is loaded twice");
        }
    }
    std::printf("platform DLLs from %s, plug-in from %s\n", ModulePath(platform[0]).c_str(),
                ModulePath(plugin).c_str());
    return Play(plugin);
}

// The three DLLs side by side in `dir`, the plug-in loaded as the engine does:
// with the preload it plays, without it Windows does not find its imports.
int SideBySide(const std::string& dir, bool preload) {
    HMODULE platform[2] = {};
    if (preload && !PreloadPlatform(dir, platform)) {
        return 1;
    }
    DWORD error = 0;
    HMODULE plugin = LoadAsTheEngine(dir + "\\ZVAudioOutput.dll", &error);
    if (!preload) {
        std::printf(
            "ZVAudioOutput.dll beside its platform DLLs, loaded as the engine does: error %lu\n",
            error);
        if (plugin != nullptr) {
            return Fail("the plug-in found the platform DLLs beside it by itself; the load order "
                        "this test models no longer holds");
        }
        return error == ERROR_MOD_NOT_FOUND
                   ? 0
                   : Fail("expected error " + std::to_string(ERROR_MOD_NOT_FOUND));
    }
    if (plugin == nullptr) {
        return Fail("ZVAudioOutput.dll after the preload: error " + std::to_string(error));
    }
    std::printf("preloaded %s and %s, plug-in from %s\n", ModulePath(platform[0]).c_str(),
                ModulePath(platform[1]).c_str(), ModulePath(plugin).c_str());
    return Play(plugin);
}

int PluginAlone(const std::string& pluginDir) {
    const std::string path = pluginDir + "\\ZVAudioOutput.dll";
    DWORD error = 0;
    if (LoadAsTheEngine(path, &error) != nullptr) {
        return Fail("ZVAudioOutput.dll loaded without its platform DLLs");
    }
    // What the import table asks for and the search path cannot give.
    std::vector<std::string> names = ImportedDlls(path);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
    std::string missing;
    for (const std::string& name : names) {
        if (GetModuleHandleA(name.c_str()) != nullptr) {
            continue;
        }
        HMODULE found = LoadLibraryExA(name.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (found != nullptr) {
            FreeLibrary(found);
            continue;
        }
        missing += (missing.empty() ? "" : " ") + Lower(name);
    }
    std::printf("ZVAudioOutput.dll alone: error %lu; not found: %s\n", error, missing.c_str());
    if (error != ERROR_MOD_NOT_FOUND) {
        return Fail("expected error " + std::to_string(ERROR_MOD_NOT_FOUND));
    }
    if (missing != std::string(kPlatformDlls[0]) + " " + kPlatformDlls[1]) {
        return Fail("expected exactly the two platform DLLs to be missing");
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "platform-first" && argc == 4) {
        return PlatformFirst(argv[2], argv[3]);
    }
    if (mode == "plugin-alone" && argc == 3) {
        return PluginAlone(argv[2]);
    }
    if ((mode == "side-by-side" || mode == "side-by-side-preloaded") && argc == 3) {
        return SideBySide(argv[2], mode == "side-by-side-preloaded");
    }
    std::fprintf(stderr, "usage: zv_load_order platform-first <platform dir> <plug-in dir>\n"
                         "       zv_load_order plugin-alone <plug-in dir>\n"
                         "       zv_load_order side-by-side[-preloaded] <folder of all three>\n");
    return 2;
}
