#include "SampleRingBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <numeric>
#include <random>
#include <vector>

using zvaudio::SampleRingBuffer;

namespace {

std::vector<int16_t> Sequence(int16_t first, int32_t count) {
    std::vector<int16_t> values(static_cast<size_t>(count));
    std::iota(values.begin(), values.end(), first);
    return values;
}

std::vector<int16_t> TakeAll(SampleRingBuffer& ring, uint32_t n) {
    std::vector<int16_t> out(n, -1);
    out.resize(ring.Take(out.data(), n));
    return out;
}

// Everything queued, oldest first, read from a copy: the ring stays as it was.
std::vector<int16_t> Queued(SampleRingBuffer copy) {
    return TakeAll(copy, copy.Capacity());
}

// What the ring must behave like: a queue bounded at the capacity that drops
// the oldest samples on overflow.
class ReferenceRing {
public:
    explicit ReferenceRing(size_t capacity) : cap(capacity) {}
    void Write(const int16_t* block, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            queue.push_back(block[i]);
            if (queue.size() > cap) {
                queue.pop_front();
            }
        }
    }
    std::vector<int16_t> Contents() const { return {queue.begin(), queue.end()}; }
    std::vector<int16_t> Take(size_t n) {
        const size_t k = std::min(n, queue.size());
        std::vector<int16_t> out(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(k));
        queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(k));
        return out;
    }
    size_t Size() const { return queue.size(); }

private:
    size_t cap;
    std::deque<int16_t> queue;
};

} // namespace

TEST(SampleRingBuffer, StartsEmptyAndTakesNothing) {
    SampleRingBuffer ring(16);
    EXPECT_EQ(ring.Available(), 0u);
    EXPECT_EQ(ring.Capacity(), 16u);
    EXPECT_TRUE(TakeAll(ring, 8).empty());
    EXPECT_EQ(ring.Available(), 0u);
}

TEST(SampleRingBuffer, BlockOfExactlyCapacityFillsTheRingWithThatBlock) {
    SampleRingBuffer ring(8);
    ring.Write(Sequence(100, 3).data(), 3);
    ring.Write(Sequence(0, 8).data(), 8);
    EXPECT_EQ(ring.Available(), 8u);
    EXPECT_EQ(TakeAll(ring, 100), Sequence(0, 8));
}

TEST(SampleRingBuffer, BlockLargerThanCapacityKeepsOnlyItsLastSamples) {
    SampleRingBuffer ring(8);
    ring.Write(Sequence(0, 13).data(), 13);
    EXPECT_EQ(ring.Available(), 8u);
    EXPECT_EQ(TakeAll(ring, 100), Sequence(5, 8));
}

TEST(SampleRingBuffer, WrappingWriteOverwritesTheOldestSamples) {
    SampleRingBuffer ring(8);
    ring.Write(Sequence(0, 6).data(), 6);
    ring.Write(Sequence(6, 4).data(), 4);
    EXPECT_EQ(ring.Available(), 8u);
    EXPECT_EQ(Queued(ring), Sequence(2, 8));
    // Full after the overwrite: the next sample overwrites the oldest again.
    ring.Write(Sequence(10, 1).data(), 1);
    EXPECT_EQ(TakeAll(ring, 100), Sequence(3, 8));
}

TEST(SampleRingBuffer, TakeFollowsAWrappedRunAcrossTheEndOfStorage) {
    // Queued run from slot 6 to slot 1: 6, 7, 8, 9 in slots 6, 7, 0, 1.
    SampleRingBuffer ring(8);
    ring.Write(Sequence(0, 8).data(), 8);
    EXPECT_EQ(TakeAll(ring, 6), Sequence(0, 6));
    ring.Write(Sequence(8, 2).data(), 2);
    EXPECT_EQ(ring.Available(), 4u);

    EXPECT_EQ(TakeAll(ring, 3), Sequence(6, 3));
    EXPECT_EQ(ring.Available(), 1u);
    EXPECT_EQ(TakeAll(ring, 3), Sequence(9, 1));
    EXPECT_EQ(ring.Available(), 0u);
    // Emptied, it starts afresh: a block of capacity size fits without loss.
    ring.Write(Sequence(20, 8).data(), 8);
    EXPECT_EQ(TakeAll(ring, 100), Sequence(20, 8));
}

TEST(SampleRingBuffer, TakeOfZeroChangesNothing) {
    SampleRingBuffer ring(8);
    ring.Write(Sequence(0, 5).data(), 5);
    int16_t sink = 0;
    EXPECT_EQ(ring.Take(&sink, 0), 0u);
    EXPECT_EQ(ring.Available(), 5u);
    EXPECT_EQ(Queued(ring), Sequence(0, 5));
}

TEST(SampleRingBuffer, TakeLargerThanAvailableEmptiesTheRing) {
    SampleRingBuffer ring(8);
    ring.Write(Sequence(0, 5).data(), 5);
    EXPECT_EQ(TakeAll(ring, 7), Sequence(0, 5));
    EXPECT_EQ(ring.Available(), 0u);
    EXPECT_TRUE(TakeAll(ring, 7).empty());
}

TEST(SampleRingBuffer, ZeroOrNegativeWritesLeaveTheRingAsItWas) {
    SampleRingBuffer empty(8);
    empty.Write(Sequence(0, 4).data(), 0);
    EXPECT_EQ(empty.Available(), 0u);
    EXPECT_TRUE(TakeAll(empty, 8).empty()); // no stale storage becomes playable

    SampleRingBuffer holding(8);
    holding.Write(Sequence(0, 3).data(), 3);
    holding.Write(Sequence(50, 4).data(), 0);
    holding.Write(Sequence(50, 4).data(), -7);
    EXPECT_EQ(TakeAll(holding, 8), Sequence(0, 3));
}

TEST(SampleRingBuffer, CapacityZeroAcceptsWritesAndStoresNothing) {
    SampleRingBuffer ring(0);
    ring.Write(Sequence(0, 4).data(), 4);
    EXPECT_EQ(ring.Available(), 0u);
    EXPECT_TRUE(TakeAll(ring, 4).empty());
    ring.Write(Sequence(0, 4).data(), 3);
    EXPECT_EQ(ring.Available(), 0u);
    EXPECT_TRUE(TakeAll(ring, 4).empty());
}

TEST(SampleRingBuffer, RefusesCapacitiesBeyondSignedIndexes) {
    EXPECT_THROW(SampleRingBuffer ring(0x80000000u), std::length_error);
}

TEST(SampleRingBuffer, WritesOnlyTheRequestedPrefixOfALongerSource) {
    SampleRingBuffer ring(16);
    ring.Write(Sequence(0, 10).data(), 4);
    EXPECT_EQ(TakeAll(ring, 16), Sequence(0, 4));
}

// Hand-picked cases miss index faults; this drives the ring and a plain
// bounded queue with the same random operations and compares every result.
TEST(SampleRingBuffer, MatchesReferenceModelOverRandomOperations) {
    std::mt19937 random(20261209);
    const std::vector<uint32_t> capacities = {1, 2, 3, 5, 7, 8, 13, 16, 31, 64, 100, 257, 1000};
    int16_t nextValue = 0;
    for (const uint32_t cap : capacities) {
        SampleRingBuffer ring(cap);
        ReferenceRing model(cap);
        std::uniform_int_distribution<uint32_t> size(0, cap * 2 + 2);
        for (int step = 0; step < 4000; ++step) {
            if (random() % 2 == 0) {
                const uint32_t count = size(random);
                std::vector<int16_t> block(count + random() % 3); // sometimes longer than count
                for (auto& v : block) {
                    v = nextValue++;
                }
                ring.Write(block.data(), static_cast<int32_t>(count));
                model.Write(block.data(), count);
            } else {
                const uint32_t n = size(random);
                std::vector<int16_t> out(n + 1, 0x7777);
                const uint32_t taken = ring.Take(out.data(), n);
                const auto expected = model.Take(n);
                ASSERT_EQ(taken, expected.size()) << "cap " << cap << " step " << step;
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()))
                    << "cap " << cap << " step " << step;
                ASSERT_EQ(out[taken], 0x7777) << "wrote past the samples it moved";
            }
            ASSERT_EQ(ring.Available(), model.Size()) << "cap " << cap << " step " << step;
            ASSERT_EQ(Queued(ring), model.Contents()) << "cap " << cap << " step " << step;
        }
    }
}
