#include "VirtualDevice.h"

#include "ZVUnityNativeLogging.h"

#include <cstdarg>
#include <cstdio>

namespace {

constexpr uint32_t kBuffersInFlight = 3;

struct DeviceState {
    ZVAudioBufferCallback callback = nullptr;
    void* context = nullptr;
    ZVSoundHandle handle = kInvalidSoundHandle;
    ZVSoundHandle nextHandle = 1;
    bool started = false;
    bool firstTick = true;
    uint32_t framesPerBuffer = 1024;
    uint32_t channels = 2;
    // kBuffersInFlight buffers; the oldest released one plays next.
    std::vector<int16_t> buffers;
    uint32_t oldest = 0;
    bool lent = false;
    uint32_t queued = 0;
    uint64_t starved = 0;
    uint64_t logLines = 0;
    std::vector<int16_t>* capture = nullptr;
};

DeviceState device;

} // namespace

namespace zvscenario {

VirtualDevice::Played VirtualDevice::Play() {
    if (!device.started) {
        return Played{nullptr, 0, false};
    }
    if (device.firstTick) {
        device.firstTick = false;
        return Played{nullptr, 0, false};
    }
    const uint32_t samples = device.framesPerBuffer * device.channels;
    Played played{nullptr, samples, device.queued == 0};
    if (played.starved) {
        ++device.starved;
        if (device.capture != nullptr) {
            device.capture->insert(device.capture->end(), samples, int16_t{0});
        }
        return played;
    }
    played.samples = device.buffers.data() + size_t{device.oldest} * samples;
    if (device.capture != nullptr) {
        device.capture->insert(device.capture->end(), played.samples, played.samples + samples);
    }
    device.oldest = (device.oldest + 1) % kBuffersInFlight;
    --device.queued;
    return played;
}

void VirtualDevice::Request() {
    if (device.started && device.callback != nullptr) {
        device.callback(device.handle, device.context);
    }
}

uint64_t VirtualDevice::StarvedPeriods() {
    return device.starved;
}

uint64_t VirtualDevice::LogLines() {
    return device.logLines;
}

void VirtualDevice::CaptureInto(std::vector<int16_t>* samples) {
    device.capture = samples;
}

} // namespace zvscenario

extern "C" {

ZVResult ZVAudioGetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate,
                                          float /*formatHint*/, AudioBufferFormat* outFormat,
                                          uint32_t* outRecommendedSize, uint32_t* outMinimumSize) {
    *outFormat = AudioBufferFormat{channelCount, sampleRate, 16, 0};
    *outRecommendedSize = 1024;
    *outMinimumSize = 256;
    return kResultOk;
}

ZVResult ZVAudioCreateSoundWithBufferedOutput(const AudioBufferFormat* format, uint32_t bufferSize,
                                              ZVAudioBufferCallback callback, void* context,
                                              ZVSoundHandle* outHandle) {
    device.callback = callback;
    device.context = context;
    device.handle = device.nextHandle++;
    device.framesPerBuffer = bufferSize == 0 ? 1024 : bufferSize;
    device.channels = format->channelCount;
    device.buffers.assign(size_t{device.framesPerBuffer} * device.channels * kBuffersInFlight, 0);
    device.oldest = 0;
    device.started = false;
    device.firstTick = true;
    device.lent = false;
    device.queued = 0;
    device.starved = 0;
    *outHandle = device.handle;
    return kResultOk;
}

ZVResult ZVAudioStartSound(ZVSoundHandle /*handle*/) {
    device.started = true;
    return kResultOk;
}

ZVResult ZVAudioStopSound(ZVSoundHandle /*handle*/) {
    device.started = false;
    return kResultOk;
}

ZVResult ZVAudioDestroySound(ZVSoundHandle /*handle*/) {
    device.started = false;
    device.callback = nullptr;
    device.handle = kInvalidSoundHandle;
    return kResultOk;
}

ZVResult ZVAudioGetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) {
    if (handle != device.handle || device.lent || device.queued >= kBuffersInFlight) {
        return kResultBufferNotReady;
    }
    device.lent = true;
    const size_t samples = size_t{device.framesPerBuffer} * device.channels;
    outBuffer->data =
        device.buffers.data() + (device.oldest + device.queued) % kBuffersInFlight * samples;
    outBuffer->size = static_cast<uint32_t>(samples * sizeof(int16_t));
    return kResultOk;
}

ZVResult ZVAudioReleaseOutputBuffer(ZVSoundHandle /*handle*/) {
    device.lent = false;
    ++device.queued;
    return kResultOk;
}

const char* ZVAudioGetResultString(ZVResult result) {
    return result == kResultOk ? "OK" : "not ready";
}

} // extern "C"

namespace zv {

void ZVUnityNativeLogging::Log(ZVUnityNativeLogLevel /*level*/, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    ++device.logLines;
    std::fprintf(stderr, "plug-in log: %s\n", line);
}

} // namespace zv
