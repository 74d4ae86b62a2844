#include "BenchmarkPlatform.h"

#include "BufferPool.h"
#include "HandleTable.h"
#include "PlatformModel.h"

namespace {

// Every call succeeds at once; nothing is recorded.
class BenchmarkModel : public zvplatform::PlatformModel {
public:
    BenchmarkModel() { SetBufferSamples(2048); }

    // The pool's one buffer stays lent for good, so that a fetch costs two stores.
    void SetBufferSamples(uint32_t samples) {
        buffers.Allocate(1, samples);
        buffer = buffers.Lend();
    }

    ZVResult GetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate,
                                       float /*formatHint*/, AudioBufferFormat* outFormat,
                                       uint32_t* outRecommendedSize,
                                       uint32_t* outMinimumSize) override {
        *outFormat = AudioBufferFormat{channelCount, sampleRate, 16, 0};
        *outRecommendedSize = BufferBytes();
        *outMinimumSize = *outRecommendedSize;
        return kResultOk;
    }
    ZVResult CreateSound(const AudioBufferFormat* /*format*/, uint32_t /*bufferSize*/,
                         ZVAudioBufferCallback callback, void* context,
                         ZVSoundHandle* outHandle) override {
        current = {callback, context};
        handle = streams.Add(current);
        *outHandle = handle;
        return kResultOk;
    }
    ZVResult StartSound(ZVSoundHandle /*handle*/) override { return kResultOk; }
    ZVResult StopSound(ZVSoundHandle /*handle*/) override { return kResultOk; }
    ZVResult DestroySound(ZVSoundHandle destroyed) override {
        if (streams.Remove(destroyed) && destroyed == handle) {
            current = {};
            handle = kInvalidSoundHandle;
        }
        return kResultOk;
    }
    ZVResult GetOutputBuffer(ZVSoundHandle /*handle*/, AudioOutputBuffer* outBuffer) override {
        outBuffer->data = buffer;
        outBuffer->size = BufferBytes();
        return kResultOk;
    }
    ZVResult ReleaseOutputBuffer(ZVSoundHandle /*handle*/) override { return kResultOk; }
    const char* ResultString(ZVResult result) override {
        return result == kResultOk ? "OK" : "FAILURE";
    }

    uint32_t BufferBytes() const {
        return static_cast<uint32_t>(buffers.SamplesPerBuffer() * sizeof(int16_t));
    }

    zvplatform::BufferPool buffers;
    int16_t* buffer = nullptr;
    zvplatform::HandleTable<zvplatform::StreamCallback> streams;
    zvplatform::StreamCallback current;
    ZVSoundHandle handle = kInvalidSoundHandle;
};

// A plain global rather than a function-local static: no guard check on the
// fetch and release that the request path times.
BenchmarkModel model;

} // namespace

namespace zvplatform {

PlatformModel& ActivePlatform() {
    return model;
}

} // namespace zvplatform

namespace zvbench {

void BenchmarkPlatform::SetBufferBytes(uint32_t bytes) {
    model.SetBufferSamples((bytes + 1) / 2);
}

void BenchmarkPlatform::RaiseRequest() {
    model.current.Raise(model.handle);
}

ZVSoundHandle BenchmarkPlatform::CurrentHandle() {
    return model.handle;
}

uint64_t BenchmarkPlatform::LogLines() {
    return model.LogLines();
}

} // namespace zvbench
