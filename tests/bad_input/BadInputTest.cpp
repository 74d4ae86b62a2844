// Boundary values for every argument of every export: nothing crashes, a refusal that
// the plug-in reports leaves one clear log line, and where nothing should change,
// neither the statistics nor the platform's call log do.
#include "FakePlatform.h"
#include "NumberedSamples.h"
#include "ZVAudioOutput.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using zvtest::FakeCall;
using zvtest::FakePlatform;

namespace {

constexpr uint32_t kMax32 = std::numeric_limits<uint32_t>::max();
constexpr uint32_t k2To31 = 0x80000000u;
constexpr uint32_t k2To31Minus1 = 0x7FFFFFFFu;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kDenormal = std::numeric_limits<float>::denorm_min();

bool SameStats(const ZVAudioOutputStats& a, const ZVAudioOutputStats& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class BadInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        DestroyAudioOutput();
        FakePlatform::Instance().Reset();
    }
    void TearDown() override {
        DestroyAudioOutput();
        FakePlatform::Instance().Reset();
    }

    // An instance with a stream of 600 samples holding 344 queued samples after an
    // overflow and one delivered buffer, so that any unwanted change shows somewhere.
    void OpenBusyStream() {
        ASSERT_TRUE(CreateAudioOutput());
        ASSERT_TRUE(CreateOutputBuffer(256, 2, 100, 0, 0, 0.0f, 3));
        std::vector<float> block(612, 0.25f);
        ASSERT_TRUE(OnUnityAudio(block.data(), 612));
        FakePlatform::Instance().RaiseRequest(FakePlatform::Instance().LastCreatedHandle());
        ASSERT_EQ(Stats().queuedSamples, 344u);
    }

    static ZVAudioOutputStats Stats() {
        ZVAudioOutputStats stats{};
        EXPECT_TRUE(GetAudioOutputStats(&stats));
        return stats;
    }

    // Runs `action` and expects it to leave statistics, platform calls and log alone.
    template <typename Action> void ExpectNoEffect(const std::string& what, Action action) {
        auto& platform = FakePlatform::Instance();
        ZVAudioOutputStats before{};
        const bool hadInstance = GetAudioOutputStats(&before);
        const size_t calls = platform.Calls().size();
        const size_t logs = platform.Logs().size();
        action();
        ZVAudioOutputStats after{};
        EXPECT_EQ(GetAudioOutputStats(&after), hadInstance) << what;
        if (hadInstance) {
            EXPECT_TRUE(SameStats(before, after)) << what << ": statistics changed";
        }
        EXPECT_EQ(platform.Calls().size(), calls) << what << ": platform was called";
        EXPECT_EQ(platform.Logs().size(), logs) << what << ": something was logged";
    }
};

struct BufferArguments {
    uint32_t bufferSize;
    uint32_t channels;
    uint32_t rate;
    uint32_t seconds;
    float hint;
};

// Products below 2^31 open a stream; every row keeps the product small by pairing a
// huge factor with a zero, since a legal ring of 2^31 - 1 samples is 4 GiB.
const BufferArguments kOpeningRows[] = {
    {0, 1, 1, 1, 0.0f},
    {1, 3, 7, 1, -0.0f},
    {kMax32, 2, 100, 3, kNaN},
    {k2To31, 1, 44100, 1, kInf},
    {k2To31Minus1, 8, 48000, 5, -kInf},
    {3, k2To31Minus1, 0, 1, kDenormal},
    {256, 0, kMax32, kMax32, std::numeric_limits<float>::max()},
    {256, kMax32, kMax32, 0, -std::numeric_limits<float>::max()},
    {256, k2To31, 0, k2To31, 1.0f},
    {256, 1, 1, 7, 0.5f},
};

// Products of 2^31 and more, including those that wrap to small values in 32 bits.
const BufferArguments kRefusedRows[] = {
    {256, k2To31, 1, 1, 0.0f},
    {256, 1, k2To31, 1, 0.0f},
    {256, 1, 1, k2To31, 0.0f},
    {256, kMax32, 1, 1, 0.0f},
    {256, 65536, 65536, 1, 0.0f},           // 2^32: 0 in 32 bits
    {256, 65536, 32768, 2, 0.0f},           // 2^32 again, from three factors
    {256, 2, 0x40000000u, 1, kNaN},         // exactly 2^31
    {256, kMax32, kMax32, kMax32, kInf},    // wraps 64 bits
    {256, 46341, 46341, 1, 0.0f},           // 2147488281, just above the limit
    {256, 4194304, 4194304, 1048576, 0.0f}, // exactly 2^64: 0 in 64 bits
};

} // namespace

TEST_F(BadInputTest, WithoutAnInstanceEveryExportRefusesAnyArgumentsAndCallsNothing) {
    float block[4] = {kNaN, kInf, -kInf, kDenormal};
    const int32_t counts[] = {0, 1, -1, std::numeric_limits<int32_t>::max(),
                              std::numeric_limits<int32_t>::min()};
    ExpectNoEffect("no instance", [&] {
        for (const BufferArguments& row : kOpeningRows) {
            EXPECT_FALSE(CreateOutputBuffer(row.bufferSize, row.channels, row.rate, kMax32, 0,
                                            row.hint, row.seconds));
        }
        for (const BufferArguments& row : kRefusedRows) {
            EXPECT_FALSE(CreateOutputBuffer(row.bufferSize, row.channels, row.rate, 0, kMax32,
                                            row.hint, row.seconds));
        }
        for (const int32_t count : counts) {
            EXPECT_FALSE(OnUnityAudio(nullptr, count));
        }
        EXPECT_FALSE(OnUnityAudio(block, 4));
        EXPECT_FALSE(GetAudioOutputStats(nullptr));
        EXPECT_FALSE(DestroyAudioOutput());
    });
}

TEST_F(BadInputTest, BoundaryArgumentsBelowTheRingLimitOpenAStreamOfTheExactProduct) {
    ASSERT_TRUE(CreateAudioOutput());
    for (const BufferArguments& row : kOpeningRows) {
        const uint64_t product = uint64_t{row.channels} * row.rate * row.seconds;
        SCOPED_TRACE(std::to_string(row.channels) + " x " + std::to_string(row.rate) + " x " +
                     std::to_string(row.seconds));
        FakePlatform::Instance().Reset();
        EXPECT_TRUE(CreateOutputBuffer(row.bufferSize, row.channels, row.rate, kMax32, k2To31,
                                       row.hint, row.seconds));
        EXPECT_EQ(Stats().ringCapacity, product);
        EXPECT_TRUE(FakePlatform::Instance().Logs().empty());
        EXPECT_EQ(FakePlatform::Instance().CountCalls(FakeCall::StartSound), 1u);
    }
}

TEST_F(BadInputTest, RingsOfTwoToTheThirtyOneSamplesOrMoreAreRefusedWithOneLogLine) {
    for (const BufferArguments& row : kRefusedRows) {
        SCOPED_TRACE(std::to_string(row.channels) + " x " + std::to_string(row.rate) + " x " +
                     std::to_string(row.seconds));
        OpenBusyStream();
        auto& platform = FakePlatform::Instance();
        const uint64_t queuedBefore = Stats().samplesQueued;
        platform.Reset();
        EXPECT_TRUE(CreateOutputBuffer(row.bufferSize, row.channels, row.rate, 0, 0, row.hint,
                                       row.seconds));

        // The open stream is released and no new one is asked for.
        EXPECT_EQ(platform.CallKinds(),
                  (std::vector<FakeCall>{FakeCall::StopSound, FakeCall::DestroySound}));
        const auto logs = platform.Logs();
        ASSERT_EQ(logs.size(), 1u);
        EXPECT_EQ(logs[0].level, 1);
        EXPECT_EQ(logs[0].line.rfind("CreateOutputBuffer() failed with error ", 0), 0u)
            << logs[0].line;
        EXPECT_NE(logs[0].line.find("2147483647"), std::string::npos)
            << "the line names the limit: " << logs[0].line;

        const ZVAudioOutputStats stats = Stats();
        EXPECT_EQ(stats.ringCapacity, 0u);
        EXPECT_EQ(stats.samplesQueued, queuedBefore);
        EXPECT_EQ(stats.samplesQueued, stats.samplesDelivered + stats.samplesDropped);
        ASSERT_TRUE(DestroyAudioOutput());
    }
}

TEST_F(BadInputTest, RefusedAndEmptyBlocksChangeNothing) {
    OpenBusyStream();
    float block[3] = {0.5f, 0.5f, 0.5f};
    const int32_t counts[] = {
        0, 1, 3, -1, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()};
    for (const int32_t count : counts) {
        ExpectNoEffect("null block of " + std::to_string(count),
                       [&] { EXPECT_TRUE(OnUnityAudio(nullptr, count)); });
    }
    for (const int32_t count : {0, -1, -3, std::numeric_limits<int32_t>::min()}) {
        ExpectNoEffect("block with count " + std::to_string(count),
                       [&] { EXPECT_TRUE(OnUnityAudio(block, count)); });
    }
}

TEST_F(BadInputTest, ZeroSamplesIntoAnEmptyRingLeaveItEmpty) {
    ASSERT_TRUE(CreateAudioOutput());
    ASSERT_TRUE(CreateOutputBuffer(256, 1, 8, 0, 0, 0.0f, 1));
    float block[1] = {0.5f};
    ExpectNoEffect("zero samples", [&] { EXPECT_TRUE(OnUnityAudio(block, 0)); });
    FakePlatform::Instance().RaiseRequest(FakePlatform::Instance().LastCreatedHandle());
    EXPECT_EQ(Stats().samplesDelivered, 0u);
    EXPECT_EQ(Stats().requestsDeferred, 1u) << "the ring still reads as empty";
    EXPECT_EQ(FakePlatform::Instance().CountCalls(FakeCall::GetOutputBuffer), 0u);
}

TEST_F(BadInputTest, NonFiniteDenormalAndOutOfRangeFloatsArriveSaturatedOrSilent) {
    ASSERT_TRUE(CreateAudioOutput());
    ASSERT_TRUE(CreateOutputBuffer(256, 1, 16, 0, 0, 0.0f, 1));
    std::vector<float> block = {
        kNaN,
        -kNaN,
        kInf,
        -kInf,
        kDenormal,
        -kDenormal,
        std::numeric_limits<float>::max(),
        -std::numeric_limits<float>::max(),
        1e10f,
        -1e10f,
        2.0f,
        -3.0f,
        -0.0f,
        std::numeric_limits<float>::min(),
    };
    const std::vector<int16_t> expected = {0,      0,     0,      0,     0,      0, 32767,
                                           -32768, 32767, -32768, 32767, -32768, 0, 0};
    for (size_t i = 0; i < block.size(); ++i) {
        ASSERT_EQ(zvtest::ExpectedPcm16(block[i]), expected[i]) << "row " << i;
    }
    ASSERT_TRUE(OnUnityAudio(block.data(), static_cast<int32_t>(block.size())));
    auto& platform = FakePlatform::Instance();
    platform.SetBufferBytes(static_cast<uint32_t>(block.size() * sizeof(int16_t)));
    platform.RaiseRequest(platform.LastCreatedHandle());
    const auto released = platform.ReleasedBuffers();
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0], expected);
}

TEST_F(BadInputTest, StatisticsWithANullRecordAndTheHooksWithAnyPointerChangeNothing) {
    OpenBusyStream();
    ExpectNoEffect("null stats record", [] { EXPECT_FALSE(GetAudioOutputStats(nullptr)); });
    ExpectNoEffect("hooks", [] {
        UnityPluginLoad(nullptr);
        UnityPluginLoad(reinterpret_cast<void*>(~uintptr_t{0}));
        UnityPluginUnload();
    });
    ExpectNoEffect("second instance", [] { EXPECT_FALSE(CreateAudioOutput()); });
}

TEST_F(BadInputTest, RequestsWithForeignHandlesOrNoContextChangeNothing) {
    OpenBusyStream();
    auto& platform = FakePlatform::Instance();
    const ZVSoundHandle current = platform.LastCreatedHandle();
    const ZVAudioBufferCallback callback = platform.Callback();
    void* const context = platform.Context();
    ASSERT_NE(callback, nullptr);
    const ZVSoundHandle foreign[] = {0, current + 1, current - 1, kInvalidSoundHandle,
                                     ZVSoundHandle{1} << 63};
    for (const ZVSoundHandle handle : foreign) {
        ExpectNoEffect("handle " + std::to_string(handle), [&] { callback(handle, context); });
    }
    ExpectNoEffect("null context", [&] { callback(current, nullptr); });
}
