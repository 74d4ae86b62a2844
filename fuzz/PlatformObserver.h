// What the plug-in fuzzer's driver learns, and may do, while the plug-in is inside
// a call to the fuzz platform.
#pragma once

#include "ZVAudio.h"

#include <cstdint>

namespace zvfuzz {

enum class PlatformCall { Defaults, Create, Start, Stop, Destroy, Fetch, Release, kCount };

class PlatformObserver {
public:
    virtual ~PlatformObserver() = default;

    // Inside the calls the plug-in makes without streamMutex held (defaults query,
    // create, stop, destroy): the place where a platform thread may raise a request.
    virtual void InsideUnlockedCall(PlatformCall call) = 0;
    virtual void OnCreated(ZVSoundHandle handle, void* context) = 0;
    virtual void OnStarted(ZVSoundHandle handle) = 0;
    virtual void OnStopped(ZVSoundHandle handle) = 0;
    // The bytes of a filled buffer as they are handed back; data is null when the
    // fetch lent a null pointer.
    virtual void OnReleased(const uint8_t* data, uint32_t size) = 0;
};

} // namespace zvfuzz
