#include "EngineAudioThread.h"

#include "ZVSimulatedDevice.h"

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
    uint64_t burst = std::max<uint32_t>(cadence.burstBlocks, 1);
    uint64_t burstOrigin = 0; // block from which the current burst pattern counts
    double jitterMs = cadence.jitterMs;
    // A fixed seed: the same command line plays the same lateness again.
    std::mt19937 random(20240611u);
    std::uniform_real_distribution<double> lateness(0.0, jitterMs / 1000.0 / speed);
    auto nextChange = cadence.targetChanges.begin();
    auto nextBurst = cadence.burstChanges.begin();
    auto nextJitter = cadence.jitterChanges.begin();
    auto nextHitch = cadence.hitches.begin();
    auto nextStall = cadence.deviceStalls.begin();
    const Clock::time_point start = Clock::now();

    std::size_t frame = 0;
    for (uint64_t index = 0; frame < totalFrames && !stopRequested; ++index) {
        // Block `index` is due at this time of the programme.
        const double programmeSeconds = static_cast<double>(frame) / sampleRate;
        for (; nextBurst != cadence.burstChanges.end() && nextBurst->atSeconds <= programmeSeconds;
             ++nextBurst) {
            burst = static_cast<uint64_t>(nextBurst->value);
            burstOrigin = index;
        }
        for (;
             nextJitter != cadence.jitterChanges.end() && nextJitter->atSeconds <= programmeSeconds;
             ++nextJitter) {
            jitterMs = nextJitter->value;
            lateness.param(decltype(lateness)::param_type(0.0, jitterMs / 1000.0 / speed));
        }
        for (; nextStall != cadence.deviceStalls.end() && nextStall->atSeconds <= programmeSeconds;
             ++nextStall) {
            ZVSimStallDevice(nextStall->value / 1000.0);
        }
        // Deadlines count from the start, so neither a late wake-up nor the
        // lateness drawn for one block delays the rest. A burst is due at the
        // period of its first block.
        std::chrono::duration<double> due =
            blockPeriod * static_cast<double>(burstOrigin + (index - burstOrigin) / burst * burst);
        if (jitterMs > 0.0) {
            due += std::chrono::duration<double>(lateness(random));
        }
        std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(due));
        // A hitch holds the thread up; the blocks due meanwhile follow at once, their
        // deadlines past.
        for (; nextHitch != cadence.hitches.end() && nextHitch->atSeconds <= programmeSeconds;
             ++nextHitch) {
            std::this_thread::sleep_for(
                std::chrono::duration<double>(nextHitch->value / 1000.0 / speed));
        }

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
