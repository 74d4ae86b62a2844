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

// No exception may unwind into the host: it is managed code, and an exception
// crossing into it ends the application. Each export catches at the boundary.

// Runs `call` with apiMutex held and returns its result; false when the lock
// cannot be taken or anything else escapes.
template <typename Call> bool Serialised(Call&& call) {
    try {
        std::lock_guard<std::mutex> lock(apiMutex);
        return call();
    } catch (...) {
        return false;
    }
}

// As Serialised, for the exports that need the instance: false without one.
template <typename Call> bool WithInstance(Call&& call) {
    return Serialised([&call] { return instance.pointer && call(*instance.pointer); });
}

} // namespace

extern "C" {

bool CreateAudioOutput() {
    return Serialised([] {
        if (instance.pointer) {
            return false;
        }
        instance.pointer = std::make_unique<zvaudio::AudioOutput>();
        return true;
    });
}

bool CreateOutputBuffer(uint32_t bufferSize, uint32_t channelCount, uint32_t sampleRate,
                        uint32_t ignoredA, uint32_t ignoredB, float formatHint,
                        uint32_t bufferSeconds) {
    return WithInstance([&](zvaudio::AudioOutput& output) {
        try {
            output.CreateOutputBuffer(bufferSize, channelCount, sampleRate, ignoredA, ignoredB,
                                      formatHint, bufferSeconds);
        } catch (...) {
            zvaudio::LogFailure("CreateOutputBuffer",
                                "unexpected failure while opening the stream");
        }
        return true;
    });
}

bool DestroyAudioOutput() {
    return Serialised([] {
        if (!instance.pointer) {
            return false;
        }
        instance.pointer.reset();
        return true;
    });
}

bool OnUnityAudio(float* data, int32_t count) {
    return WithInstance([&](zvaudio::AudioOutput& output) {
        // Nothing is read from a null block or through a negative count.
        if (data != nullptr && count > 0) {
            try {
                output.OnUnityAudio(data, static_cast<uint32_t>(count));
            } catch (...) {
                // The scratch buffer could not grow: this block is lost.
            }
        }
        return true;
    });
}

bool GetAudioOutputStats(ZVAudioOutputStats* stats) {
    return WithInstance([stats](zvaudio::AudioOutput& output) {
        if (stats == nullptr) {
            return false;
        }
        *stats = output.GetStats();
        return true;
    });
}

bool SetAudioOutputLatencyTarget(uint32_t milliseconds) {
    return WithInstance([milliseconds](zvaudio::AudioOutput& output) {
        try {
            output.SetLatencyTarget(milliseconds);
        } catch (const std::bad_alloc&) {
            // The stream keeps the target and the steering it had.
            zvaudio::LogFailure("SetAudioOutputLatencyTarget", "out of memory for latency control");
        }
        return true;
    });
}

bool GetAudioOutputLatencyStats(ZVAudioOutputLatencyStats* stats) {
    return WithInstance([stats](zvaudio::AudioOutput& output) {
        if (stats == nullptr) {
            return false;
        }
        *stats = output.GetLatencyStats();
        return true;
    });
}

bool GetAudioOutputLatencyLimits(ZVAudioOutputLatencyLimits* limits, uint32_t recordSize) {
    return WithInstance([limits, recordSize](zvaudio::AudioOutput& output) {
        if (limits == nullptr || recordSize < sizeof limits->recordSize) {
            return false;
        }
        const ZVAudioOutputLatencyLimits ours = output.GetLatencyLimits();
        // A caller's record may be older (shorter) or newer (longer) than ours.
        std::memcpy(limits, &ours, std::min<size_t>(recordSize, sizeof ours));
        return true;
    });
}

void UnityPluginLoad(void* /*unityInterfaces*/) {}

// Unloading tears nothing down; while a stream exists the library keeps
// itself loaded in any case.
void UnityPluginUnload() {}

} // extern "C"
