#pragma once

#include <cstddef>
#include <cstdint>

namespace zvtest {

// Process-wide count of heap allocation requests, fed by this binary's replacements of every
// form of operator new and of malloc, calloc, realloc, aligned_alloc and posix_memalign. Every
// thread and every library in the process is counted, the C++ runtime included; requests that
// bypass these entry points (valloc, pvalloc, memalign, or mmap directly) are not.
//
// Every request counts, whether or not it succeeds; frees are not counted.
class AllocationCounter {
public:
    static uint64_t Count();

    // Makes every operator new of more than `bytes` bytes fail as an exhausted heap would:
    // the throwing forms raise std::bad_alloc, the nothrow forms return null. malloc and its
    // relatives are never refused.
    static void FailAbove(size_t bytes);
    static void StopFailing();
};

} // namespace zvtest
