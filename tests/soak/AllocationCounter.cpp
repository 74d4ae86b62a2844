#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__has_feature)
#    if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#        define ZV_SANITIZED 1
#    endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#    define ZV_SANITIZED 1
#endif

namespace {

std::atomic<bool> counting{false};
std::atomic<uint64_t> allocations{0};
thread_local bool exempt = false;

#if !defined(ZV_SANITIZED)
void Note() {
    if (counting.load(std::memory_order_relaxed) && !exempt) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
}
#endif

} // namespace

namespace zvtest {

bool AllocationCounter::Supported() {
#if defined(ZV_SANITIZED)
    return false;
#else
    return true;
#endif
}

void AllocationCounter::Start() {
    allocations.store(0);
    counting.store(true);
}

uint64_t AllocationCounter::Stop() {
    counting.store(false);
    return allocations.load();
}

AllocationCounter::Exempt::Exempt(bool exemptThread) : previous(exempt) {
    exempt = exemptThread;
}

AllocationCounter::Exempt::~Exempt() {
    exempt = previous;
}

} // namespace zvtest

#if !defined(ZV_SANITIZED)
// Replaces the global allocation functions for the whole soak binary, including the
// plug-in code linked into it and the simulated device loaded beside it.
void* operator new(std::size_t size) {
    Note();
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    Note();
    return std::malloc(size == 0 ? 1 : size);
}

void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete[](void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
#endif
