#pragma once

#include "CacheLineAllocator.h"

#include <cstddef>
#include <vector>

namespace zvbench {

// A fixed-size array on a 64-byte boundary, so that every converter sees the
// alignment its widest vector path prefers and cache-line effects are equal
// across benchmarks.
template <typename T> class AlignedBuffer {
public:
    explicit AlignedBuffer(size_t count) : storage(count) {}

    T* data() { return storage.data(); }
    const T* data() const { return storage.data(); }
    size_t count() const { return storage.size(); }
    size_t bytes() const { return storage.size() * sizeof(T); }

private:
    std::vector<T, zvaudio::CacheLineAllocator<T>> storage;
};

} // namespace zvbench
