#pragma once

#include <cstdint>

namespace zvaudio {

// Keeps the library that holds this code loaded while any platform stream of
// the plug-in exists: a host may unload the library without destroying the
// instance, and the platform's thread must still find the callback. The
// library holds one reference to itself while the count of streams is above
// zero.
//
// A stream counts from its creation until its destroy call succeeds. One whose
// destroy failed may still call back, so it never stops counting and the
// library stays for the life of the process.
//
// Dropping the reference never unloads the code that drops it: the count only
// falls inside an export, and the host that calls an export holds a reference
// of its own. Nothing is released at unload; there is nothing to release then.
//
// Host calls only (serialised by the exports' lock).
class StreamLibraryReference {
public:
    void StreamCreated();
    void StreamDestroyed();

private:
    uint32_t streams = 0;
    // The reference, or null when none is held (or none could be taken: code
    // linked into an executable has no library to keep).
    void* library = nullptr;
};

} // namespace zvaudio
