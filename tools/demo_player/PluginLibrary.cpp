#include "PluginLibrary.h"

namespace zvdemo {

namespace {

template <typename Function> bool Bind(SharedLibrary& library, const char* name, Function& target) {
    const SharedLibrary::Symbol symbol = library.Resolve(name);
    target = reinterpret_cast<Function>(symbol);
    return symbol != nullptr;
}

} // namespace

PluginLibrary::~PluginLibrary() {
    Unload();
}

bool PluginLibrary::Load(const std::string& path) {
    Unload();
    error.clear();
    if (!library.Open(path)) {
        error = library.Error();
        return false;
    }
    const bool bound = Bind(library, kExportNames[0], exports.createAudioOutput) &&
                       Bind(library, kExportNames[1], exports.createOutputBuffer) &&
                       Bind(library, kExportNames[2], exports.destroyAudioOutput) &&
                       Bind(library, kExportNames[3], exports.onUnityAudio) &&
                       Bind(library, kExportNames[4], exports.getAudioOutputStats) &&
                       Bind(library, kExportNames[5], exports.unityPluginLoad) &&
                       Bind(library, kExportNames[6], exports.unityPluginUnload) &&
                       Bind(library, kExportNames[7], exports.setAudioOutputLatencyTarget) &&
                       Bind(library, kExportNames[8], exports.getAudioOutputLatencyStats) &&
                       Bind(library, kExportNames[9], exports.getAudioOutputLatencyLimits);
    if (!bound) {
        error = library.Error() + " in " + path;
        exports = PluginExports{};
        library.Close();
        return false;
    }
    exports.unityPluginLoad(nullptr);
    return true;
}

void PluginLibrary::Unload() {
    if (!library.IsOpen()) {
        return;
    }
    exports.unityPluginUnload();
    exports = PluginExports{};
    library.Close();
}

std::string PluginLibrary::DefaultFileName() {
    return SharedLibrary::FileNameFor("ZVAudioOutput");
}

} // namespace zvdemo
