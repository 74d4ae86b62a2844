#include "Scenario.h"

#include "AudioOutput.h"
#include "SineFit.h"
#include "SteeringClock.h"
#include "VirtualDevice.h"

#include <algorithm>
#include <cmath>

namespace zvscenario {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Unit phasor for the engine's sine, renormalised every block.
class SineSource {
public:
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
    const double stepRe = std::cos(2.0 * kPi * kSineHz / kSampleRate);
    const double stepIm = std::sin(2.0 * kPi * kSineHz / kSampleRate);
};

// Virtual time, the clock of latency control's depth measurement in a run.
double virtualNow = 0.0;

double VirtualNow() {
    return virtualNow;
}

double SamplesToMs(double samples) {
    return samples * 1000.0 / kChannels / kSampleRate;
}

} // namespace

ScenarioResult RunScenario(const ScenarioSettings& settings) {
    ScenarioResult result;
    if (settings.capture) {
        result.played.reserve(static_cast<size_t>(settings.seconds * kSampleRate * kChannels) +
                              kBlockFrames * kChannels * 4);
        VirtualDevice::CaptureInto(&result.played);
    }

    virtualNow = 0.0;
    zvaudio::SteeringClock::SetSource(&VirtualNow);
    zvaudio::AudioOutput output;
    output.SetLatencyTarget(settings.targetMilliseconds);
    output.CreateOutputBuffer(kBlockFrames, kChannels, kSampleRate, 0, 0, 0.0f, 1);

    const double hostPeriod = static_cast<double>(kBlockFrames) / kSampleRate;
    const double devicePeriod = hostPeriod / (1.0 + settings.driftPpm * 1e-6);
    // Pushes fall half a period after the device's requests at the start; the
    // drift then slides one against the other.
    uint64_t pushes = 0;
    uint64_t ticks = 0;
    std::vector<float> block(size_t{kBlockFrames} * kChannels);
    SineSource sine;

    double now = 0.0;
    double depthTimesSeconds = 0.0;
    uint64_t depth = 0;
    size_t second = 0;
    ZVAudioOutputStats settled{};
    uint64_t starvedAtSettling = 0;
    const auto seconds = static_cast<size_t>(settings.seconds);
    while (second < seconds) {
        double pushAt = (static_cast<double>(pushes) + 0.5) * hostPeriod;
        if (pushAt >= settings.hitchAtSeconds &&
            pushAt < settings.hitchAtSeconds + settings.hitchSeconds) {
            pushAt = settings.hitchAtSeconds + settings.hitchSeconds;
        }
        const double tickAt = static_cast<double>(ticks) * devicePeriod;
        const double next = std::min(pushAt, tickAt);

        // Close every whole second that ends before the next event.
        while (second < seconds && static_cast<double>(second + 1) <= next) {
            const double end = static_cast<double>(second + 1);
            depthTimesSeconds += static_cast<double>(depth) * (end - now);
            now = end;
            result.timeDepthMs.push_back(SamplesToMs(depthTimesSeconds));
            depthTimesSeconds = 0.0;
            const ZVAudioOutputLatencyStats latency = output.GetLatencyStats();
            result.controlDepthMs.push_back(latency.depthMilliseconds);
            result.correctionPpm.push_back(latency.correctionPpm);
            ++second;
            if (second == kSettlingSeconds) {
                settled = output.GetStats();
                starvedAtSettling = VirtualDevice::StarvedPeriods();
            }
        }
        if (second >= seconds) {
            break;
        }
        depthTimesSeconds += static_cast<double>(depth) * (next - now);
        now = next;
        virtualNow = now;
        if (tickAt <= pushAt) {
            VirtualDevice::Tick();
            ++ticks;
        } else {
            sine.Fill(block.data(), kBlockFrames);
            output.OnUnityAudio(block.data(), static_cast<uint32_t>(block.size()));
            ++pushes;
        }
        depth = output.GetStats().queuedSamples;
    }

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

SineQuality MeasureSine(const std::vector<int16_t>& played, double fromSecond, double correction) {
    SineQuality quality;
    const double omega = 2.0 * kPi * kSineHz / kSampleRate / (1.0 + correction);
    quality.sineStep = kSineAmplitude * 32767.0 * 2.0 * std::sin(omega / 2.0);
    const auto first = static_cast<size_t>(fromSecond * kSampleRate) * kChannels;
    // Steps count over the whole output, lead-in included.
    for (size_t i = kChannels; i < played.size(); ++i) {
        const double step = std::fabs(static_cast<double>(played[i]) - played[i - kChannels]);
        quality.largestStep = std::max(quality.largestStep, step);
    }

    // Windows of equal length, so their mean powers add up like the sums.
    constexpr size_t kWindow = kSampleRate / 10;
    double signalSum = 0.0;
    double residualSum = 0.0;
    quality.worstSinadDb = 1e9;
    for (size_t start = first; start + kWindow * kChannels <= played.size();
         start += kWindow * kChannels) {
        const zvtest::SineFitResult fit =
            zvtest::FitSine(played.data() + start, kWindow, kChannels, omega / (2.0 * kPi));
        signalSum += fit.signalPower;
        residualSum += fit.residualPower;
        quality.worstSinadDb = std::min(quality.worstSinadDb, fit.sinadDb);
    }
    quality.overallSinadDb = 10.0 * std::log10(signalSum / std::max(residualSum, 1e-30));
    return quality;
}

} // namespace zvscenario
