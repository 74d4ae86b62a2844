#include "ConversionTestSupport.h"

#include <algorithm>
#include <array>
#include <sstream>
#include <thread>

// Sanitized and unoptimised builds are one to two orders of magnitude slower, so they sweep
// every high 24-bit pattern with only a few low bytes (which still reach zeros, denormals,
// both infinities and quiet and signalling NaNs). Optimised builds sweep all 2^32 patterns.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#    define ZV_CONVERSION_STRIDED_SWEEP 1
#elif defined(__has_feature)
#    if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                     \
        __has_feature(memory_sanitizer)
#        define ZV_CONVERSION_STRIDED_SWEEP 1
#    endif
#endif
#if !defined(ZV_CONVERSION_STRIDED_SWEEP)
#    if (defined(__GNUC__) && !defined(__OPTIMIZE__)) || (defined(_MSC_VER) && defined(_DEBUG))
#        define ZV_CONVERSION_STRIDED_SWEEP 1
#    endif
#endif

namespace zvaudio::test {
namespace {

#if defined(ZV_CONVERSION_STRIDED_SWEEP)
constexpr std::array<uint32_t, 6> kLowBytes{0x00, 0x01, 0x7f, 0x80, 0xfe, 0xff};
constexpr uint64_t kPatternCount = (uint64_t{1} << 24) * kLowBytes.size();

uint32_t PatternAt(uint64_t index) {
    const auto high = static_cast<uint32_t>(index / kLowBytes.size());
    return (high << 8) | kLowBytes[static_cast<size_t>(index % kLowBytes.size())];
}
#else
constexpr uint64_t kPatternCount = uint64_t{1} << 32;

uint32_t PatternAt(uint64_t index) {
    return static_cast<uint32_t>(index);
}
#endif

constexpr size_t kChunk = size_t{1} << 20;
constexpr size_t kReportedMismatches = 5;

struct Mismatch {
    uint32_t bits;
    int16_t expected;
    int16_t actual;
};

struct PathResult {
    uint64_t mismatches = 0;
    std::vector<Mismatch> first;
};

struct SweepResult {
    uint64_t checked = 0;
    std::vector<PathResult> paths;
};

// Checks the patterns of every stride-th chunk, starting at chunk `start`, on every given
// path. The patterns and the reference are computed once per chunk for all paths.
SweepResult SweepChunks(const std::vector<Converter>& converters, uint64_t start, uint64_t stride) {
    SweepResult result;
    result.paths.resize(converters.size());
    std::vector<uint32_t> bits(kChunk);
    std::vector<float> in(kChunk);
    std::vector<int16_t> expected(kChunk);
    std::vector<int16_t> actual(kChunk);
    const uint64_t chunkCount = (kPatternCount + kChunk - 1) / kChunk;
    for (uint64_t chunk = start; chunk < chunkCount; chunk += stride) {
        const uint64_t first = chunk * kChunk;
        const auto count = static_cast<size_t>(std::min<uint64_t>(kChunk, kPatternCount - first));
        for (size_t i = 0; i < count; ++i) {
            bits[i] = PatternAt(first + i);
        }
        std::memcpy(in.data(), bits.data(), count * sizeof(float));
        ConvertToPcm16Reference(in.data(), expected.data(), count);
        result.checked += count;
        for (size_t c = 0; c < converters.size(); ++c) {
            converters[c].Run(in.data(), actual.data(), count);
            if (std::equal(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(count),
                           actual.begin())) {
                continue;
            }
            PathResult& path = result.paths[c];
            for (size_t i = 0; i < count; ++i) {
                if (expected[i] != actual[i]) {
                    ++path.mismatches;
                    if (path.first.size() < kReportedMismatches) {
                        path.first.push_back({bits[i], expected[i], actual[i]});
                    }
                }
            }
        }
    }
    return result;
}

TEST(SampleConversionExhaustive, EveryPathMatchesReferenceForEveryFloatPattern) {
    std::vector<Converter> converters;
    for (const Converter& converter : FastConverters()) {
        // The dispatcher runs one of the named paths; the block tests cover its choice.
        if (!converter.dispatched && converter.Available()) {
            converters.push_back(converter);
        }
    }
    ASSERT_FALSE(converters.empty());

    // Chunks are dealt out round-robin; each worker has its own buffers and result.
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<SweepResult> results(workers);
    std::vector<std::thread> threads;
    for (unsigned w = 0; w < workers; ++w) {
        threads.emplace_back([&results, &converters, w, workers] {
            results[w] = SweepChunks(converters, w, workers);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    uint64_t checked = 0;
    for (const SweepResult& result : results) {
        checked += result.checked;
    }
    EXPECT_EQ(checked, kPatternCount);
    for (size_t c = 0; c < converters.size(); ++c) {
        uint64_t mismatches = 0;
        std::ostringstream report;
        for (const SweepResult& result : results) {
            mismatches += result.paths[c].mismatches;
            for (const Mismatch& m : result.paths[c].first) {
                report << "\n  bits 0x" << std::hex << m.bits << std::dec << " ("
                       << FloatFromBits(m.bits) << "): expected " << m.expected << ", got "
                       << m.actual;
            }
        }
        EXPECT_EQ(mismatches, 0u) << converters[c].name
                                  << " differs from the reference; first ones:" << report.str();
    }
}

} // namespace
} // namespace zvaudio::test
