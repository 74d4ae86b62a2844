// Stands in for the engine's audio thread: hands the programme to the plug-in
// in blocks of kBlockFrames at the pace of the device clock, one per period or
// in bursts, on time or late at random, and changes the latency target, the
// cadence, or holds itself or the device up when the programme reaches the
// times asked for.
#pragma once

#include "DemoOptions.h"
#include "PluginLibrary.h"

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace zvdemo {

class EngineAudioThread {
public:
    static constexpr uint32_t kBlockFrames = 1024;

    // Queue depth (samples waiting in the plug-in's ring) seen right after each block.
    struct QueueDepth {
        uint64_t minimum = 0;
        uint64_t maximum = 0;
        double sum = 0.0;
        uint64_t count = 0;
    };

    // How the engine hands the blocks over.
    struct Cadence {
        uint32_t burstBlocks = 1;                // blocks back to back, every burstBlocks periods
        double jitterMs = 0.0;                   // each block up to this late, in programme time
        std::vector<TargetChange> targetChanges; // in time order
        // Each in time order; see DemoOptions.
        std::vector<CadenceEvent> burstChanges;
        std::vector<CadenceEvent> jitterChanges;
        std::vector<CadenceEvent> hitches;
        std::vector<CadenceEvent> deviceStalls;
    };

    // A target change as it was made.
    struct AppliedChange {
        double programmeSeconds; // audio handed over before the call
        uint32_t milliseconds;
        double callMilliseconds; // wall-clock time the export took
    };

    // `samples` (interleaved) must outlive the thread. `speed` scales the
    // pace, the lateness included, exactly as it scales the device clock.
    EngineAudioThread(const PluginExports& exports, const std::vector<float>& samples,
                      uint32_t channels, uint32_t sampleRate, double speed, Cadence cadence);
    // Stops early if still running and joins.
    ~EngineAudioThread();
    EngineAudioThread(const EngineAudioThread&) = delete;
    EngineAudioThread& operator=(const EngineAudioThread&) = delete;

    void Start();
    void Join();
    bool Finished() const { return finished.load(); }

    uint64_t FramesPushed() const { return framesPushed.load(); }
    uint64_t LastQueuedSamples() const { return lastQueued.load(); }
    // True when the plug-in refused a block, its statistics or a target.
    bool Failed() const { return failed.load(); }
    // Complete once Join has returned.
    const QueueDepth& Depth() const { return depth; }
    const std::vector<AppliedChange>& Changes() const { return applied; }

private:
    void Run();

    const PluginExports& exports;
    const std::vector<float>& samples;
    const uint32_t channels;
    const uint32_t sampleRate;
    const double speed;
    const Cadence cadence;

    std::vector<float> block;
    std::vector<AppliedChange> applied;
    QueueDepth depth;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> failed{false};
    std::atomic<uint64_t> framesPushed{0};
    std::atomic<uint64_t> lastQueued{0};
    std::thread thread;
};

} // namespace zvdemo
