#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace zvaudio {

// Allocates on a cache-line boundary, so that bulk copies into and out of the
// storage start on whole lines whatever the heap hands out.
template <typename T> class CacheLineAllocator {
public:
    using value_type = T;
    static constexpr std::size_t kAlignment = 64;

    CacheLineAllocator() = default;
    template <typename U> CacheLineAllocator(const CacheLineAllocator<U>& /*other*/) noexcept {}

    T* allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        return static_cast<T*>(::operator new (count * sizeof(T), std::align_val_t{kAlignment}));
    }

    void deallocate(T* pointer, std::size_t /*count*/) noexcept {
        ::operator delete (pointer, std::align_val_t{kAlignment});
    }

    template <typename U> bool operator==(const CacheLineAllocator<U>& /*other*/) const noexcept {
        return true;
    }
    template <typename U> bool operator!=(const CacheLineAllocator<U>& /*other*/) const noexcept {
        return false;
    }
};

// Interleaved 16-bit samples on cache lines: the ring's storage and the
// intake's conversion scratch.
using CacheLineSamples = std::vector<int16_t, CacheLineAllocator<int16_t>>;

} // namespace zvaudio
