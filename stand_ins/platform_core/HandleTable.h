// The streams of a platform model by handle.
#pragma once

#include "ZVAudio.h"

#include <optional>
#include <unordered_map>
#include <utility>

namespace zvplatform {

// What a stream was created with: where its buffer requests go.
struct StreamCallback {
    ZVAudioBufferCallback callback = nullptr;
    void* context = nullptr;

    // Asks for a buffer on the calling thread, as the platform's thread would.
    void Raise(ZVSoundHandle handle) const {
        if (callback != nullptr) {
            callback(handle, context);
        }
    }
};

// Handles count up from 1 and are never reused for as long as the table
// lives; one handle can be forced for the next stream, as a platform that
// hands back something odd might. Takes no lock: the owner's guards it.
template <typename Stream> class HandleTable {
public:
    // The handle the next stream gets; used up by Add.
    ZVSoundHandle NextHandle() const { return forced ? *forced : counter; }
    void ForceNextHandle(ZVSoundHandle handle) { forced = handle; }

    // Gives `stream` the next handle and returns it. A forced invalid handle
    // names no stream, so nothing is kept for it.
    ZVSoundHandle Add(Stream stream) {
        const ZVSoundHandle handle = NextHandle();
        if (forced) {
            forced.reset();
        } else {
            ++counter;
        }
        if (handle != kInvalidSoundHandle) {
            streams.insert_or_assign(handle, std::move(stream));
        }
        last = handle;
        return handle;
    }

    // Null for a handle that names no stream.
    Stream* Find(ZVSoundHandle handle) {
        const auto found = streams.find(handle);
        return found != streams.end() ? &found->second : nullptr;
    }
    std::optional<Stream> Remove(ZVSoundHandle handle) {
        const auto found = streams.find(handle);
        if (found == streams.end()) {
            return std::nullopt;
        }
        std::optional<Stream> removed(std::move(found->second));
        streams.erase(found);
        return removed;
    }
    // Every stream, handed over for tearing down outside the owner's lock.
    std::unordered_map<ZVSoundHandle, Stream> TakeAll() { return std::exchange(streams, {}); }

    // The handle of the last Add, or kInvalidSoundHandle before the first.
    ZVSoundHandle LastAdded() const { return last; }
    // Forgets the streams and a forced handle; the count goes on.
    void Clear() {
        streams.clear();
        forced.reset();
        last = kInvalidSoundHandle;
    }

private:
    std::unordered_map<ZVSoundHandle, Stream> streams;
    ZVSoundHandle counter = 1;
    std::optional<ZVSoundHandle> forced;
    ZVSoundHandle last = kInvalidSoundHandle;
};

} // namespace zvplatform
