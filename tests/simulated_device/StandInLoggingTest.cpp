// The stand-in logging library: one whole line per call, whatever the thread.
#include "ZVUnityNativeLogging.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

const zv::ZVUnityNativeLogLevel kLevel = static_cast<zv::ZVUnityNativeLogLevel>(1);

TEST(StandInLogging, WritesOneFormattedLineWithTheLevel) {
    ::testing::internal::CaptureStderr();
    zv::ZVUnityNativeLogging::Log(kLevel, "%s() failed with error %s", "ZVAudioStartSound",
                                  "no output buffer is free yet");
    zv::ZVUnityNativeLogging::Log(static_cast<zv::ZVUnityNativeLogLevel>(3), "%d%%", 42);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "[ZVAudioOutput level 1] ZVAudioStartSound() failed with error no output buffer is "
              "free yet\n"
              "[ZVAudioOutput level 3] 42%\n");
}

TEST(StandInLogging, OverlongMessageIsCutButStillEndsTheLine) {
    const std::string longText(5000, 'x');
    ::testing::internal::CaptureStderr();
    zv::ZVUnityNativeLogging::Log(kLevel, "%s", longText.c_str());
    zv::ZVUnityNativeLogging::Log(kLevel, "after");
    const auto lines = Lines(::testing::internal::GetCapturedStderr());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_LT(lines[0].size(), 1024u);
    EXPECT_EQ(lines[0].rfind("[ZVAudioOutput level 1] xxxx", 0), 0u);
    EXPECT_EQ(lines[1], "[ZVAudioOutput level 1] after");
}

TEST(StandInLogging, LinesFromManyThreadsNeverInterleave) {
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 200;
    ::testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLinesEach; ++i) {
                zv::ZVUnityNativeLogging::Log(kLevel, "thread %d line %d %s", t, i,
                                              "padding padding padding padding padding");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto lines = Lines(::testing::internal::GetCapturedStderr());
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLinesEach));
    std::vector<int> nextLine(kThreads, 0);
    for (const auto& line : lines) {
        int thread = -1;
        int number = -1;
        char tail[64] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "[ZVAudioOutput level 1] thread %d line %d %63[a-z ]",
                              &thread, &number, tail),
                  3)
            << line;
        ASSERT_STREQ(tail, "padding padding padding padding padding") << line;
        ASSERT_TRUE(thread >= 0 && thread < kThreads) << line;
        // Each thread's lines arrive whole and in order.
        EXPECT_EQ(number, nextLine[static_cast<std::size_t>(thread)]++) << line;
    }
}

} // namespace
