#include "VirtualDevice.h"

#include "BufferPool.h"
#include "HandleTable.h"
#include "PlatformModel.h"

namespace {

constexpr uint32_t kBuffersInFlight = 3;

// The stream's buffers are a ring of periods: the oldest released one plays next.
class VirtualModel : public zvplatform::PlatformModel {
public:
    ZVResult GetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate,
                                       float /*formatHint*/, AudioBufferFormat* outFormat,
                                       uint32_t* outRecommendedSize,
                                       uint32_t* outMinimumSize) override {
        *outFormat = AudioBufferFormat{channelCount, sampleRate, 16, 0};
        *outRecommendedSize = 1024;
        *outMinimumSize = 256;
        return kResultOk;
    }
    ZVResult CreateSound(const AudioBufferFormat* format, uint32_t bufferSize,
                         ZVAudioBufferCallback callback, void* context,
                         ZVSoundHandle* outHandle) override {
        stream = {callback, context};
        handle = streams.Add(stream);
        framesPerBuffer = bufferSize == 0 ? 1024 : bufferSize;
        channels = format->channelCount;
        buffers.Allocate(kBuffersInFlight, framesPerBuffer * channels);
        started = false;
        firstTick = true;
        starved = 0;
        *outHandle = handle;
        return kResultOk;
    }
    ZVResult StartSound(ZVSoundHandle /*handle*/) override {
        started = true;
        return kResultOk;
    }
    ZVResult StopSound(ZVSoundHandle /*handle*/) override {
        started = false;
        return kResultOk;
    }
    ZVResult DestroySound(ZVSoundHandle destroyed) override {
        streams.Remove(destroyed);
        started = false;
        stream = {};
        handle = kInvalidSoundHandle;
        return kResultOk;
    }
    ZVResult GetOutputBuffer(ZVSoundHandle requested, AudioOutputBuffer* outBuffer) override {
        int16_t* data = requested == handle ? buffers.Lend() : nullptr;
        if (data == nullptr) {
            return kResultBufferNotReady;
        }
        outBuffer->data = data;
        outBuffer->size = static_cast<uint32_t>(buffers.SamplesPerBuffer() * sizeof(int16_t));
        return kResultOk;
    }
    ZVResult ReleaseOutputBuffer(ZVSoundHandle /*handle*/) override {
        buffers.QueueLent();
        return kResultOk;
    }
    const char* ResultString(ZVResult result) override {
        return result == kResultOk ? "OK" : "not ready";
    }

    zvplatform::HandleTable<zvplatform::StreamCallback> streams;
    zvplatform::StreamCallback stream;
    ZVSoundHandle handle = kInvalidSoundHandle;
    zvplatform::BufferPool buffers;
    uint32_t framesPerBuffer = 1024;
    uint32_t channels = 2;
    bool started = false;
    bool firstTick = true;
    uint64_t starved = 0;
    std::vector<int16_t>* capture = nullptr;
};

VirtualModel device;

} // namespace

namespace zvplatform {

PlatformModel& ActivePlatform() {
    return device;
}

} // namespace zvplatform

namespace zvscenario {

VirtualDevice::Played VirtualDevice::Play() {
    if (!device.started) {
        return Played{nullptr, 0, false};
    }
    if (device.firstTick) {
        device.firstTick = false;
        return Played{nullptr, 0, false};
    }
    const uint32_t samples = device.buffers.SamplesPerBuffer();
    Played played{device.buffers.PlayOldest(), samples, false};
    played.starved = played.samples == nullptr;
    if (played.starved) {
        ++device.starved;
    }
    if (device.capture != nullptr) {
        if (played.starved) {
            device.capture->insert(device.capture->end(), samples, int16_t{0});
        } else {
            device.capture->insert(device.capture->end(), played.samples, played.samples + samples);
        }
    }
    return played;
}

void VirtualDevice::Request() {
    if (device.started) {
        device.stream.Raise(device.handle);
    }
}

uint64_t VirtualDevice::StarvedPeriods() {
    return device.starved;
}

uint64_t VirtualDevice::LogLines() {
    return device.LogLines();
}

void VirtualDevice::CaptureInto(std::vector<int16_t>* samples) {
    device.capture = samples;
}

} // namespace zvscenario
