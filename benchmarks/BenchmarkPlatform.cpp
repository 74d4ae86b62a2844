#include "BenchmarkPlatform.h"

#include "CacheLineAllocator.h"
#include "ZVUnityNativeLogging.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

struct PlatformState {
    ZVAudioBufferCallback callback = nullptr;
    void* context = nullptr;
    ZVSoundHandle handle = kInvalidSoundHandle;
    ZVSoundHandle nextHandle = 1;
    // Lent on a cache-line boundary, as the ring's storage and the yardsticks' buffers are.
    zvaudio::CacheLineSamples buffer = zvaudio::CacheLineSamples(2048);
    uint64_t logLines = 0;
};

// A plain global rather than a function-local static: no guard check on the
// fetch and release that the request path times.
PlatformState platformState;

PlatformState& State() {
    return platformState;
}

} // namespace

namespace zvbench {

void BenchmarkPlatform::SetBufferBytes(uint32_t bytes) {
    State().buffer.assign((bytes + 1) / 2, 0);
}

void BenchmarkPlatform::RaiseRequest() {
    PlatformState& state = State();
    if (state.callback != nullptr) {
        state.callback(state.handle, state.context);
    }
}

ZVSoundHandle BenchmarkPlatform::CurrentHandle() {
    return State().handle;
}

uint64_t BenchmarkPlatform::LogLines() {
    return State().logLines;
}

} // namespace zvbench

extern "C" {

ZVResult ZVAudioGetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate,
                                          float /*formatHint*/, AudioBufferFormat* outFormat,
                                          uint32_t* outRecommendedSize, uint32_t* outMinimumSize) {
    *outFormat = AudioBufferFormat{channelCount, sampleRate, 16, 0};
    *outRecommendedSize = static_cast<uint32_t>(State().buffer.size() * sizeof(int16_t));
    *outMinimumSize = *outRecommendedSize;
    return kResultOk;
}

ZVResult ZVAudioCreateSoundWithBufferedOutput(const AudioBufferFormat* /*format*/,
                                              uint32_t /*bufferSize*/,
                                              ZVAudioBufferCallback callback, void* context,
                                              ZVSoundHandle* outHandle) {
    PlatformState& state = State();
    state.callback = callback;
    state.context = context;
    state.handle = state.nextHandle++;
    *outHandle = state.handle;
    return kResultOk;
}

ZVResult ZVAudioStartSound(ZVSoundHandle /*handle*/) {
    return kResultOk;
}

ZVResult ZVAudioStopSound(ZVSoundHandle /*handle*/) {
    return kResultOk;
}

ZVResult ZVAudioDestroySound(ZVSoundHandle handle) {
    PlatformState& state = State();
    if (handle == state.handle) {
        state.callback = nullptr;
        state.context = nullptr;
        state.handle = kInvalidSoundHandle;
    }
    return kResultOk;
}

ZVResult ZVAudioGetOutputBuffer(ZVSoundHandle /*handle*/, AudioOutputBuffer* outBuffer) {
    PlatformState& state = State();
    outBuffer->data = state.buffer.data();
    outBuffer->size = static_cast<uint32_t>(state.buffer.size() * sizeof(int16_t));
    return kResultOk;
}

ZVResult ZVAudioReleaseOutputBuffer(ZVSoundHandle /*handle*/) {
    return kResultOk;
}

const char* ZVAudioGetResultString(ZVResult result) {
    return result == kResultOk ? "OK" : "FAILURE";
}

} // extern "C"

namespace zv {

void ZVUnityNativeLogging::Log(ZVUnityNativeLogLevel /*level*/, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    ++State().logLines;
    std::fprintf(stderr, "plug-in log: %s\n", line);
}

} // namespace zv
