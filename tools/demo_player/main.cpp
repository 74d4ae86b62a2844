// zv_demo_player: plays a WAV file or a test chord through the plug-in into the
// simulated device, the way the engine drives it, and reports what happened.
#include "DemoOptions.h"
#include "EngineAudioThread.h"
#include "LatencyTimeline.h"
#include "PluginLibrary.h"
#include "ProgressBar.h"
#include "SharedLibrary.h"
#include "TestSignal.h"
#include "ToneMeter.h"
#include "WavFile.h"
#include "ZVSimulatedDevice.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace zvdemo;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Programme {
    std::vector<float> samples;
    uint32_t channels = 0;
    uint32_t sampleRate = 0;
    std::string description;

    double Seconds() const {
        return channels == 0 ? 0.0 : static_cast<double>(samples.size() / channels) / sampleRate;
    }
};

double Milliseconds(double samples, const Programme& programme) {
    return samples / programme.channels / programme.sampleRate * 1000.0;
}

std::string Absolute(const std::string& path) {
    std::error_code failure;
    const std::filesystem::path absolute = std::filesystem::absolute(path, failure);
    return failure ? path : absolute.string();
}

bool LoadProgramme(const DemoOptions& options, Programme& programme) {
    if (options.toneHz != 0.0) {
        programme.samples = TestSignal::Tone(options.toneHz, options.seconds);
        programme.channels = TestSignal::kChannels;
        programme.sampleRate = TestSignal::kSampleRate;
        char text[96];
        std::snprintf(text, sizeof text, "built-in tone (%g Hz sine, stereo, -1 dBFS)",
                      options.toneHz);
        programme.description = text;
        return true;
    }
    if (options.inputPath.empty()) {
        programme.samples = TestSignal::Chord(options.seconds);
        programme.channels = TestSignal::kChannels;
        programme.sampleRate = TestSignal::kSampleRate;
        programme.description =
            std::string("built-in test signal (") + TestSignal::Description() + ")";
        return true;
    }
    WavFile file;
    if (!file.Read(options.inputPath)) {
        std::fprintf(stderr, "error: %s\n", file.Error().c_str());
        return false;
    }
    programme.samples = file.Samples();
    programme.channels = file.Channels();
    programme.sampleRate = file.SampleRate();
    programme.description = options.inputPath + " (" + file.Encoding() + ")";
    return true;
}

// Lets the device play what is still queued, so the recording ends with the
// input rather than cutting it off. False when the queue does not empty in time.
bool Drain(const PluginExports& exports, const Programme& programme, double speed,
           ZVAudioOutputStats& stats) {
    const double queuedSeconds =
        static_cast<double>(stats.queuedSamples) / programme.channels / programme.sampleRate;
    const auto limit = std::chrono::steady_clock::now() +
                       std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(3.0 * queuedSeconds / speed + 2.0));
    while (exports.getAudioOutputStats(&stats) && stats.queuedSamples > 0) {
        if (std::chrono::steady_clock::now() > limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void PrintReport(const ZVAudioOutputStats& stats, const ZVSimDeviceStats& device,
                 const EngineAudioThread::QueueDepth& depth, const Programme& programme) {
    const auto line = [](const char* label, uint64_t value, const std::string& note = "") {
        std::printf("  %-30s %12llu%s\n", label, static_cast<unsigned long long>(value),
                    note.empty() ? "" : ("  " + note).c_str());
    };
    const auto ms = [&programme](uint64_t samples) {
        char text[48];
        std::snprintf(text, sizeof text, "(%.1f ms)",
                      Milliseconds(static_cast<double>(samples), programme));
        return std::string(text);
    };

    std::printf("\nPlug-in statistics\n");
    // samplesQueued counts what reached the ring: with latency control on, the
    // samples after the rate correction, not the programme's own.
    line("samples into the ring", stats.samplesQueued, ms(stats.samplesQueued));
    line("samples played", stats.samplesDelivered, ms(stats.samplesDelivered));
    line("silence padded", stats.silenceSamples, ms(stats.silenceSamples));
    line("overwritten / dropped", stats.samplesDropped, ms(stats.samplesDropped));
    line("still queued", stats.queuedSamples);
    line("buffers filled", stats.buffersFilled);
    line("requests deferred (ring empty)", stats.requestsDeferred);
    line("samples without a stream", stats.samplesWithoutStream);
    line("ring capacity", stats.ringCapacity, ms(stats.ringCapacity));

    const double average = depth.count == 0 ? 0.0 : depth.sum / static_cast<double>(depth.count);
    std::printf("  %-30s min %.1f ms, avg %.1f ms, max %.1f ms over %llu blocks\n",
                "queue depth (latency)",
                Milliseconds(static_cast<double>(depth.minimum), programme),
                Milliseconds(average, programme),
                Milliseconds(static_cast<double>(depth.maximum), programme),
                static_cast<unsigned long long>(depth.count));

    std::printf("\nSimulated device\n");
    line("buffer requests issued", device.requestsIssued);
    line("buffers played", device.buffersPlayed);
    line("samples played", device.samplesPlayed);
    line("silent samples played", device.silentSamples);
    line("fetches not ready", device.fetchesNotReady);
    line("starved periods", device.starvedPeriods, "(includes start-up and run-out)");
}

// Whether the ring held what the cadence needed at the end of the run, and the
// ring that would have.
void PrintLimits(const ZVAudioOutputLatencyLimits& limits, uint64_t limitedReadings,
                 uint64_t readings) {
    if (limits.neededSamples == 0) {
        return; // control was off at the end
    }
    std::printf("  %s by the ring: needs %.0f ms, ring allows %.0f ms; a ring of %llu s %s\n",
                limits.limitedByRing != 0 ? "limited" : "not limited", limits.neededMilliseconds,
                limits.limitMilliseconds,
                static_cast<unsigned long long>(limits.fittingRingSeconds),
                limits.limitedByRing != 0 ? "would fit" : "fits");
    if (limitedReadings > 0) {
        std::printf("  limited by the ring in %llu of %llu readings during the run\n",
                    static_cast<unsigned long long>(limitedReadings),
                    static_cast<unsigned long long>(readings));
    }
}

// Where the tone's measurement starts when --sinad-from is not given: the
// last two minutes of a long run, else after the start has settled.
double DefaultSinadFrom(double seconds) {
    return seconds >= 150.0 ? seconds - 120.0 : std::min(30.0, seconds / 2.0);
}

void PrintToneQuality(const WavFile& recording, const DemoOptions& options,
                      const Programme& programme) {
    const double from = options.sinadFromSeconds >= 0.0 ? options.sinadFromSeconds
                                                        : DefaultSinadFrom(programme.Seconds());
    // Up to the tone's fade-out. Audio cut by latency control or dropped
    // brings it forward in the recording, so it is found from the end of
    // what was played rather than from the programme's length.
    const std::vector<float>& played = recording.Samples();
    const auto lastSound =
        std::find_if(played.rbegin(), played.rend(), [](float value) { return value != 0.0f; });
    const double playedSeconds = static_cast<double>(played.rend() - lastSound) /
                                 recording.Channels() / recording.SampleRate();
    const double to = std::min(programme.Seconds(), playedSeconds) - TestSignal::kFadeSeconds;
    const ToneMeter::Result tone =
        ToneMeter::Measure(recording.Samples(), recording.Channels(), recording.SampleRate(),
                           options.toneHz, from, to);
    std::printf("\nTone %g Hz as played, %.0f ms windows, four-parameter sine fit per channel\n",
                options.toneHz, ToneMeter::kWindowSeconds * 1000.0);
    if (tone.windows == 0) {
        std::printf("  not measured: no whole window between %.2f s and %.2f s of the recording\n",
                    from, to);
        return;
    }
    std::printf("  measured %.2f s to %.2f s of the recording (%llu windows)\n", tone.fromSeconds,
                tone.toSeconds, static_cast<unsigned long long>(tone.windows));
    std::printf("  SINAD worst window %.1f dB (at %.2f s), overall %.1f dB\n", tone.worstSinadDb,
                tone.worstAtSeconds, tone.overallSinadDb);
}

int Run(const DemoOptions& options) {
    Programme programme;
    if (!LoadProgramme(options, programme)) {
        return kExitFailure;
    }
    if (programme.samples.empty()) {
        std::fprintf(stderr, "error: the input holds no audio\n");
        return kExitFailure;
    }

    const std::string pluginPath =
        options.pluginPath.empty()
            ? SharedLibrary::ExecutableDirectory() + "/" + PluginLibrary::DefaultFileName()
            : options.pluginPath;
    const std::string outputPath =
        Absolute(options.outputPath.empty() ? "demo_output.wav" : options.outputPath);

    PluginLibrary plugin;
    if (!plugin.Load(pluginPath)) {
        std::fprintf(stderr, "error: %s\n", plugin.Error().c_str());
        return kExitFailure;
    }
    const PluginExports& exports = plugin.Exports();

    std::printf("Plug-in:  %s\n", Absolute(pluginPath).c_str());
    std::printf("Input:    %s\n", programme.description.c_str());
    std::printf("          %.2f s, %u channel(s), %u Hz\n", programme.Seconds(), programme.channels,
                programme.sampleRate);
    std::printf("Device:   buffer %u frames, clock x%g, drift %+g ppm, ring %u s\n",
                options.deviceBufferFrames, options.speed, options.driftPpm, options.bufferSeconds);
    std::printf("Engine:   blocks of %u frames", EngineAudioThread::kBlockFrames);
    if (options.burstBlocks > 1) {
        std::printf(", %u back to back every %u periods", options.burstBlocks, options.burstBlocks);
    }
    if (options.jitterMs > 0.0) {
        std::printf(", each up to %g ms late", options.jitterMs);
    }
    for (const CadenceEvent& change : options.burstChanges) {
        std::printf("; from %g s %g at a time", change.atSeconds, change.value);
    }
    for (const CadenceEvent& change : options.jitterChanges) {
        std::printf("; from %g s up to %g ms late", change.atSeconds, change.value);
    }
    for (const CadenceEvent& hitch : options.hitches) {
        std::printf("; a %g ms hitch at %g s, then catching up", hitch.value, hitch.atSeconds);
    }
    std::printf("\n");
    for (const CadenceEvent& stall : options.deviceStalls) {
        std::printf("          device thread stalls %g ms at %g s\n", stall.value, stall.atSeconds);
    }
    const bool controlUsed =
        options.latencyTargetMs != 0 ||
        std::any_of(options.targetChanges.begin(), options.targetChanges.end(),
                    [](const TargetChange& change) { return change.milliseconds != 0; });
    if (options.latencyTargetMs != 0) {
        std::printf("Latency:  control on, target %u ms", options.latencyTargetMs);
    } else {
        std::printf("Latency:  control off");
    }
    for (const TargetChange& change : options.targetChanges) {
        std::printf(", %u ms at %g s", change.milliseconds, change.atSeconds);
    }
    std::printf("\n");

    ZVSimSetSpeedFactor(options.speed);
    ZVSimSetClockDriftPpm(options.driftPpm);
    ZVSimResetDeviceStats();
    ZVSimSetRecordingPath(outputPath.c_str());

    if (!exports.createAudioOutput()) {
        std::fprintf(stderr, "error: CreateAudioOutput refused (an instance exists already)\n");
        return kExitFailure;
    }
    // Before the stream opens, so the target applies from its first block.
    exports.setAudioOutputLatencyTarget(options.latencyTargetMs);
    exports.createOutputBuffer(options.deviceBufferFrames, programme.channels, programme.sampleRate,
                               0, 0, 0.0f, options.bufferSeconds);
    ZVAudioOutputStats stats{};
    if (!exports.getAudioOutputStats(&stats) || stats.ringCapacity == 0) {
        std::fprintf(stderr, "error: the plug-in could not open a stream on the device\n");
        exports.destroyAudioOutput();
        ZVSimSetRecordingPath(nullptr);
        return kExitFailure;
    }

    EngineAudioThread engine(
        exports, programme.samples, programme.channels, programme.sampleRate, options.speed,
        EngineAudioThread::Cadence{options.burstBlocks, options.jitterMs, options.targetChanges,
                                   options.burstChanges, options.jitterChanges, options.hitches,
                                   options.deviceStalls});
    ProgressBar progress(programme.Seconds());
    LatencyTimeline timeline(programme.Seconds(), 10);
    ZVAudioOutputLatencyStats latency{};
    ZVAudioOutputLatencyLimits limits{};
    uint64_t limitedReadings = 0; // progress readings that found control limited by the ring
    uint64_t readings = 0;
    const auto pushedSeconds = [&engine, &programme] {
        return static_cast<double>(engine.FramesPushed()) / programme.sampleRate;
    };
    const auto sample = [&] {
        exports.getAudioOutputLatencyStats(&latency);
        exports.getAudioOutputLatencyLimits(&limits, sizeof limits);
        limitedReadings += limits.limitedByRing;
        ++readings;
        const double queueMs =
            Milliseconds(static_cast<double>(engine.LastQueuedSamples()), programme);
        timeline.Sample(pushedSeconds(), queueMs, latency.depthMilliseconds, latency.correctionPpm);
        char text[64];
        if (controlUsed) {
            std::snprintf(text, sizeof text, "depth %6.1f ms %+6.0f ppm", latency.depthMilliseconds,
                          latency.correctionPpm);
        } else {
            std::snprintf(text, sizeof text, "queue %6.1f ms", queueMs);
        }
        return std::string(text);
    };

    engine.Start();
    while (!engine.Finished()) {
        progress.Update(pushedSeconds(), sample());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    engine.Join();
    progress.Finish(pushedSeconds(), sample());
    const ZVAudioOutputLatencyLimits limitsAtEnd = limits;

    exports.getAudioOutputStats(&stats);
    const bool drained = !engine.Failed() && Drain(exports, programme, options.speed, stats);
    exports.destroyAudioOutput();
    ZVSimFinishRecording();
    ZVSimSetRecordingPath(nullptr);

    ZVSimDeviceStats device{};
    ZVSimGetDeviceStats(&device);
    PrintReport(stats, device, engine.Depth(), programme);
    timeline.Print(controlUsed);
    if (controlUsed) {
        std::printf("  host samples %llu, handed to the ring %llu, removed at once %llu, "
                    "silence inserted %llu\n",
                    static_cast<unsigned long long>(latency.hostSamples),
                    static_cast<unsigned long long>(latency.ringSamples),
                    static_cast<unsigned long long>(latency.samplesRemoved),
                    static_cast<unsigned long long>(latency.samplesInserted));
    }
    if (controlUsed) {
        PrintLimits(limitsAtEnd, limitedReadings, readings);
    }
    for (const EngineAudioThread::AppliedChange& change : engine.Changes()) {
        std::printf("  target set to %u ms at %.2f s of audio; the call took %.3f ms\n",
                    change.milliseconds, change.programmeSeconds, change.callMilliseconds);
    }

    bool ok = true;
    const bool balanced =
        stats.samplesQueued == stats.samplesDelivered + stats.samplesDropped + stats.queuedSamples;
    std::printf("\nAccounting (into the ring = played + dropped + queued): %s\n",
                balanced ? "balanced" : "MISMATCH");
    ok = ok && balanced;
    if (engine.Failed()) {
        std::fprintf(stderr, "error: the plug-in refused a block or a call\n");
        ok = false;
    } else if (!drained) {
        std::fprintf(stderr, "error: the queue did not drain; is the device running?\n");
        ok = false;
    }

    WavFile recording;
    if (recording.Read(outputPath)) {
        std::printf("Recording: %s (%.2f s, %u channel(s), %u Hz)\n", outputPath.c_str(),
                    static_cast<double>(recording.Frames()) / recording.SampleRate(),
                    recording.Channels(), recording.SampleRate());
        if (options.toneHz != 0.0) {
            PrintToneQuality(recording, options, programme);
        }
    } else {
        std::fprintf(stderr, "error: no recording: %s\n", recording.Error().c_str());
        ok = false;
    }
    return ok ? 0 : kExitFailure;
}

} // namespace

int main(int argc, char** argv) {
    DemoOptions options;
    std::string error;
    if (!DemoOptions::Parse(argc, argv, options, error)) {
        std::fprintf(stderr, "error: %s\n\n%s", error.c_str(),
                     DemoOptions::Usage("zv_demo_player").c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::printf("%s", DemoOptions::Usage("zv_demo_player").c_str());
        return 0;
    }
    try {
        return Run(options);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "error: %s\n", failure.what());
        return kExitFailure;
    }
}
