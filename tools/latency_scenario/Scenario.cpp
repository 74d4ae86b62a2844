#include "Scenario.h"

#include "AudioOutput.h"
#include "SteeringClock.h"
#include "VirtualDevice.h"

#include <algorithm>
#include <array>
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

namespace {

// Solves the 4x4 system in place (Gaussian elimination with pivoting).
std::array<double, 4> Solve(std::array<std::array<double, 5>, 4> m) {
    for (size_t col = 0; col < 4; ++col) {
        size_t pivot = col;
        for (size_t row = col + 1; row < 4; ++row) {
            if (std::fabs(m[row][col]) > std::fabs(m[pivot][col])) {
                pivot = row;
            }
        }
        std::swap(m[col], m[pivot]);
        for (size_t row = 0; row < 4; ++row) {
            if (row != col && m[col][col] != 0.0) {
                const double factor = m[row][col] / m[col][col];
                for (size_t k = col; k < 5; ++k) {
                    m[row][k] -= factor * m[col][k];
                }
            }
        }
    }
    std::array<double, 4> x{};
    for (size_t i = 0; i < 4; ++i) {
        x[i] = m[i][i] != 0.0 ? m[i][4] / m[i][i] : 0.0;
    }
    return x;
}

// Four-parameter least-squares sine fit (amplitudes, offset, frequency);
// returns signal and residual power.
std::pair<double, double> FitSine(const std::vector<double>& y, double omega) {
    double a = 0.0;
    double b = 0.0;
    double c = 0.0;
    for (int iteration = 0; iteration < 8; ++iteration) {
        std::array<std::array<double, 5>, 4> normal{};
        for (size_t n = 0; n < y.size(); ++n) {
            const double t = static_cast<double>(n);
            const double cs = std::cos(omega * t);
            const double sn = std::sin(omega * t);
            const std::array<double, 4> row{cs, sn, 1.0, t * (-a * sn + b * cs)};
            const double target = iteration == 0 ? y[n] : y[n] - (a * cs + b * sn + c);
            for (size_t i = 0; i < 4; ++i) {
                for (size_t j = 0; j < 4; ++j) {
                    normal[i][j] += row[i] * row[j];
                }
                normal[i][4] += row[i] * target;
            }
        }
        if (iteration == 0) {
            // Three-parameter start: frequency fixed.
            normal[3] = {0.0, 0.0, 0.0, 1.0, 0.0};
            for (size_t i = 0; i < 3; ++i) {
                normal[i][3] = 0.0;
            }
            const auto x = Solve(normal);
            a = x[0];
            b = x[1];
            c = x[2];
        } else {
            const auto x = Solve(normal);
            a += x[0];
            b += x[1];
            c += x[2];
            omega += x[3];
        }
    }
    double signal = 0.0;
    double residual = 0.0;
    for (size_t n = 0; n < y.size(); ++n) {
        const double t = static_cast<double>(n);
        const double fit = a * std::cos(omega * t) + b * std::sin(omega * t) + c;
        signal += (fit - c) * (fit - c);
        residual += (y[n] - fit) * (y[n] - fit);
    }
    return {signal, residual};
}

} // namespace

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

    constexpr size_t kWindow = kSampleRate / 10;
    double signalSum = 0.0;
    double residualSum = 0.0;
    quality.worstSinadDb = 1e9;
    std::vector<double> window(kWindow);
    for (size_t start = first; start + kWindow * kChannels <= played.size();
         start += kWindow * kChannels) {
        for (size_t n = 0; n < kWindow; ++n) {
            window[n] = played[start + n * kChannels];
        }
        const auto [signal, residual] = FitSine(window, omega);
        signalSum += signal;
        residualSum += residual;
        quality.worstSinadDb =
            std::min(quality.worstSinadDb, 10.0 * std::log10(signal / std::max(residual, 1e-30)));
    }
    quality.overallSinadDb = 10.0 * std::log10(signalSum / std::max(residualSum, 1e-30));
    return quality;
}

} // namespace zvscenario
