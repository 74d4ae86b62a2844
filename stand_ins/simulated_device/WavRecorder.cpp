#include "WavRecorder.h"

#include <algorithm>
#include <array>

namespace zvsim {

namespace {

constexpr uint32_t kHeaderBytes = 44;
constexpr uint32_t kBytesPerSample = 2;
// The RIFF size field is 32 bits wide; the data must stay below it.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - kHeaderBytes;

void PutLittleEndian(uint8_t* out, uint32_t value, int byteCount) {
    for (int i = 0; i < byteCount; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

std::array<uint8_t, kHeaderBytes> MakeHeader(uint32_t channelCount, uint32_t sampleRate,
                                             uint32_t dataBytes) {
    std::array<uint8_t, kHeaderBytes> header{};
    uint8_t* h = header.data();
    const uint32_t blockAlign = channelCount * kBytesPerSample;
    std::copy_n("RIFF", 4, h);
    PutLittleEndian(h + 4, kHeaderBytes - 8 + dataBytes, 4);
    std::copy_n("WAVEfmt ", 8, h + 8);
    PutLittleEndian(h + 16, 16, 4); // fmt chunk size
    PutLittleEndian(h + 20, 1, 2);  // integer PCM
    PutLittleEndian(h + 22, channelCount, 2);
    PutLittleEndian(h + 24, sampleRate, 4);
    PutLittleEndian(h + 28, sampleRate * blockAlign, 4); // bytes per second
    PutLittleEndian(h + 32, blockAlign, 2);
    PutLittleEndian(h + 34, kBytesPerSample * 8, 2);
    std::copy_n("data", 4, h + 36);
    PutLittleEndian(h + 40, dataBytes, 4);
    return header;
}

} // namespace

WavRecorder::~WavRecorder() {
    std::lock_guard<std::mutex> lock(mutex);
    CloseLocked();
}

void WavRecorder::Start(const char* newPath) {
    std::lock_guard<std::mutex> lock(mutex);
    CloseLocked();
    path = newPath != nullptr ? newPath : "";
    failed = false;
    warnedMismatch = false;
    warnedFull = false;
}

void WavRecorder::Stop() {
    Start(nullptr);
}

void WavRecorder::Complete() {
    std::lock_guard<std::mutex> lock(mutex);
    CompleteLocked();
}

void WavRecorder::Append(uint32_t bufferChannels, uint32_t bufferRate, const int16_t* samples,
                         uint32_t count) {
    std::lock_guard<std::mutex> lock(mutex);
    if (path.empty() || failed || count == 0) {
        return;
    }
    if (!file && !OpenLocked(bufferChannels, bufferRate)) {
        return;
    }
    if (bufferChannels != channelCount || bufferRate != sampleRate) {
        if (!warnedMismatch) {
            std::fprintf(stderr,
                         "simulated device: %s records %u channels at %u Hz; buffers of "
                         "%u channels at %u Hz are left out\n",
                         path.c_str(), channelCount, sampleRate, bufferChannels, bufferRate);
            warnedMismatch = true;
        }
        return;
    }
    const uint64_t bytes = uint64_t{count} * kBytesPerSample;
    if (dataBytes + bytes > kMaxDataBytes) {
        if (!warnedFull) {
            std::fprintf(stderr, "simulated device: %s is full; recording stops there\n",
                         path.c_str());
            warnedFull = true;
        }
        return;
    }
    // Samples are written as they lie in memory: the supported targets are little-endian.
    if (std::fwrite(samples, kBytesPerSample, count, file.get()) != count) {
        std::fprintf(stderr, "simulated device: writing %s failed; recording stops\n",
                     path.c_str());
        failed = true;
        return;
    }
    dataBytes += bytes;
}

bool WavRecorder::OpenLocked(uint32_t bufferChannels, uint32_t bufferRate) {
    file.reset(std::fopen(path.c_str(), "wb"));
    if (!file) {
        std::fprintf(stderr, "simulated device: cannot create %s; nothing is recorded\n",
                     path.c_str());
        failed = true;
        return false;
    }
    channelCount = bufferChannels;
    sampleRate = bufferRate;
    dataBytes = 0;
    // Sizes are placeholders until the file is completed.
    const auto header = MakeHeader(channelCount, sampleRate, 0);
    if (std::fwrite(header.data(), 1, header.size(), file.get()) != header.size()) {
        file.reset();
        failed = true;
        return false;
    }
    return true;
}

void WavRecorder::CompleteLocked() {
    if (!file) {
        return;
    }
    const auto header = MakeHeader(channelCount, sampleRate, static_cast<uint32_t>(dataBytes));
    std::FILE* f = file.get();
    if (std::fseek(f, 0, SEEK_SET) != 0 ||
        std::fwrite(header.data(), 1, header.size(), f) != header.size() ||
        std::fseek(f, 0, SEEK_END) != 0 || std::fflush(f) != 0) {
        std::fprintf(stderr, "simulated device: cannot complete %s\n", path.c_str());
    }
}

void WavRecorder::CloseLocked() {
    CompleteLocked();
    file.reset();
}

} // namespace zvsim
