#include "SimulatedDevice.h"

#include "SimulatedStream.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace zvsim {

namespace {

constexpr double kMinimumSpeedFactor = 0.01;
constexpr double kMaximumSpeedFactor = 10000.0;

using zvplatform::PlatformCall;

bool IsValidLayout(uint32_t channelCount, uint32_t sampleRate) {
    return channelCount >= 1 && channelCount <= SimulatedDevice::kMaximumChannels &&
           sampleRate >= 1 && sampleRate <= SimulatedDevice::kMaximumSampleRate;
}

} // namespace

SimulatedDevice::SimulatedDevice() {
    ReadEnvironment();
}

SimulatedDevice::~SimulatedDevice() {
    auto remaining = [this] {
        std::lock_guard<std::mutex> lock(streamsMutex);
        return streams.TakeAll();
    }();
    for (auto& entry : remaining) {
        if (entry.second) {
            entry.second->Shutdown();
        }
    }
    remaining.clear();
    recorder.Stop();
}

void SimulatedDevice::ReadEnvironment() {
    if (const char* path = std::getenv("ZV_SIM_WAV"); path != nullptr && *path != '\0') {
        recorder.Start(path);
    }
    if (const char* speed = std::getenv("ZV_SIM_SPEED"); speed != nullptr && *speed != '\0') {
        char* end = nullptr;
        const double factor = std::strtod(speed, &end);
        if (end != speed && *end == '\0' && factor >= kMinimumSpeedFactor &&
            factor <= kMaximumSpeedFactor) {
            SetSpeedFactor(factor);
        } else {
            std::fprintf(stderr, "simulated device: ignoring ZV_SIM_SPEED=%s (use %g to %g)\n",
                         speed, kMinimumSpeedFactor, kMaximumSpeedFactor);
        }
    }
    if (const char* drift = std::getenv("ZV_SIM_DRIFT_PPM"); drift != nullptr && *drift != '\0') {
        char* end = nullptr;
        const double ppm = std::strtod(drift, &end);
        if (end != drift && *end == '\0' && std::fabs(ppm) <= kMaximumDriftPpm) {
            SetClockDriftPpm(ppm);
        } else {
            std::fprintf(stderr, "simulated device: ignoring ZV_SIM_DRIFT_PPM=%s (use %g to %g)\n",
                         drift, -kMaximumDriftPpm, kMaximumDriftPpm);
        }
    }
    if (const char* buffers = std::getenv("ZV_SIM_BUFFERS");
        buffers != nullptr && *buffers != '\0') {
        char* end = nullptr;
        const unsigned long count = std::strtoul(buffers, &end, 10);
        if (end != buffers && *end == '\0' && count >= 1 && count <= kMaximumBuffersInFlight) {
            SetBuffersInFlight(static_cast<uint32_t>(count));
        } else {
            std::fprintf(stderr, "simulated device: ignoring ZV_SIM_BUFFERS=%s (use 1 to %u)\n",
                         buffers, kMaximumBuffersInFlight);
        }
    }
}

ZVResult SimulatedDevice::GetBufferedOutputDefaults(uint32_t channelCount, uint32_t sampleRate,
                                                    float /*formatHint*/,
                                                    AudioBufferFormat* outFormat,
                                                    uint32_t* outRecommendedSize,
                                                    uint32_t* outMinimumSize) {
    if (ZVResult injected = failures.Next(PlatformCall::GetBufferedOutputDefaults);
        injected != kResultOk) {
        return injected;
    }
    if (outFormat == nullptr || !IsValidLayout(channelCount, sampleRate)) {
        return kSimResultInvalidArgument;
    }
    outFormat->channelCount = channelCount;
    outFormat->sampleRate = sampleRate;
    outFormat->bitsPerSample = 16;
    outFormat->sampleFormat = 0;
    if (outRecommendedSize != nullptr) {
        *outRecommendedSize = kRecommendedFrames;
    }
    if (outMinimumSize != nullptr) {
        *outMinimumSize = kMinimumFrames;
    }
    return kResultOk;
}

ZVResult SimulatedDevice::CreateSound(const AudioBufferFormat* format, uint32_t bufferSize,
                                      ZVAudioBufferCallback callback, void* context,
                                      ZVSoundHandle* outHandle) {
    if (ZVResult injected = failures.Next(PlatformCall::CreateSoundWithBufferedOutput);
        injected != kResultOk) {
        return injected;
    }
    if (format == nullptr || callback == nullptr || outHandle == nullptr ||
        !IsValidLayout(format->channelCount, format->sampleRate) || format->bitsPerSample != 16 ||
        format->sampleFormat != 0 || bufferSize > kMaximumFrames) {
        return kSimResultInvalidArgument;
    }
    const uint32_t frames = bufferSize == 0 ? kRecommendedFrames : bufferSize;
    // The handle is taken first, with no stream behind it until the stream is built.
    ZVSoundHandle handle = kInvalidSoundHandle;
    {
        std::lock_guard<std::mutex> lock(streamsMutex);
        handle = streams.Add(nullptr);
    }
    std::shared_ptr<SimulatedStream> stream;
    try {
        stream = std::make_shared<SimulatedStream>(*this, handle, *format, frames,
                                                   buffersInFlight.load(), callback, context);
    } catch (...) {
        std::lock_guard<std::mutex> lock(streamsMutex);
        streams.Remove(handle);
        throw;
    }
    {
        std::lock_guard<std::mutex> lock(streamsMutex);
        *streams.Find(handle) = std::move(stream);
    }
    DeviceCounters::Increment(counters.streamsCreated);
    *outHandle = handle;
    return kResultOk;
}

ZVResult SimulatedDevice::StartSound(ZVSoundHandle handle) {
    if (ZVResult injected = failures.Next(PlatformCall::StartSound); injected != kResultOk) {
        return injected;
    }
    const auto stream = Find(handle);
    return stream ? stream->Start() : kSimResultInvalidHandle;
}

ZVResult SimulatedDevice::StopSound(ZVSoundHandle handle) {
    if (ZVResult injected = failures.Next(PlatformCall::StopSound); injected != kResultOk) {
        return injected;
    }
    const auto stream = Find(handle);
    return stream ? stream->Stop() : kSimResultInvalidHandle;
}

ZVResult SimulatedDevice::DestroySound(ZVSoundHandle handle) {
    if (ZVResult injected = failures.Next(PlatformCall::DestroySound); injected != kResultOk) {
        return injected;
    }
    std::shared_ptr<SimulatedStream> stream;
    {
        std::lock_guard<std::mutex> lock(streamsMutex);
        std::shared_ptr<SimulatedStream>* const found = streams.Find(handle);
        if (found == nullptr || !*found) {
            return kSimResultInvalidHandle;
        }
        // A stream cannot end itself from its own callback: the stop would wait for itself.
        if ((*found)->IsClockThread()) {
            return kSimResultInvalidState;
        }
        stream = std::move(*found);
        streams.Remove(handle);
    }
    stream->Shutdown();
    DeviceCounters::Increment(counters.streamsDestroyed);
    recorder.Complete();
    return kResultOk;
}

ZVResult SimulatedDevice::GetOutputBuffer(ZVSoundHandle handle, AudioOutputBuffer* outBuffer) {
    if (outBuffer == nullptr) {
        return kSimResultInvalidArgument;
    }
    // A failed fetch leaves an empty descriptor, never a stale pointer.
    outBuffer->data = nullptr;
    outBuffer->size = 0;
    if (ZVResult injected = failures.Next(PlatformCall::GetOutputBuffer); injected != kResultOk) {
        return injected;
    }
    const auto stream = Find(handle);
    return stream ? stream->FetchBuffer(outBuffer) : kSimResultInvalidHandle;
}

ZVResult SimulatedDevice::ReleaseOutputBuffer(ZVSoundHandle handle) {
    if (ZVResult injected = failures.Next(PlatformCall::ReleaseOutputBuffer);
        injected != kResultOk) {
        return injected;
    }
    const auto stream = Find(handle);
    return stream ? stream->ReleaseBuffer() : kSimResultInvalidHandle;
}

void SimulatedDevice::SetSpeedFactor(double factor) {
    if (std::isfinite(factor) && factor >= kMinimumSpeedFactor && factor <= kMaximumSpeedFactor) {
        speedFactor.store(factor, std::memory_order_relaxed);
    }
}

void SimulatedDevice::SetClockDriftPpm(double ppm) {
    if (std::isfinite(ppm) && std::fabs(ppm) <= kMaximumDriftPpm) {
        driftPpm.store(ppm, std::memory_order_relaxed);
    }
}

void SimulatedDevice::RequestStall(double seconds) {
    if (std::isfinite(seconds) && seconds >= 0.0 && seconds <= kMaximumStallSeconds) {
        pendingStall.store(seconds, std::memory_order_relaxed);
    }
}

void SimulatedDevice::SetBuffersInFlight(uint32_t count) {
    if (count >= 1 && count <= kMaximumBuffersInFlight) {
        buffersInFlight.store(count, std::memory_order_relaxed);
    }
}

void SimulatedDevice::SetPlaybackTap(ZVSimPlaybackTap newTap, void* context) {
    std::lock_guard<std::mutex> lock(tapMutex);
    tap = newTap;
    tapContext = context;
}

void SimulatedDevice::Play(ZVSoundHandle handle, const AudioBufferFormat& format,
                           const int16_t* samples, uint32_t count) {
    uint64_t silent = 0;
    for (uint32_t i = 0; i < count; ++i) {
        silent += samples[i] == 0 ? 1 : 0;
    }
    DeviceCounters::Increment(counters.buffersPlayed);
    DeviceCounters::Increment(counters.samplesPlayed, count);
    DeviceCounters::Increment(counters.silentSamples, silent);

    ZVSimPlaybackTap currentTap = nullptr;
    void* currentContext = nullptr;
    {
        std::lock_guard<std::mutex> lock(tapMutex);
        currentTap = tap;
        currentContext = tapContext;
    }
    if (currentTap != nullptr) {
        currentTap(handle, samples, count, currentContext);
    }
    recorder.Append(format.channelCount, format.sampleRate, samples, count);
}

std::shared_ptr<SimulatedStream> SimulatedDevice::Find(ZVSoundHandle handle) {
    std::lock_guard<std::mutex> lock(streamsMutex);
    const std::shared_ptr<SimulatedStream>* const found = streams.Find(handle);
    return found != nullptr ? *found : nullptr;
}

const char* SimulatedDevice::ResultString(ZVResult result) {
    switch (result) {
    case kResultOk: return "the call succeeded";
    case kResultBufferNotReady: return "no output buffer is free yet";
    case kSimResultInvalidHandle: return "the sound handle is unknown or was destroyed";
    case kSimResultInvalidArgument: return "an argument is null or out of range";
    case kSimResultInvalidState: return "the call is not allowed in the stream's current state";
    case kSimResultOutOfMemory: return "the device ran out of memory or threads";
    case kSimResultInjectedFailure: return "the call was made to fail on purpose";
    default: return "unknown result code";
    }
}

} // namespace zvsim
