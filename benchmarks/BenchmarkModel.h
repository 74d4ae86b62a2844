// The benchmarks' model of the platform. Its type is known where the
// platform calls are compiled (zv_use_platform_model ... MODEL), so the fetch
// and release that the request path times are direct, inlined calls.
#pragma once

#include "BufferPool.h"
#include "HandleTable.h"
#include "PlatformModel.h"

namespace zvbench {

// Every call succeeds at once; nothing is recorded. Single-threaded use only.
class BenchmarkModel final : public zvplatform::PlatformModel {
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

} // namespace zvbench
