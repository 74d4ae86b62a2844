#pragma once

#include "AudioOutput.h"
#include "FakePlatform.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// Owns the instance under test and resets the fake platform around it.
class AudioOutputTest : public ::testing::Test {
protected:
    using FakeCall = zvtest::FakeCall;

    void SetUp() override {
        platform().Reset();
        output = std::make_unique<zvaudio::AudioOutput>();
    }
    void TearDown() override {
        output.reset();
        EXPECT_EQ(zvaudio::soundHandle, kInvalidSoundHandle) << "a stream outlived its instance";
    }

    static zvtest::FakePlatform& platform() { return zvtest::FakePlatform::Instance(); }

    // A stream of 2 channels x 100 Hz x 3 s: a ring of 600 samples.
    void OpenSmallStream() { output->CreateOutputBuffer(256, 2, 100, 0, 0, 0.0f, 3); }

    void Push(const std::vector<float>& block) {
        output->OnUnityAudio(block.data(), static_cast<uint32_t>(block.size()));
    }

    // count samples whose 16-bit values are first, first + 1, ... (exactly
    // representable after scaling by 32767).
    static std::vector<float> Ramp(int first, int count) {
        std::vector<float> block;
        for (int i = 0; i < count; ++i) {
            block.push_back(static_cast<float>(first + i) / 32767.0f);
        }
        return block;
    }

    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        for (const auto& record : platform().Logs()) {
            lines.push_back(record.line);
        }
        return lines;
    }

    std::unique_ptr<zvaudio::AudioOutput> output;
};

inline void ExpectInvariant(const ZVAudioOutputStats& s) {
    EXPECT_EQ(s.samplesQueued, s.samplesDelivered + s.samplesDropped + s.queuedSamples);
}
