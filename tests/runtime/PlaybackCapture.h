// Collects what the simulated device played, through its playback tap.
#pragma once

#include "ZVSimulatedDevice.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

// Installs itself as the device's tap for its lifetime. The tap runs on
// whichever thread released the buffer, with the plug-in's stream lock held,
// so it only appends under a lock of its own.
class PlaybackCapture {
public:
    PlaybackCapture() { ZVSimSetPlaybackTap(&PlaybackCapture::Tap, this); }
    ~PlaybackCapture() { ZVSimSetPlaybackTap(nullptr, nullptr); }
    PlaybackCapture(const PlaybackCapture&) = delete;
    PlaybackCapture& operator=(const PlaybackCapture&) = delete;

    std::vector<int16_t> Samples() const {
        std::lock_guard<std::mutex> lock(mutex);
        return samples;
    }

    std::size_t SampleCount() const {
        std::lock_guard<std::mutex> lock(mutex);
        return samples.size();
    }

    std::set<ZVSoundHandle> Handles() const {
        std::lock_guard<std::mutex> lock(mutex);
        return handles;
    }

    ZVSoundHandle LastHandle() const {
        std::lock_guard<std::mutex> lock(mutex);
        return lastHandle;
    }

private:
    static void Tap(ZVSoundHandle handle, const int16_t* data, uint32_t count, void* context) {
        auto& self = *static_cast<PlaybackCapture*>(context);
        std::lock_guard<std::mutex> lock(self.mutex);
        self.samples.insert(self.samples.end(), data, data + count);
        self.handles.insert(handle);
        self.lastHandle = handle;
    }

    mutable std::mutex mutex;
    std::vector<int16_t> samples;
    std::set<ZVSoundHandle> handles;
    ZVSoundHandle lastHandle = kInvalidSoundHandle;
};
