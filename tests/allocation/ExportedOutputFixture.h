#pragma once

#include "AllocationCounter.h"
#include "FakePlatform.h"
#include "ZVAudioOutput.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

// Drives the plug-in through its exports against the fake platform, and
// leaves no instance, stream or armed allocation failure behind.
class ExportedOutputTest : public ::testing::Test {
protected:
    using FakeCall = zvtest::FakeCall;

    // 2 channels x 48000 Hz x 1 s.
    static constexpr uint32_t kRingSamples = 96000;
    // The platform lends buffers of 2048 samples.
    static constexpr uint32_t kBufferBytes = 4096;
    static constexpr int32_t kBlockSamples = 2048;

    void SetUp() override {
        DestroyAudioOutput();
        platform().Reset();
        platform().SetBufferBytes(kBufferBytes);
    }
    void TearDown() override {
        zvtest::AllocationCounter::StopFailing();
        DestroyAudioOutput();
        platform().Reset();
    }

    static zvtest::FakePlatform& platform() { return zvtest::FakePlatform::Instance(); }

    static bool OpenStream() { return CreateOutputBuffer(kBufferBytes, 2, 48000, 0, 0, 0.0f, 1); }

    static ZVAudioOutputStats Stats() {
        ZVAudioOutputStats stats{};
        EXPECT_TRUE(GetAudioOutputStats(&stats));
        return stats;
    }

    // A block of quiet, non-zero audio.
    static std::vector<float> Block(int32_t samples) {
        std::vector<float> block(static_cast<size_t>(samples));
        for (size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<float>(i % 200) / 1000.0f - 0.1f;
        }
        return block;
    }

    static bool Push(std::vector<float>& block, int32_t samples) {
        return OnUnityAudio(block.data(), samples);
    }
};
