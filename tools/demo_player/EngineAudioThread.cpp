#include "EngineAudioThread.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <utility>

namespace zvdemo {

EngineAudioThread::EngineAudioThread(const PluginExports& pluginExports,
                                     const std::vector<float>& programme, uint32_t channelCount,
                                     uint32_t rate, double speedFactor, Cadence blockCadence)
    : exports(pluginExports), samples(programme), channels(channelCount), sampleRate(rate),
      speed(speedFactor), cadence(std::move(blockCadence)),
      block(std::size_t{kBlockFrames} * channelCount) {
    applied.reserve(cadence.targetChanges.size());
}

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
    const uint64_t burst = std::max<uint32_t>(cadence.burstBlocks, 1);
    // A fixed seed: the same command line plays the same lateness again.
    std::mt19937 random(20240611u);
    std::uniform_real_distribution<double> lateness(0.0, cadence.jitterMs / 1000.0 / speed);
    auto nextChange = cadence.targetChanges.begin();
    const Clock::time_point start = Clock::now();

    std::size_t frame = 0;
    for (uint64_t index = 0; frame < totalFrames && !stopRequested; ++index) {
        // Deadlines count from the start, so neither a late wake-up nor the
        // lateness drawn for one block delays the rest. A burst is due at the
        // period of its first block.
        std::chrono::duration<double> due =
            blockPeriod * static_cast<double>(index / burst * burst);
        if (cadence.jitterMs > 0.0) {
            due += std::chrono::duration<double>(lateness(random));
        }
        std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(due));

        const double programmeSeconds = static_cast<double>(frame) / sampleRate;
        for (;
             nextChange != cadence.targetChanges.end() && nextChange->atSeconds <= programmeSeconds;
             ++nextChange) {
            const Clock::time_point before = Clock::now();
            if (!exports.setAudioOutputLatencyTarget(nextChange->milliseconds)) {
                failed = true;
            }
            const std::chrono::duration<double, std::milli> took = Clock::now() - before;
            applied.push_back({programmeSeconds, nextChange->milliseconds, took.count()});
        }

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
