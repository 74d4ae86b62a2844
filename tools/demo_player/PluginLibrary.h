// The plug-in loaded by path with its ten exports resolved by name, exactly
// as the engine binds it. Nothing here links against the plug-in.
#pragma once

#include "SharedLibrary.h"
#include "ZVAudioOutput.h"

#include <string>

namespace zvdemo {

// The exports as function pointers, typed after the plug-in's own header so
// that a changed signature fails to compile here.
struct PluginExports {
    decltype(&::CreateAudioOutput) createAudioOutput = nullptr;
    decltype(&::CreateOutputBuffer) createOutputBuffer = nullptr;
    decltype(&::DestroyAudioOutput) destroyAudioOutput = nullptr;
    decltype(&::OnUnityAudio) onUnityAudio = nullptr;
    decltype(&::GetAudioOutputStats) getAudioOutputStats = nullptr;
    decltype(&::UnityPluginLoad) unityPluginLoad = nullptr;
    decltype(&::UnityPluginUnload) unityPluginUnload = nullptr;
    decltype(&::SetAudioOutputLatencyTarget) setAudioOutputLatencyTarget = nullptr;
    decltype(&::GetAudioOutputLatencyStats) getAudioOutputLatencyStats = nullptr;
    decltype(&::GetAudioOutputLatencyLimits) getAudioOutputLatencyLimits = nullptr;
};

class PluginLibrary {
public:
    // The names the host resolves, in the order of PluginExports.
    static constexpr const char* kExportNames[] = {
        "CreateAudioOutput",          "CreateOutputBuffer",
        "DestroyAudioOutput",         "OnUnityAudio",
        "GetAudioOutputStats",        "UnityPluginLoad",
        "UnityPluginUnload",          "SetAudioOutputLatencyTarget",
        "GetAudioOutputLatencyStats", "GetAudioOutputLatencyLimits"};

    PluginLibrary() = default;
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // Opens the library and resolves every export; on success calls
    // UnityPluginLoad as the engine does. False with Error() naming the
    // library or the first missing export; nothing stays loaded then.
    bool Load(const std::string& path);

    // Calls UnityPluginUnload and lets go of the library. The caller destroys
    // any instance first: an unloaded plug-in cannot answer the device.
    void Unload();

    bool IsLoaded() const { return library.IsOpen(); }
    const PluginExports& Exports() const { return exports; }
    const std::string& Error() const { return error; }

    // The plug-in's file name on this platform.
    static std::string DefaultFileName();

private:
    SharedLibrary library;
    PluginExports exports;
    std::string error;
};

} // namespace zvdemo
