// Random sequences of writes and takes against SampleRingBuffer, compared after every
// step with a deque that follows the same rule: a write that overflows loses the oldest
// samples, a take moves the oldest first.
#include "FuzzCheck.h"
#include "FuzzCounters.h"
#include "SampleRingBuffer.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <vector>

namespace {

constexpr int16_t kUntouched = 0x5A5A;
constexpr uint32_t kGuard = 16;

// Counts, and the whole queue as a drained copy of the ring gives it: the ring
// itself stays as it was.
void CheckShape(const zvaudio::SampleRingBuffer& ring, const std::deque<int16_t>& model,
                uint32_t capacity, std::vector<int16_t>& scratch) {
    FUZZ_CHECK(ring.Capacity() == capacity);
    FUZZ_CHECK(ring.Available() == model.size());
    zvaudio::SampleRingBuffer copy = ring;
    scratch.assign(size_t{capacity} + 1, kUntouched);
    const uint32_t taken = copy.Take(scratch.data(), capacity + 1);
    FUZZ_CHECK(taken == model.size());
    FUZZ_CHECK(std::equal(model.begin(), model.end(), scratch.begin()));
    FUZZ_CHECK(copy.Available() == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    // Small capacities reach every wrap case quickly; 0 and 1 are the degenerate ones.
    const uint32_t capacity = input.ConsumeIntegralInRange<uint32_t>(0, 300);
    zvaudio::SampleRingBuffer ring(capacity);
    std::deque<int16_t> model;
    int16_t next = 1;
    std::vector<int16_t> block;
    std::vector<int16_t> destination;
    std::vector<int16_t> scratch;

    CheckShape(ring, model, capacity, scratch);
    while (input.remaining_bytes() > 0) {
        const uint8_t op = input.ConsumeIntegral<uint8_t>();
        const int32_t limit = static_cast<int32_t>(capacity) * 2 + 8;
        if ((op & 1u) == 0) {
            const int32_t count = input.ConsumeIntegralInRange<int32_t>(-2, limit);
            // The source may hold more than count; the extra must be ignored.
            const size_t extra = op & 6u;
            block.assign(static_cast<size_t>(std::max(count, 0)) + extra, kUntouched);
            for (int32_t i = 0; i < count; ++i) {
                block[static_cast<size_t>(i)] = next;
                next = static_cast<int16_t>(next == 32767 ? -32768 : next + 1);
            }
            ring.Write(block.data(), count);
            for (int32_t i = 0; i < count; ++i) {
                model.push_back(block[static_cast<size_t>(i)]);
            }
            while (model.size() > capacity) {
                model.pop_front();
            }
            zvfuzz::Count(zvfuzz::Counter::Steps);
        } else {
            uint32_t n = input.ConsumeIntegralInRange<uint32_t>(0, static_cast<uint32_t>(limit));
            if ((op & 6u) == 6u) {
                n = UINT32_MAX; // far beyond anything queued
            }
            // Room for everything that can be queued plus a guard: a take that moved
            // more than was queued runs into the guard or off the end.
            const uint32_t room = std::min(n, capacity);
            destination.assign(size_t{room} + kGuard, kUntouched);
            const uint32_t taken = ring.Take(destination.data(), n);
            const auto expected = static_cast<uint32_t>(std::min<size_t>(n, model.size()));
            FUZZ_CHECK(taken == expected);
            for (uint32_t i = 0; i < taken; ++i) {
                FUZZ_CHECK(destination[i] == model.front());
                model.pop_front();
            }
            for (size_t i = taken; i < destination.size(); ++i) {
                FUZZ_CHECK(destination[i] == kUntouched);
            }
            zvfuzz::Count(zvfuzz::Counter::Steps);
        }
        CheckShape(ring, model, capacity, scratch);
    }
    return 0;
}
