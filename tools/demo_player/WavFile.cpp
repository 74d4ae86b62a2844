#include "WavFile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace zvdemo {

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;

// WAV is little-endian whatever the machine is.
uint16_t ReadU16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

uint32_t ReadU32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

bool HasId(const uint8_t* bytes, const char* id) {
    return std::memcmp(bytes, id, 4) == 0;
}

} // namespace

bool WavFile::Fail(const std::string& message) {
    error = message;
    channels = 0;
    sampleRate = 0;
    samples.clear();
    encoding.clear();
    return false;
}

bool WavFile::Read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return Fail("cannot open " + path);
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                     std::istreambuf_iterator<char>()};
    if (bytes.size() < 12 || !HasId(bytes.data(), "RIFF") || !HasId(bytes.data() + 8, "WAVE")) {
        return Fail(path + " is not a RIFF/WAVE file");
    }

    uint16_t format = 0;
    uint16_t bitsPerSample = 0;
    bool haveFormat = false;
    const uint8_t* data = nullptr;
    std::size_t dataSize = 0;

    std::size_t offset = 12;
    while (offset + 8 <= bytes.size() && data == nullptr) {
        const uint8_t* chunk = bytes.data() + offset;
        const std::size_t available = bytes.size() - offset - 8;
        // Streaming writers may leave a size that runs past the end; take what is there.
        const std::size_t size = std::min<std::size_t>(ReadU32(chunk + 4), available);
        const uint8_t* body = chunk + 8;
        if (HasId(chunk, "fmt ")) {
            if (size < 16) {
                return Fail(path + ": format chunk too short");
            }
            format = ReadU16(body);
            channels = ReadU16(body + 2);
            sampleRate = ReadU32(body + 4);
            bitsPerSample = ReadU16(body + 14);
            if (format == kFormatExtensible) {
                if (size < 40) {
                    return Fail(path + ": extensible format chunk too short");
                }
                // The sub-format GUID starts with the plain format tag.
                format = ReadU16(body + 24);
            }
            haveFormat = true;
        } else if (HasId(chunk, "data")) {
            data = body;
            dataSize = size;
        }
        // Chunks are padded to an even length.
        offset += 8 + size + (size & 1u);
    }

    if (!haveFormat) {
        return Fail(path + ": no format chunk");
    }
    if (data == nullptr) {
        return Fail(path + ": no data chunk");
    }
    if (channels != 1 && channels != 2) {
        return Fail(path + ": " + std::to_string(channels) + " channels (mono or stereo only)");
    }
    if (sampleRate < kMinimumRate || sampleRate > kMaximumRate) {
        return Fail(path + ": unsupported sample rate " + std::to_string(sampleRate));
    }

    if (format == kFormatPcm && bitsPerSample == 16) {
        const std::size_t count = dataSize / 2;
        samples.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const auto value = static_cast<int16_t>(ReadU16(data + 2 * i));
            samples[i] = static_cast<float>(value) / (value >= 0 ? 32767.0f : 32768.0f);
        }
        encoding = "16-bit PCM";
    } else if (format == kFormatFloat && bitsPerSample == 32) {
        const std::size_t count = dataSize / 4;
        samples.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const uint32_t bits = ReadU32(data + 4 * i);
            std::memcpy(&samples[i], &bits, sizeof bits);
        }
        encoding = "32-bit float";
    } else {
        return Fail(path + ": format " + std::to_string(format) + " with " +
                    std::to_string(bitsPerSample) +
                    " bits per sample (16-bit PCM or 32-bit float only)");
    }
    // A trailing partial frame cannot be played.
    samples.resize(samples.size() - samples.size() % channels);
    error.clear();
    return true;
}

} // namespace zvdemo
