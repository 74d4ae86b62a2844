// Appends every played buffer to a 16-bit PCM WAV file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace zvsim {

// The file is created on the first buffer recorded after a path is set, and
// takes that buffer's channel count and sample rate. Buffers of any other
// format are left out of it (with one warning on stderr) until recording
// starts again. The header is written with the sizes known so far and patched
// whenever the file is completed, so it is a valid file after every Complete
// and after Stop. All methods take the recorder's lock; any thread.
class WavRecorder {
public:
    WavRecorder() = default;
    ~WavRecorder();
    WavRecorder(const WavRecorder&) = delete;
    WavRecorder& operator=(const WavRecorder&) = delete;

    // Completes any current file and records into `path` from now on; null
    // or empty stops recording.
    void Start(const char* path);

    // Completes and closes the current file; nothing is recorded afterwards.
    void Stop();

    // Patches the header so that the file on disk is complete; recording goes on.
    void Complete();

    void Append(uint32_t bufferChannels, uint32_t bufferRate, const int16_t* samples,
                uint32_t count);

private:
    struct FileCloser {
        void operator()(std::FILE* stream) const { std::fclose(stream); }
    };

    bool OpenLocked(uint32_t bufferChannels, uint32_t bufferRate);
    void CompleteLocked();
    void CloseLocked();

    std::mutex mutex;
    std::string path;
    std::unique_ptr<std::FILE, FileCloser> file;
    bool failed = false; // opening or writing failed; wait for a new path
    bool warnedMismatch = false;
    bool warnedFull = false;
    uint32_t channelCount = 0;
    uint32_t sampleRate = 0;
    uint64_t dataBytes = 0;
};

} // namespace zvsim
