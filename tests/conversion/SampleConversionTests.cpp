#include "ConversionTestSupport.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <set>

namespace zvaudio::test {
namespace {

struct EdgeCase {
    float input;
    int16_t expected;
};

std::vector<EdgeCase> EdgeCases() {
    const float inf = std::numeric_limits<float>::infinity();
    const float denormMin = std::numeric_limits<float>::denorm_min();
    return {
        {1.0f, 32767},
        {-1.0f, -32768},
        {0.001f, 32},   // 32.767 truncated
        {-0.001f, -32}, // -32.768 truncated toward zero
        {0.0f, 0},
        {-0.0f, 0},
        {0.5f, 16383},
        {-0.5f, -16384},
        {std::nextafter(1.0f, 0.0f), 32766}, // just inside full scale
        {std::nextafter(-1.0f, 0.0f), -32767},
        {std::nextafter(1.0f, 2.0f), 32767}, // just beyond full scale
        {std::nextafter(-1.0f, -2.0f), -32768},
        {2.0f, 32767},
        {-2.0f, -32768},
        {-3.0f, -32768},
        {1e10f, 32767},
        {-1e10f, -32768},
        {FLT_MAX, 32767}, // the product overflows to infinity before the clamp
        {-FLT_MAX, -32768},
        {FLT_MIN, 0},
        {-FLT_MIN, 0},
        {denormMin, 0},
        {-denormMin, 0},
        {FloatFromBits(0x007fffffu), 0}, // largest denormal
        {FloatFromBits(0x807fffffu), 0},
        {inf, 0},
        {-inf, 0},
        {std::numeric_limits<float>::quiet_NaN(), 0},
        {FloatFromBits(0xffc00000u), 0}, // negative quiet NaN
        {FloatFromBits(0x7f800001u), 0}, // signalling NaN
        {FloatFromBits(0xffffffffu), 0},
    };
}

TEST(SampleConversionReference, ConvertsEdgeValues) {
    for (const EdgeCase& edge : EdgeCases()) {
        EXPECT_EQ(ConvertSampleReference(edge.input), edge.expected)
            << "input " << edge.input << " (bits 0x" << std::hex << BitsOfFloat(edge.input) << ")";
    }
}

// Walks each sign's finite values in order of magnitude: the output may only move away
// from zero, stays in range, and reaches full scale exactly at +-1.0. This pins down the
// saturation that a wrapping or mis-clamped rule would break somewhere in between.
TEST(SampleConversionReference, IsMonotonicAndSaturatesAtFullScale) {
    constexpr uint32_t kStride = 61; // prime, so every exponent sees many mantissas
    const uint32_t oneBits = BitsOfFloat(1.0f);
    for (const uint32_t sign : {0u, 0x80000000u}) {
        const int direction = sign == 0 ? 1 : -1;
        const int fullScale = sign == 0 ? 32767 : -32768;
        int previous = 0;
        for (uint32_t bits = 0; bits < 0x7f800000u; bits += kStride) {
            const int value = ConvertSampleReference(FloatFromBits(sign | bits));
            ASSERT_GE(value * direction, previous * direction) << std::hex << bits;
            if (bits < oneBits) {
                ASSERT_LT(value * direction, fullScale * direction) << std::hex << bits;
            } else {
                ASSERT_EQ(value, fullScale) << std::hex << bits;
            }
            previous = value;
        }
    }
}

TEST(SampleConversionPaths, ReportsAvailabilityAndNames) {
    EXPECT_TRUE(IsConversionPathAvailable(ConversionPath::Reference));
    EXPECT_TRUE(IsConversionPathAvailable(ConversionPath::Scalar));
#if defined(__x86_64__) || defined(_M_X64)
    EXPECT_TRUE(IsConversionPathAvailable(ConversionPath::Sse2));
#endif
    const ConversionPath active = ActiveConversionPath();
    EXPECT_TRUE(IsConversionPathAvailable(active));
    EXPECT_NE(active, ConversionPath::Reference);
    const ConversionPath fastest =
        IsConversionPathAvailable(ConversionPath::Avx2)
            ? ConversionPath::Avx2
            : (IsConversionPathAvailable(ConversionPath::Sse2) ? ConversionPath::Sse2
                                                               : ConversionPath::Scalar);
    EXPECT_EQ(active, fastest);

    std::set<std::string> names;
    for (const ConversionPath path : {ConversionPath::Reference, ConversionPath::Scalar,
                                      ConversionPath::Sse2, ConversionPath::Avx2}) {
        ASSERT_NE(ConversionPathName(path), nullptr);
        names.insert(ConversionPathName(path));
    }
    EXPECT_EQ(names.size(), 4u);
}

class SampleConversionBlocks : public ::testing::TestWithParam<Converter> {
protected:
    void SetUp() override {
        if (!GetParam().Available()) {
            GTEST_SKIP() << GetParam().name << " is not available on this CPU or build";
        }
    }
};

TEST_P(SampleConversionBlocks, ConvertsEdgeValuesInOneBlock) {
    std::vector<float> inputs;
    std::vector<int16_t> expected;
    // Repeated so the values land in vector bodies as well as in tails.
    for (int round = 0; round < 3; ++round) {
        for (const EdgeCase& edge : EdgeCases()) {
            inputs.push_back(edge.input);
            expected.push_back(edge.expected);
        }
    }
    std::vector<int16_t> out(inputs.size(), 0x5a5a);
    GetParam().Run(inputs.data(), out.data(), inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(out[i], expected[i]) << "index " << i << ", input " << inputs[i];
    }
}

// Every length from 0 to 64 at every input and output offset from 0 to 64 elements of
// 64-byte aligned storage: covers vector bodies, every tail and every misalignment, and
// checks that nothing outside out[0, count) is written.
TEST_P(SampleConversionBlocks, MatchesReferenceForEveryLengthAndOffsetWithoutStrayWrites) {
    constexpr size_t kMaxOffset = 64;
    constexpr size_t kMaxLength = 64;
    constexpr size_t kGuard = 16;
    constexpr int16_t kGuardValue = 0x5a5a;

    std::mt19937 random(20240611u);
    std::uniform_real_distribution<float> nominal(-1.5f, 1.5f);
    std::uniform_int_distribution<uint32_t> anyBits;
    const std::vector<EdgeCase> edges = EdgeCases();

    alignas(64) std::array<float, kMaxOffset + kMaxLength> source{};
    alignas(64) std::array<int16_t, kGuard + kMaxOffset + kMaxLength + kGuard> out{};
    std::array<int16_t, kMaxOffset + kMaxLength> expected{};

    for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i < source.size(); ++i) {
            const uint32_t pick = anyBits(random) % 4;
            if (pick == 0) {
                source[i] = edges[anyBits(random) % edges.size()].input;
            } else if (pick == 1 || round == 0) {
                source[i] = nominal(random);
            } else {
                source[i] = FloatFromBits(anyBits(random));
            }
        }
        ConvertToPcm16Reference(source.data(), expected.data(), source.size());

        for (size_t inOffset = 0; inOffset <= kMaxOffset; ++inOffset) {
            for (size_t outOffset = 0; outOffset <= kMaxOffset; ++outOffset) {
                for (size_t length = 0; length <= kMaxLength; ++length) {
                    out.fill(kGuardValue);
                    int16_t* const target = out.data() + kGuard + outOffset;
                    GetParam().Run(source.data() + inOffset, target, length);

                    const auto firstWrong =
                        std::mismatch(target, target + length, expected.data() + inOffset);
                    ASSERT_EQ(firstWrong.first, target + length)
                        << "length " << length << ", input offset " << inOffset
                        << ", output offset " << outOffset << ", index "
                        << (firstWrong.first - target) << ", input "
                        << source[inOffset + static_cast<size_t>(firstWrong.first - target)];
                    const auto isGuard = [](int16_t value) { return value == kGuardValue; };
                    ASSERT_TRUE(std::all_of(out.data(), target, isGuard))
                        << "wrote before the block: length " << length << ", input offset "
                        << inOffset << ", output offset " << outOffset;
                    ASSERT_TRUE(std::all_of(target + length, out.data() + out.size(), isGuard))
                        << "wrote past the block: length " << length << ", input offset "
                        << inOffset << ", output offset " << outOffset;
                }
            }
        }
    }
}

// The vector paths convert clean stretches without clamps and redo a stretch by the exact
// rule only when a value there needs it. Runs of ordinary values with one such value
// planted at many positions check that it is noticed wherever it lands: first values
// before an aligned boundary, either half of an unrolled loop, the overlapping last group,
// either side of a stretch boundary. Runs without one check the clean path itself.
TEST_P(SampleConversionBlocks, NoticesAnOutOfRangeValueAnywhereInALongRun) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::array<float, 6> planted{
        std::numeric_limits<float>::quiet_NaN(), inf, -inf, 1e10f, -1e10f, -65536.0f};
    constexpr std::array<size_t, 12> kLengths{31,  32,   33,   64,   65,   97,
                                              255, 2047, 2048, 4095, 4097, 6151};
    constexpr size_t kMaxOffset = 7;

    std::mt19937 random(20240612u);
    std::uniform_real_distribution<float> nominal(-1.02f, 1.02f);
    std::vector<float> source(kMaxOffset + kLengths.back());
    std::generate(source.begin(), source.end(), [&] { return nominal(random); });
    std::vector<int16_t> expected(source.size());
    std::vector<int16_t> out(source.size());

    for (const size_t length : kLengths) {
        // Every position in short runs; in long ones a prime stride plus both ends.
        const size_t stride = length < 128 ? 1 : 13;
        for (size_t offset = 0; offset <= kMaxOffset; ++offset) {
            float* const in = source.data() + offset;
            ConvertToPcm16Reference(in, expected.data(), length);
            GetParam().Run(in, out.data(), length);
            ASSERT_TRUE(std::equal(expected.begin(),
                                   expected.begin() + static_cast<ptrdiff_t>(length), out.begin()))
                << "clean run, length " << length << ", offset " << offset;

            std::vector<size_t> positions;
            for (size_t at = 0; at < length; at += stride) {
                positions.push_back(at);
            }
            positions.push_back(length - 1);
            for (const size_t at : positions) {
                const float kept = in[at];
                in[at] = planted[(at + offset) % planted.size()];
                ConvertToPcm16Reference(in, expected.data(), length);
                GetParam().Run(in, out.data(), length);
                in[at] = kept;
                ASSERT_TRUE(std::equal(expected.begin(),
                                       expected.begin() + static_cast<ptrdiff_t>(length),
                                       out.begin()))
                    << "length " << length << ", offset " << offset << ", "
                    << planted[(at + offset) % planted.size()] << " at " << at;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllPaths, SampleConversionBlocks, ::testing::ValuesIn(AllConverters()),
                         ConverterName);

} // namespace
} // namespace zvaudio::test
