#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

namespace zvbench {

// A fixed-size array on a 64-byte boundary, so that every converter sees the
// alignment its widest vector path prefers and cache-line effects are equal
// across benchmarks.
template <typename T> class AlignedBuffer {
public:
    explicit AlignedBuffer(size_t count) : size(count) {
        constexpr size_t kAlignment = 64;
        const size_t bytes = (count * sizeof(T) + kAlignment - 1) / kAlignment * kAlignment;
        storage.reset(
            static_cast<T*>(std::aligned_alloc(kAlignment, bytes == 0 ? kAlignment : bytes)));
        if (!storage) {
            throw std::bad_alloc();
        }
    }

    T* data() { return storage.get(); }
    const T* data() const { return storage.get(); }
    size_t count() const { return size; }
    size_t bytes() const { return size * sizeof(T); }

private:
    struct Free {
        void operator()(T* pointer) const { std::free(pointer); }
    };
    std::unique_ptr<T, Free> storage;
    size_t size;
};

} // namespace zvbench
