#include "ZVAudioOutput.h"

#include "AudioOutput.h"
#include "PlatformLog.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

namespace {

// Serialises every export but the two hooks, for the whole of each call.
// Lock order is always apiMutex, then the audio's streamMutex.
std::mutex apiMutex;

// Unloading tears nothing down: an instance that still exists is left as it
// is rather than released from a static destructor, when the platform library
// may already be gone.
struct InstanceSlot {
    std::unique_ptr<zvaudio::AudioOutput> pointer;
    ~InstanceSlot() { static_cast<void>(pointer.release()); }
};
InstanceSlot instance;

} // namespace

// No exception may unwind into the host: it is managed code, and an exception
// crossing into it ends the application. Each export catches at the boundary.

extern "C" {

bool CreateAudioOutput() {
    try {
        std::lock_guard<std::mutex> lock(apiMutex);
        if (instance.pointer) {
            return false;
        }
        instance.pointer = std::make_unique<zvaudio::AudioOutput>();
        return true;
    } catch (...) {
        return false;
    }
}

bool CreateOutputBuffer(uint32_t bufferSize, uint32_t channelCount, uint32_t sampleRate,
                        uint32_t ignoredA, uint32_t ignoredB, float formatHint,
                        uint32_t bufferSeconds) {
    try {
        std::lock_guard<std::mutex> lock(apiMutex);
        if (!instance.pointer) {
            return false;
        }
        try {
            instance.pointer->CreateOutputBuffer(bufferSize, channelCount, sampleRate, ignoredA,
                                                 ignoredB, formatHint, bufferSeconds);
        } catch (...) {
            zvaudio::LogFailure("CreateOutputBuffer",
                                "unexpected failure while opening the stream");
        }
        return true;
    } catch (...) {
        return false;
    }
}

bool DestroyAudioOutput() {
    try {
        std::lock_guard<std::mutex> lock(apiMutex);
        if (!instance.pointer) {
            return false;
        }
        instance.pointer.reset();
        return true;
    } catch (...) {
        return false;
    }
}

bool OnUnityAudio(float* data, int32_t count) {
    try {
        std::lock_guard<std::mutex> lock(apiMutex);
        if (!instance.pointer) {
            return false;
        }
        // Nothing is read from a null block or through a negative count.
        if (data != nullptr && count > 0) {
            try {
                instance.pointer->OnUnityAudio(data, static_cast<uint32_t>(count));
            } catch (...) {
                // The scratch buffer could not grow: this block is lost.
            }
        }
        return true;
    } catch (...) {
        return false;
    }
}

bool GetAudioOutputStats(ZVAudioOutputStats* stats) {
    try {
        std::lock_guard<std::mutex> lock(apiMutex);
        if (!instance.pointer || stats == nullptr) {
            return false;
        }
        *stats = instance.pointer->GetStats();
        return true;
    } catch (...) {
        return false;
    }
}

bool SetAudioOutputLatencyTarget(uint32_t milliseconds) {
    try {
        std::lock_guard<std::mutex> lock(apiMutex);
        if (!instance.pointer) {
            return false;
        }
        try {
            instance.pointer->SetLatencyTarget(milliseconds);
        } catch (const std::bad_alloc&) {
            // The stream keeps the target and the steering it had.
            zvaudio::LogFailure("SetAudioOutputLatencyTarget", "out of memory for latency control");
        }
        return true;
    } catch (...) {
        return false;
    }
}

bool GetAudioOutputLatencyStats(ZVAudioOutputLatencyStats* stats) {
    try {
        std::lock_guard<std::mutex> lock(apiMutex);
        if (!instance.pointer || stats == nullptr) {
            return false;
        }
        *stats = instance.pointer->GetLatencyStats();
        return true;
    } catch (...) {
        return false;
    }
}

bool GetAudioOutputLatencyLimits(ZVAudioOutputLatencyLimits* limits, uint32_t recordSize) {
    try {
        std::lock_guard<std::mutex> lock(apiMutex);
        if (!instance.pointer || limits == nullptr || recordSize < sizeof limits->recordSize) {
            return false;
        }
        const ZVAudioOutputLatencyLimits ours = instance.pointer->GetLatencyLimits();
        // A caller's record may be older (shorter) or newer (longer) than ours.
        std::memcpy(limits, &ours, std::min<size_t>(recordSize, sizeof ours));
        return true;
    } catch (...) {
        return false;
    }
}

void UnityPluginLoad(void* /*unityInterfaces*/) {}

// Unloading tears nothing down; while a stream exists the library keeps
// itself loaded in any case.
void UnityPluginUnload() {}

} // extern "C"
