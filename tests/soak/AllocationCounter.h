#pragma once

#include <cstdint>

namespace zvtest {

// Counts heap allocations made through operator new while counting is on, except on
// threads that declared themselves exempt (the test's own bookkeeping threads). The
// soak binary replaces operator new for this; sanitizer builds keep their own
// allocator, and there Supported() is false.
class AllocationCounter {
public:
    static bool Supported();
    static void Start();
    static uint64_t Stop(); // allocations counted since Start()

    // Marks the calling thread as exempt (or, nested, as counted again) while the
    // guard lives.
    class Exempt {
    public:
        explicit Exempt(bool exemptThread = true);
        ~Exempt();
        Exempt(const Exempt&) = delete;
        Exempt& operator=(const Exempt&) = delete;

    private:
        bool previous;
    };
};

} // namespace zvtest
