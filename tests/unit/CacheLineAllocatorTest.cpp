#include "CacheLineAllocator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace zvaudio {
namespace {

bool OnCacheLine(const void* pointer) {
    return reinterpret_cast<std::uintptr_t>(pointer) % CacheLineAllocator<int16_t>::kAlignment == 0;
}

// Sizes around the heap's small-chunk and mmap thresholds, where ordinary
// allocations land 16 bytes past a boundary.
TEST(CacheLineAllocator, EveryStorageStartsOnACacheLineAndGrowthKeepsIt) {
    std::vector<std::vector<int16_t, CacheLineAllocator<int16_t>>> held;
    for (size_t count : {1u, 7u, 33u, 2048u, 4097u, 65536u, 96000u, 1000000u}) {
        held.emplace_back(count, int16_t{1});
        EXPECT_TRUE(OnCacheLine(held.back().data())) << count << " samples";
    }
    std::vector<int16_t, CacheLineAllocator<int16_t>> growing;
    for (int i = 0; i < 5000; ++i) {
        growing.push_back(static_cast<int16_t>(i));
        ASSERT_TRUE(OnCacheLine(growing.data())) << growing.size() << " samples";
    }
    EXPECT_EQ(growing[4999], 4999);
}

TEST(CacheLineAllocator, RefusesACountWhoseBytesOverflow) {
    CacheLineAllocator<int16_t> allocator;
    EXPECT_THROW(allocator.allocate(SIZE_MAX / 2 + 1), std::bad_array_new_length);
}

} // namespace
} // namespace zvaudio
