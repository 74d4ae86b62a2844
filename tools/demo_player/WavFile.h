// A WAV file read into memory as interleaved float samples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zvdemo {

// Reads 16-bit integer PCM and 32-bit float files, plain or in the extensible
// layout, mono or stereo. Integer samples are scaled by 1/32767 when positive
// and 1/32768 when negative, the inverse of the plug-in's conversion, so every
// 16-bit value comes back out of the plug-in unchanged.
class WavFile {
public:
    static constexpr uint32_t kMinimumRate = 1000;
    static constexpr uint32_t kMaximumRate = 384000;

    // False with Error() set when the file is missing, malformed or of a
    // layout this reader does not take.
    bool Read(const std::string& path);

    uint32_t Channels() const { return channels; }
    uint32_t SampleRate() const { return sampleRate; }
    uint64_t Frames() const { return channels == 0 ? 0 : samples.size() / channels; }
    const std::vector<float>& Samples() const { return samples; }
    // "16-bit PCM" or "32-bit float".
    const std::string& Encoding() const { return encoding; }
    const std::string& Error() const { return error; }

private:
    bool Fail(const std::string& message);

    uint32_t channels = 0;
    uint32_t sampleRate = 0;
    std::vector<float> samples;
    std::string encoding;
    std::string error;
};

} // namespace zvdemo
