#include "EngineAudioThread.h"

#include <algorithm>
#include <chrono>

namespace zvdemo {

EngineAudioThread::EngineAudioThread(const PluginExports& pluginExports,
                                     const std::vector<float>& programme, uint32_t channelCount,
                                     uint32_t rate, double speedFactor)
    : exports(pluginExports), samples(programme), channels(channelCount), sampleRate(rate),
      speed(speedFactor), block(std::size_t{kBlockFrames} * channelCount) {}

EngineAudioThread::~EngineAudioThread() {
    stopRequested = true;
    Join();
}

void EngineAudioThread::Start() {
    thread = std::thread(&EngineAudioThread::Run, this);
}

void EngineAudioThread::Join() {
    if (thread.joinable()) {
        thread.join();
    }
}

void EngineAudioThread::Run() {
    using Clock = std::chrono::steady_clock;
    const std::size_t totalFrames = samples.size() / channels;
    const std::chrono::duration<double> blockPeriod(static_cast<double>(kBlockFrames) / sampleRate /
                                                    speed);
    const Clock::time_point start = Clock::now();

    std::size_t frame = 0;
    for (uint64_t index = 0; frame < totalFrames && !stopRequested; ++index) {
        // Deadlines count from the start, so a late wake-up does not delay the rest.
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<Clock::duration>(blockPeriod * index));

        const std::size_t frames = std::min<std::size_t>(kBlockFrames, totalFrames - frame);
        const std::size_t count = frames * channels;
        std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(frame * channels), count,
                    block.begin());
        ZVAudioOutputStats stats{};
        if (!exports.onUnityAudio(block.data(), static_cast<int32_t>(count)) ||
            !exports.getAudioOutputStats(&stats)) {
            failed = true;
            break;
        }
        frame += frames;
        framesPushed = frame;
        lastQueued = stats.queuedSamples;

        depth.minimum =
            depth.count == 0 ? stats.queuedSamples : std::min(depth.minimum, stats.queuedSamples);
        depth.maximum = std::max(depth.maximum, stats.queuedSamples);
        depth.sum += static_cast<double>(stats.queuedSamples);
        ++depth.count;
    }
    finished = true;
}

} // namespace zvdemo
