// What the simulated device does with released buffers: the playback tap and
// the WAV recording.
#include "SimulatedDeviceFixture.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

namespace {

using SimulatedDeviceRecording = SimulatedDeviceFixture;

struct TapLog {
    std::mutex mutex;
    std::vector<ZVSoundHandle> handles;
    std::vector<int16_t> samples;

    static void OnPlayed(ZVSoundHandle handle, const int16_t* played, uint32_t count,
                         void* context) {
        auto& self = *static_cast<TapLog*>(context);
        std::lock_guard<std::mutex> lock(self.mutex);
        self.handles.push_back(handle);
        self.samples.insert(self.samples.end(), played, played + count);
    }
};

struct WavFile {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t byteRate = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint32_t riffSize = 0;
    uint32_t dataSize = 0;
    uint64_t fileSize = 0;
    std::vector<int16_t> samples;
};

uint32_t ReadLittleEndian(const std::vector<uint8_t>& bytes, std::size_t at, int width) {
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8) | bytes.at(at + static_cast<std::size_t>(i));
    }
    return value;
}

WavFile ReadWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    WavFile wav;
    wav.fileSize = bytes.size();
    if (bytes.size() < 44 || std::string(bytes.begin(), bytes.begin() + 4) != "RIFF" ||
        std::string(bytes.begin() + 8, bytes.begin() + 16) != "WAVEfmt " ||
        std::string(bytes.begin() + 36, bytes.begin() + 40) != "data") {
        ADD_FAILURE() << path << " is not a canonical WAV file";
        return wav;
    }
    wav.riffSize = ReadLittleEndian(bytes, 4, 4);
    wav.formatTag = static_cast<uint16_t>(ReadLittleEndian(bytes, 20, 2));
    wav.channels = static_cast<uint16_t>(ReadLittleEndian(bytes, 22, 2));
    wav.sampleRate = ReadLittleEndian(bytes, 24, 4);
    wav.byteRate = ReadLittleEndian(bytes, 28, 4);
    wav.blockAlign = static_cast<uint16_t>(ReadLittleEndian(bytes, 32, 2));
    wav.bitsPerSample = static_cast<uint16_t>(ReadLittleEndian(bytes, 34, 2));
    wav.dataSize = ReadLittleEndian(bytes, 40, 4);
    for (std::size_t at = 44; at + 1 < bytes.size(); at += 2) {
        wav.samples.push_back(static_cast<int16_t>(ReadLittleEndian(bytes, at, 2)));
    }
    return wav;
}

// Fetches, fills with consecutive values from `next` and releases `count` buffers.
void PlayRamp(ZVSoundHandle handle, int count, int16_t& next) {
    for (int i = 0; i < count; ++i) {
        AudioOutputBuffer buffer{};
        ASSERT_EQ(ZVAudioGetOutputBuffer(handle, &buffer), kResultOk);
        auto* samples = static_cast<int16_t*>(buffer.data);
        for (uint32_t s = 0; s < buffer.size / 2; ++s) {
            samples[s] = next++;
        }
        ASSERT_EQ(ZVAudioReleaseOutputBuffer(handle), kResultOk);
    }
}

std::string TempPath(const char* name) {
    return (std::filesystem::temp_directory_path() /
            (std::string("zv_sim_") + name + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".wav"))
        .string();
}

TEST_F(SimulatedDeviceRecording, TapSeesEveryReleasedSampleOfItsStream) {
    TapLog tap;
    ZVSimSetPlaybackTap(TapLog::OnPlayed, &tap);
    ZVSimSetBuffersInFlight(8);
    const ZVSoundHandle handle = Create(IgnoreRequest, nullptr, Format(1, 8000), 100);
    int16_t next = -300;
    PlayRamp(handle, 6, next);
    ZVSimSetPlaybackTap(nullptr, nullptr);
    PlayRamp(handle, 1, next);

    std::lock_guard<std::mutex> lock(tap.mutex);
    ASSERT_EQ(tap.samples.size(), 600u);
    for (std::size_t i = 0; i < tap.samples.size(); ++i) {
        ASSERT_EQ(tap.samples[i], static_cast<int16_t>(-300 + static_cast<int>(i))) << i;
    }
    EXPECT_EQ(tap.handles, std::vector<ZVSoundHandle>(6, handle));
}

TEST_F(SimulatedDeviceRecording, RecordingHoldsEveryReleasedSampleAfterTheStreamIsDestroyed) {
    const std::string path = TempPath("record");
    ZVSimSetRecordingPath(path.c_str());
    ZVSimSetBuffersInFlight(16);
    const ZVSoundHandle handle = Create(IgnoreRequest, nullptr, Format(2, 22050), 64);
    int16_t next = 1;
    PlayRamp(handle, 10, next);
    ASSERT_EQ(Destroy(handle), kResultOk);

    // Complete after the destroy, while recording is still on.
    const WavFile wav = ReadWav(path);
    EXPECT_EQ(wav.formatTag, 1u);
    EXPECT_EQ(wav.channels, 2u);
    EXPECT_EQ(wav.sampleRate, 22050u);
    EXPECT_EQ(wav.bitsPerSample, 16u);
    EXPECT_EQ(wav.blockAlign, 4u);
    EXPECT_EQ(wav.byteRate, 22050u * 4u);
    EXPECT_EQ(wav.dataSize, 10u * 64u * 2u * 2u);
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36u);
    EXPECT_EQ(wav.fileSize, 44u + wav.dataSize);
    ASSERT_EQ(wav.samples.size(), 10u * 64u * 2u);
    for (std::size_t i = 0; i < wav.samples.size(); ++i) {
        ASSERT_EQ(wav.samples[i], static_cast<int16_t>(1 + i)) << i;
    }
    ZVSimFinishRecording();
    std::filesystem::remove(path);
}

TEST_F(SimulatedDeviceRecording, LaterStreamsOfTheSameFormatAppendAndOthersAreLeftOut) {
    const std::string path = TempPath("append");
    ZVSimSetRecordingPath(path.c_str());
    ZVSimSetBuffersInFlight(4);
    int16_t next = 0;
    const ZVSoundHandle first = Create(IgnoreRequest, nullptr, Format(1, 16000), 32);
    PlayRamp(first, 2, next);
    ASSERT_EQ(Destroy(first), kResultOk);
    const ZVSoundHandle stereo = Create(IgnoreRequest, nullptr, Format(2, 16000), 32);
    int16_t ignored = 10000;
    PlayRamp(stereo, 2, ignored);
    const ZVSoundHandle second = Create(IgnoreRequest, nullptr, Format(1, 16000), 32);
    PlayRamp(second, 3, next);
    ZVSimFinishRecording();

    // Released after the recording finished: not in the file.
    PlayRamp(second, 1, ignored);

    const WavFile wav = ReadWav(path);
    EXPECT_EQ(wav.channels, 1u);
    EXPECT_EQ(wav.dataSize, 5u * 32u * 2u);
    ASSERT_EQ(wav.samples.size(), 5u * 32u);
    for (std::size_t i = 0; i < wav.samples.size(); ++i) {
        ASSERT_EQ(wav.samples[i], static_cast<int16_t>(i)) << i;
    }
    std::filesystem::remove(path);
}

TEST_F(SimulatedDeviceRecording, UnwritablePathRecordsNothingAndPlaybackGoesOn) {
    const std::string path = "/nonexistent-directory/zv_sim.wav";
    ZVSimSetRecordingPath(path.c_str());
    const ZVSoundHandle handle = Create(IgnoreRequest, nullptr);
    int16_t next = 0;
    ::testing::internal::CaptureStderr();
    PlayRamp(handle, 2, next);
    const std::string warning = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(warning.find(path), std::string::npos);
    EXPECT_EQ(Stats().buffersPlayed, 2u);
    EXPECT_FALSE(std::filesystem::exists(path));
}

} // namespace
