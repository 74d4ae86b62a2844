#include "AllocationCounter.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <new>

#if !defined(__GLIBC__)
#    error "The allocation hooks forward to the GNU C library's allocator"
#endif

// The allocator behind the public names, exported by the GNU C library. Forwarding to these
// rather than looking up the next definition avoids the allocation that the lookup itself
// would make.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);
}

namespace {

std::atomic<uint64_t> requests{0};
std::atomic<size_t> refuseAbove{std::numeric_limits<size_t>::max()};

void CountRequest() noexcept {
    requests.fetch_add(1, std::memory_order_relaxed);
}

bool Refused(size_t size) noexcept {
    return size > refuseAbove.load(std::memory_order_relaxed);
}

void* RawAllocate(size_t size, size_t alignment) noexcept {
    // Zero-byte requests must still return distinct pointers.
    const size_t bytes = size == 0 ? 1 : size;
    return alignment > __STDCPP_DEFAULT_NEW_ALIGNMENT__ ? __libc_memalign(alignment, bytes)
                                                        : __libc_malloc(bytes);
}

void* AllocateOrThrow(size_t size, size_t alignment) {
    CountRequest();
    if (Refused(size)) {
        throw std::bad_alloc();
    }
    for (;;) {
        if (void* pointer = RawAllocate(size, alignment)) {
            return pointer;
        }
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) {
            throw std::bad_alloc();
        }
        handler();
    }
}

void* AllocateOrNull(size_t size, size_t alignment) noexcept {
    try {
        return AllocateOrThrow(size, alignment);
    } catch (...) {
        return nullptr;
    }
}

bool IsPowerOfTwo(size_t value) noexcept {
    return value != 0 && (value & (value - 1)) == 0;
}

} // namespace

namespace zvtest {

uint64_t AllocationCounter::Count() {
    return requests.load(std::memory_order_relaxed);
}

void AllocationCounter::FailAbove(size_t bytes) {
    refuseAbove.store(bytes, std::memory_order_relaxed);
}

void AllocationCounter::StopFailing() {
    refuseAbove.store(std::numeric_limits<size_t>::max(), std::memory_order_relaxed);
}

} // namespace zvtest

// The C allocator's public names. Defined in the executable, they take the place of the C
// library's own for every caller in the process.
extern "C" {

void* malloc(size_t size) noexcept {
    CountRequest();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) noexcept {
    CountRequest();
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) noexcept {
    CountRequest();
    return __libc_realloc(pointer, size);
}

void* aligned_alloc(size_t alignment, size_t size) noexcept {
    CountRequest();
    if (!IsPowerOfTwo(alignment)) {
        errno = EINVAL;
        return nullptr;
    }
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size) noexcept {
    CountRequest();
    if (!IsPowerOfTwo(alignment) || alignment % sizeof(void*) != 0) {
        return EINVAL;
    }
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr) {
        return ENOMEM;
    }
    *result = pointer;
    return 0;
}

void free(void* pointer) noexcept {
    __libc_free(pointer);
}

} // extern "C"

// Every replaceable form of operator new and delete.

void* operator new(size_t size) {
    return AllocateOrThrow(size, 0);
}
void* operator new[](size_t size) {
    return AllocateOrThrow(size, 0);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size, 0);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size, 0);
}
void* operator new(size_t size, std::align_val_t alignment) {
    return AllocateOrThrow(size, static_cast<size_t>(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment) {
    return AllocateOrThrow(size, static_cast<size_t>(alignment));
}
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size, static_cast<size_t>(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size, static_cast<size_t>(alignment));
}

void operator delete(void* pointer) noexcept {
    __libc_free(pointer);
}
void operator delete[](void* pointer) noexcept {
    __libc_free(pointer);
}
void operator delete(void* pointer, size_t) noexcept {
    __libc_free(pointer);
}
void operator delete[](void* pointer, size_t) noexcept {
    __libc_free(pointer);
}
void operator delete(void* pointer, const std::nothrow_t&) noexcept {
    __libc_free(pointer);
}
void operator delete[](void* pointer, const std::nothrow_t&) noexcept {
    __libc_free(pointer);
}
void operator delete(void* pointer, std::align_val_t) noexcept {
    __libc_free(pointer);
}
void operator delete[](void* pointer, std::align_val_t) noexcept {
    __libc_free(pointer);
}
void operator delete(void* pointer, size_t, std::align_val_t) noexcept {
    __libc_free(pointer);
}
void operator delete[](void* pointer, size_t, std::align_val_t) noexcept {
    __libc_free(pointer);
}
void operator delete(void* pointer, std::align_val_t, const std::nothrow_t&) noexcept {
    __libc_free(pointer);
}
void operator delete[](void* pointer, std::align_val_t, const std::nothrow_t&) noexcept {
    __libc_free(pointer);
}
