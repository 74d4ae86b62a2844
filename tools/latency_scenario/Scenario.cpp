#include "Scenario.h"

#include "AudioOutput.h"
#include "SineFit.h"
#include "VirtualDevice.h"
#include "latency/SteeringClock.h"

#include <algorithm>
#include <cmath>

namespace zvscenario {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Unit phasor for the engine's sine, renormalised every block.
class SineSource {
public:
    explicit SineSource(uint32_t sampleRate)
        : stepRe(std::cos(2.0 * kPi * kSineHz / sampleRate)),
          stepIm(std::sin(2.0 * kPi * kSineHz / sampleRate)) {}

    void Fill(float* block, uint32_t frames) {
        for (uint32_t i = 0; i < frames; ++i) {
            const auto value = static_cast<float>(kSineAmplitude * im);
            block[2 * i] = value;
            block[2 * i + 1] = value;
            const double nextRe = re * stepRe - im * stepIm;
            im = re * stepIm + im * stepRe;
            re = nextRe;
        }
        const double norm = std::sqrt(re * re + im * im);
        re /= norm;
        im /= norm;
    }

private:
    double re = 1.0;
    double im = 0.0;
    const double stepRe;
    const double stepIm;
};

// splitmix64: the same sequence on every platform and standard library, which
// the distributions of <random> do not promise.
class Uniform {
public:
    explicit Uniform(uint64_t seed) : state(seed) {}

    // In [0, 1).
    double Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * 0x1.0p-53;
    }

private:
    uint64_t state;
};

// When each engine block is due: bursts, lateness on a kept schedule, changes of
// cadence, a hitch, a pause.
class EngineSchedule {
public:
    EngineSchedule(const ScenarioSettings& settings, double hostPeriod)
        : period(hostPeriod), burst(std::max<uint32_t>(settings.burstBlocks, 1)),
          lateness(settings.blockLatenessMs * 1e-3), steps(settings.cadenceSteps),
          hitchAt(settings.hitchAtSeconds),
          hitchEnd(settings.hitchAtSeconds + settings.hitchSeconds),
          pauseAt(settings.pauseSeconds > 0.0 ? settings.pauseAtSeconds : 1e300),
          pauseSeconds(settings.pauseSeconds), random(settings.seed) {}

    // The due time of the next block; each call moves on by one block.
    double Next() {
        // Pushes fall half a period after the device's requests at the start;
        // the drift then slides one against the other.
        const double nominal = (static_cast<double>(blocks) + 0.5) * period + shift;
        if (nominal >= pauseAt) {
            shift += pauseSeconds;
            pauseAt = 1e300;
        }
        while (nextStep < steps.size() && nominal >= steps[nextStep].atSeconds) {
            burst = std::max<uint32_t>(steps[nextStep].burstBlocks, 1);
            lateness = steps[nextStep].blockLatenessMs * 1e-3;
            base = blocks;
            ++nextStep;
        }
        const uint64_t burstStart = base + (blocks - base) / burst * burst;
        double due = (static_cast<double>(burstStart) + 0.5) * period + shift;
        if (lateness > 0.0) {
            due += lateness * random.Next();
        }
        if (due >= hitchAt && due < hitchEnd) {
            due = hitchEnd;
        }
        due = std::max(due, previous);
        previous = due;
        ++blocks;
        return due;
    }

private:
    const double period;
    uint32_t burst;
    double lateness;
    const std::vector<ScenarioSettings::CadenceStep> steps;
    size_t nextStep = 0;
    uint64_t base = 0; // the block that started the current cadence
    const double hitchAt;
    const double hitchEnd;
    double pauseAt;
    const double pauseSeconds;
    double shift = 0.0;
    Uniform random;
    uint64_t blocks = 0;
    double previous = 0.0;
};

// The played sine, window by window as it plays: its SINAD by a four-parameter fit and
// the largest step between neighbouring samples of a channel.
class WindowMeter {
public:
    WindowMeter(ScenarioResult& runResult, uint32_t sampleRate)
        : result(runResult), rate(sampleRate),
          frames(static_cast<size_t>(std::lround(sampleRate * kSineWindowSeconds))) {
        window.reserve(frames * kChannels);
    }

    void Add(const int16_t* samples, uint32_t count, double seconds) {
        for (uint32_t i = 0; i + kChannels <= count; i += kChannels) {
            if (window.empty()) {
                startSeconds = seconds + static_cast<double>(i / kChannels) / rate;
                step = 0.0;
            }
            for (uint32_t c = 0; c < kChannels; ++c) {
                const int16_t value = samples != nullptr ? samples[i + c] : int16_t{0};
                step = std::max(step, std::fabs(static_cast<double>(value) - last[c]));
                last[c] = value;
                window.push_back(value);
            }
            if (window.size() == frames * kChannels) {
                const zvtest::SineFitResult fit =
                    zvtest::FitSine(window.data(), frames, kChannels, kSineHz / rate);
                result.windowSeconds.push_back(startSeconds);
                result.windowSinadDb.push_back(static_cast<float>(fit.sinadDb));
                result.windowStep.push_back(static_cast<float>(step));
                window.clear();
            }
        }
    }

private:
    ScenarioResult& result;
    const uint32_t rate;
    const size_t frames;
    std::vector<int16_t> window;
    double startSeconds = 0.0;
    double step = 0.0;
    int16_t last[kChannels] = {};
};

// Watches the played output for steps and runs of digital silence. Outside
// the watched part it still follows the output, so that a run of silence is
// told from the lead-in and counted when any of it is watched.
class PlayedWatch {
public:
    explicit PlayedWatch(ScenarioResult& runResult) : result(runResult) {}

    void Add(const int16_t* samples, uint32_t count, double seconds, bool watched) {
        for (uint32_t i = 0; i + kChannels <= count; i += kChannels) {
            bool silent = true;
            for (uint32_t c = 0; c < kChannels; ++c) {
                silent = silent && (samples == nullptr || samples[i + c] == 0);
            }
            // A lead-in after a restart: its silence and the steps into and out of it.
            const bool leadIn = silent ? (silentFrames > 0 ? inLeadIn : seconds < leadInBy) : false;
            for (uint32_t c = 0; c < kChannels; ++c) {
                const int16_t value = samples != nullptr ? samples[i + c] : int16_t{0};
                if (started && watched && !leadIn && !inLeadIn) {
                    result.largestStep = std::max(result.largestStep,
                                                  std::fabs(static_cast<double>(value) - last[c]));
                }
                last[c] = value;
            }
            started = true;
            if (silent) {
                if (silentFrames++ == 0) {
                    silentSince = seconds;
                    inLeadIn = leadIn;
                }
                silentWatched = silentWatched || watched;
                continue;
            }
            EndRun();
            heard = true;
        }
    }

    // The played output starts over, as at a start: a run of silence that begins within
    // the next `seconds` is a lead-in, and the steps into and out of it are not faults.
    void Restart(double now, double seconds) { leadInBy = now + seconds; }

    void EndRun() {
        if (heard && silentFrames >= 2) {
            result.silentRunList.push_back({silentSince, silentFrames});
        }
        if (heard && silentWatched && silentFrames >= 2 && !inLeadIn) {
            ++result.silentRuns;
            result.longestSilentRunFrames = std::max(result.longestSilentRunFrames, silentFrames);
            if (result.firstSilentRunSeconds < 0.0) {
                result.firstSilentRunSeconds = silentSince;
            }
        }
        silentFrames = 0;
        silentWatched = false;
        inLeadIn = false;
    }

private:
    ScenarioResult& result;
    bool started = false;
    bool heard = false; // a non-zero sample has played: the lead-in is over
    int16_t last[kChannels] = {};
    uint64_t silentFrames = 0;
    bool silentWatched = false;
    double silentSince = 0.0;
    double leadInBy = -1.0; // a silent run starting before this is a restart's lead-in
    bool inLeadIn = false;
};

// Virtual time, the clock of latency control's depth measurement in a run.
double virtualNow = 0.0;

double VirtualNow() {
    return virtualNow;
}

constexpr double kNever = 1e300;

} // namespace

ScenarioResult RunScenario(const ScenarioSettings& settings) {
    const uint32_t rate = settings.sampleRate;
    const auto samplesToMs = [rate](double samples) { return samples * 1000.0 / kChannels / rate; };
    ScenarioResult result;
    if (settings.capture) {
        result.played.reserve(static_cast<size_t>(settings.seconds * rate * kChannels) +
                              size_t{settings.deviceFrames} * kChannels * 4);
        VirtualDevice::CaptureInto(&result.played);
    }

    virtualNow = 0.0;
    zvaudio::SteeringClock::SetSource(&VirtualNow);
    zvaudio::AudioOutput output;
    output.SetLatencyTarget(settings.targetMilliseconds);
    output.CreateOutputBuffer(settings.deviceFrames, kChannels, rate, 0, 0, 0.0f,
                              settings.ringSeconds);
    result.ringCapacity = output.GetStats().ringCapacity;

    const double hostPeriod = static_cast<double>(settings.hostFrames) / rate;
    double devicePeriod =
        static_cast<double>(settings.deviceFrames) / rate / (1.0 + settings.driftPpm * 1e-6);
    // Device periods are counted from the last change of its clock.
    double tickBaseSeconds = 0.0;
    uint64_t tickBase = 0;
    double driftStepAt = settings.driftStepAtSeconds >= 0.0 ? settings.driftStepAtSeconds : 1e300;
    const double stallEnd = settings.stallAtSeconds + settings.stallSeconds;
    double toggleAt = settings.toggleFromSeconds >= 0.0 ? settings.toggleFromSeconds : 1e300;
    int toggleNext = 1;
    WindowMeter meter(result, rate);
    uint64_t removedSoFar = 0;
    uint64_t insertedSoFar = 0;
    bool cutLastBlock = false;
    double maxDepth = 0.0;
    const double callbackLateness =
        std::min(settings.callbackLatenessMs * 1e-3, 0.9 * devicePeriod);
    EngineSchedule schedule(settings, hostPeriod);
    Uniform callbackRandom(settings.seed ^ 0x5DEECE66Dull);
    PlayedWatch watch(result);
    uint64_t ticks = 0;
    double pushAt = schedule.Next();
    double requestAt = kNever; // the callback of the last period, until it runs
    double changeAt = settings.changeAtSeconds >= 0.0 ? settings.changeAtSeconds : kNever;
    std::vector<float> block(size_t{settings.hostFrames} * kChannels);
    SineSource sine(rate);

    double now = 0.0;
    double depthTimesSeconds = 0.0;
    uint64_t depth = 0;
    size_t second = 0;
    ZVAudioOutputStats settled{};
    uint64_t starvedAtSettling = 0;
    // Requests that found the ring empty and samples padded, a second ago and over the
    // last second: whether the stream has been running dry.
    uint64_t deferredSecondAgo = 0;
    uint64_t paddedSecondAgo = 0;
    uint64_t dryLastSecond = 0;
    const auto seconds = static_cast<size_t>(settings.seconds);
    while (second < seconds) {
        const double playAt =
            tickBaseSeconds + static_cast<double>(ticks - tickBase) * devicePeriod;
        const double next = std::min({pushAt, playAt, requestAt, changeAt, toggleAt});

        // Close every whole second that ends before the next event.
        while (second < seconds && static_cast<double>(second + 1) <= next) {
            const double end = static_cast<double>(second + 1);
            depthTimesSeconds += static_cast<double>(depth) * (end - now);
            now = end;
            result.timeDepthMs.push_back(samplesToMs(depthTimesSeconds));
            depthTimesSeconds = 0.0;
            result.maxDepthMs.push_back(samplesToMs(maxDepth));
            maxDepth = static_cast<double>(depth);
            const ZVAudioOutputLatencyStats latency = output.GetLatencyStats();
            const ZVAudioOutputStats stats = output.GetStats();
            result.controlDepthMs.push_back(latency.depthMilliseconds);
            result.correctionPpm.push_back(latency.correctionPpm);
            result.effectiveTargetMs.push_back(
                samplesToMs(static_cast<double>(latency.targetSamples)));
            result.totals.push_back(RunningTotals{latency.samplesRemoved, latency.samplesInserted,
                                                  stats.silenceSamples, stats.samplesDropped,
                                                  VirtualDevice::StarvedPeriods()});
            dryLastSecond =
                stats.requestsDeferred - deferredSecondAgo + stats.silenceSamples - paddedSecondAgo;
            deferredSecondAgo = stats.requestsDeferred;
            paddedSecondAgo = stats.silenceSamples;
            ++second;
            if (second == kSettlingSeconds) {
                settled = stats;
                starvedAtSettling = VirtualDevice::StarvedPeriods();
            }
        }
        if (second >= seconds) {
            break;
        }
        depthTimesSeconds += static_cast<double>(depth) * (next - now);
        now = next;
        virtualNow = now;
        // At equal times: the device's boundary, its callback, the host's
        // control call, the engine's block.
        if (playAt == next) {
            const VirtualDevice::Played played = VirtualDevice::Play();
            watch.Add(played.samples, played.count, now,
                      now >= settings.watchFromSeconds && now < settings.watchUntilSeconds);
            if (settings.sineWindows) {
                meter.Add(played.samples, played.count, now);
            }
            ++ticks;
            requestAt = now + callbackLateness * callbackRandom.Next();
            if (now >= settings.stallAtSeconds && now < stallEnd) {
                requestAt = stallEnd; // one callback when the thread runs again
            }
            if (now >= driftStepAt) {
                devicePeriod = static_cast<double>(settings.deviceFrames) / rate /
                               (1.0 + settings.driftStepToPpm * 1e-6);
                tickBaseSeconds = now;
                tickBase = ticks - 1;
                driftStepAt = 1e300;
            }
        } else if (requestAt == next) {
            VirtualDevice::Request();
            requestAt = kNever;
        } else if (changeAt == next) {
            // Switching control on in a stream whose requests found the ring empty or
            // short in the last second: it has run dry, and starts over with a lead-in as
            // at a start.
            const ZVAudioOutputStats stats = output.GetStats();
            const uint64_t dryNow =
                stats.requestsDeferred - deferredSecondAgo + stats.silenceSamples - paddedSecondAgo;
            if (settings.targetMilliseconds == 0 && settings.changeToMilliseconds != 0 &&
                dryLastSecond + dryNow > 0) {
                result.joinedDry = true;
                // What is still in flight plays first: up to the ring's depth and the
                // device's three buffers.
                watch.Restart(now, 4.0 * static_cast<double>(settings.deviceFrames) / rate + 0.1);
            }
            output.SetLatencyTarget(settings.changeToMilliseconds);
            changeAt = kNever;
        } else if (toggleAt == next) {
            if (now >= settings.toggleUntilSeconds) {
                output.SetLatencyTarget(settings.toggleEndMilliseconds);
                toggleAt = kNever;
            } else {
                output.SetLatencyTarget(settings.toggleMilliseconds[toggleNext]);
                toggleNext ^= 1;
                toggleAt = std::min(now + settings.toggleEveryMs * 1e-3,
                                    std::max(now, settings.toggleUntilSeconds));
            }
        } else {
            sine.Fill(block.data(), settings.hostFrames);
            output.OnUnityAudio(block.data(), static_cast<uint32_t>(block.size()));
            pushAt = schedule.Next();
            const ZVAudioOutputLatencyStats latency = output.GetLatencyStats();
            // The record restarts its counters with each steering; only increases count.
            const uint64_t removed = latency.samplesRemoved;
            if (removed > removedSoFar) {
                if (cutLastBlock) {
                    result.cuts.back().samples += removed - removedSoFar;
                } else {
                    result.cuts.push_back({now, removed - removedSoFar});
                }
            }
            cutLastBlock = removed > removedSoFar;
            removedSoFar = removed;
            if (latency.samplesInserted > insertedSoFar) {
                result.inserts.push_back({now, latency.samplesInserted - insertedSoFar});
            }
            insertedSoFar = latency.samplesInserted;
        }
        depth = output.GetStats().queuedSamples;
        maxDepth = std::max(maxDepth, static_cast<double>(depth));
    }
    watch.EndRun();

    const ZVAudioOutputStats stats = output.GetStats();
    const ZVAudioOutputLatencyStats latency = output.GetLatencyStats();
    result.samplesDropped = stats.samplesDropped;
    result.deferredAfterSettling = stats.requestsDeferred - settled.requestsDeferred;
    result.starvedAfterSettling = VirtualDevice::StarvedPeriods() - starvedAtSettling;
    result.starvedPeriods = VirtualDevice::StarvedPeriods();
    result.samplesRemoved = latency.samplesRemoved;
    result.samplesInserted = latency.samplesInserted;
    output.ReleaseSound();
    result.logLines = VirtualDevice::LogLines();
    VirtualDevice::CaptureInto(nullptr);
    zvaudio::SteeringClock::SetSource(nullptr);
    return result;
}

double WorstMinuteDeviation(const std::vector<double>& series, double target, size_t fromSecond) {
    double worst = 0.0;
    for (size_t start = fromSecond; start + 60 <= series.size(); ++start) {
        double sum = 0.0;
        for (size_t i = start; i < start + 60; ++i) {
            sum += series[i];
        }
        worst = std::max(worst, std::fabs(sum / 60.0 - target));
    }
    return worst;
}

double SineStep(uint32_t sampleRate, double correction) {
    const double omega = 2.0 * kPi * kSineHz / sampleRate / (1.0 + correction);
    return kSineAmplitude * 32767.0 * 2.0 * std::sin(omega / 2.0);
}

SineQuality MeasureSine(const std::vector<int16_t>& played, uint32_t sampleRate, double fromSecond,
                        double correction) {
    SineQuality quality;
    const double omega = 2.0 * kPi * kSineHz / sampleRate / (1.0 + correction);
    quality.sineStep = SineStep(sampleRate, correction);
    const auto first = static_cast<size_t>(fromSecond * sampleRate) * kChannels;
    // Steps count over the whole output, lead-in included.
    for (size_t i = kChannels; i < played.size(); ++i) {
        const double step = std::fabs(static_cast<double>(played[i]) - played[i - kChannels]);
        quality.largestStep = std::max(quality.largestStep, step);
    }

    // Windows of equal length, so their mean powers add up like the sums.
    const auto window = static_cast<size_t>(std::lround(sampleRate * kSineWindowSeconds));
    double signalSum = 0.0;
    double residualSum = 0.0;
    quality.worstSinadDb = 1e9;
    for (size_t start = first; start + window * kChannels <= played.size();
         start += window * kChannels) {
        const zvtest::SineFitResult fit =
            zvtest::FitSine(played.data() + start, window, kChannels, omega / (2.0 * kPi));
        signalSum += fit.signalPower;
        residualSum += fit.residualPower;
        quality.worstSinadDb = std::min(quality.worstSinadDb, fit.sinadDb);
    }
    quality.overallSinadDb = 10.0 * std::log10(signalSum / std::max(residualSum, 1e-30));
    return quality;
}

} // namespace zvscenario
