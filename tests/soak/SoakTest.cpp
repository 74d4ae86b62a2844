// A threaded soak run of the plug-in against the simulated device. An engine thread
// pushes numbered samples at an irregular pace, the device pulls them at a varied
// speed, and a third thread re-creates streams, re-creates the instance and makes the
// device fail on purpose. Every sample the device plays must be one that was pushed,
// in order and never twice; every sample that never played must be accounted for by
// the statistics of the instance it was pushed to. The run is made with latency
// control off and on at the Unity package's default target; with it on, what plays is
// resampled, cut and padded by control, and is checked for that (see OnPlayed).
//
// ZV_SOAK_SECONDS sets the length (default 20), ZV_SOAK_SEED the random seed.
#include "AllocationCounter.h"
#include "NumberedSamples.h"
#include "ZVAudioOutput.h"
#include "ZVSimulatedDevice.h"
#include "latency/LatencySteering.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using zvtest::AllocationCounter;
using zvtest::NumberedSamples;

constexpr uint32_t kLargestBlock = 2048;
constexpr uint32_t kRates[] = {8000, 11025, 16000, 22050};
constexpr uint32_t kFrames[] = {128, 256, 441, 512};
constexpr double kSpeeds[] = {2.0, 10.0, 25.0, 60.0, 100.0};
// The largest ring the run opens. A played sample is identified among the last
// kLargestRing + kLargestBlock pushed, which must stay below the numbering period.
constexpr uint64_t kLargestRing = 2 * 22050;
static_assert(kLargestRing + kLargestBlock < NumberedSamples::kPeriod,
              "played samples must be identifiable");
// Interpolated and truncated, a value can repeat its neighbour's, or step back by one
// where the filter rings at a kink of the signal (a block's partial frame left out,
// the triangle's ends). Audio played again, from three samples on, steps back further.
constexpr uint64_t kSteeredSlack = 1;
// Latency control fades the frames before a gap of silence out and those after it in;
// a faded value names no sequence number. The most samples a fade edge spans.
constexpr uint32_t kLargestChannels = 2;
constexpr size_t kLargestFadeSamples =
    size_t{zvaudio::LatencySteering::kCrossfadeFrames} * kLargestChannels;
// A fade's quietest frame is scaled by half a step of the fade: no larger than this. A
// block faded out and in around a gap of no length dips to it instead of to zero.
constexpr int kFadeQuietest = 32768 / (2 * int{zvaudio::LatencySteering::kCrossfadeFrames});

double EnvNumber(const char* name, double fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    return end != text && value > 0.0 ? value : fallback;
}

uint32_t Next(std::mt19937& random) {
    return static_cast<uint32_t>(random());
}

bool Balanced(const ZVAudioOutputStats& s) {
    return s.samplesQueued == s.samplesDelivered + s.samplesDropped + s.queuedSamples;
}

class Soak {
public:
    Soak(double runSeconds, uint32_t runSeed, uint32_t latencyTarget)
        : seconds(runSeconds), seed(runSeed), latencyTargetMs(latencyTarget),
          steered(latencyTarget != 0) {}

    void Run() {
        ZVSimClearFailures();
        ZVSimResetDeviceStats();
        ZVSimSetBuffersInFlight(3);
        ZVSimSetSpeedFactor(25.0);
        ZVSimSetPlaybackTap(&Soak::Tap, this);
        {
            std::lock_guard<std::mutex> lock(accountingMutex);
            StartInstance();
        }

        deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(seconds));
        auto engine = std::async(std::launch::async, [this] { Engine(); });
        auto lifecycle = std::async(std::launch::async, [this] { Lifecycle(); });
        // A deadlock fails the run instead of hanging it.
        const auto limit = std::chrono::duration<double>(seconds * 3 + 60);
        for (auto* done : {&lifecycle, &engine}) {
            if (done->wait_for(limit) != std::future_status::ready) {
                std::fprintf(stderr, "soak: a thread did not finish within %.0f s\n",
                             limit.count());
                std::abort();
            }
            done->get();
        }
        {
            std::lock_guard<std::mutex> lock(accountingMutex);
            EndInstance();
        }
        ZVSimSetPlaybackTap(nullptr, nullptr);
        ZVSimClearFailures();
        ZVSimGetDeviceStats(&device);
    }

    // Results, read after Run().
    double seconds;
    uint32_t seed;
    uint32_t latencyTargetMs;
    bool steered;
    uint64_t pushes = 0;
    uint64_t pushed = 0;
    uint64_t played = 0;
    uint64_t silence = 0;
    uint64_t instances = 0;
    uint64_t streams = 0;
    uint64_t injected = 0;
    uint64_t failures = 0;
    uint64_t faded = 0;         // steered: samples at a fade edge, left unchecked
    uint64_t fadeAllowance = 0; // steered: both fade edges of every quiet run
    uint64_t stepped = 0;       // steered: beside a step the triangle never takes, unchecked
    uint64_t quiet = 0;         // steered: non-zero samples within a quiet run, unchecked
    char firstFailure[256] = "";
    ZVAudioOutputStats totals{};
    ZVAudioOutputLatencyStats latencyTotals{}; // the counters only
    ZVSimDeviceStats device{};
    bool steadyMeasured = false;
    uint64_t steadyAllocations = 0;
    uint64_t steadyPushes = 0;
    uint64_t steadyRequests = 0;

    uint64_t Checks() const { return checks.load(); }

private:
    // A played sample waiting in the delay line, and how far the engine had pushed then.
    struct HeldSample {
        int16_t value;
        uint32_t channel;
        uint64_t pushedNow;
    };

    static void Tap(ZVSoundHandle /*handle*/, const int16_t* samples, uint32_t count,
                    void* context) {
        static_cast<Soak*>(context)->OnPlayed(samples, count);
    }

    // Runs inside the plug-in's fill, on the device's thread or the engine's.
    void OnPlayed(const int16_t* samples, uint32_t count) {
        std::lock_guard<std::mutex> lock(checkMutex);
        const uint64_t pushedNow = pushedCount.load();
        for (uint32_t i = 0; i < count; ++i) {
            if (samples[i] == 0) {
                ++silence;
                if (steered) {
                    OnQuietSteeredLocked();
                }
                continue;
            }
            if (steered) {
                ++played;
                if (std::abs(samples[i]) <= kFadeQuietest) {
                    ++quiet;
                    OnQuietSteeredLocked();
                } else {
                    // Buffers hold whole frames.
                    const auto channel = static_cast<uint32_t>(
                        i % (fadeSamples / zvaudio::LatencySteering::kCrossfadeFrames));
                    HoldSteeredLocked(HeldSample{samples[i], channel, pushedNow});
                }
                continue;
            }
            // Only the ring's contents can play: the last kLargestRing samples written,
            // and at most one block may still be on its way in.
            uint64_t lowest = havePlayed ? lastPlayed + 1 : 0;
            if (pushedNow > kLargestRing + kLargestBlock) {
                lowest = std::max(lowest, pushedNow - kLargestRing - kLargestBlock);
            }
            const uint64_t sequence = NumberedSamples::SequenceAtOrAfter(samples[i], lowest);
            if (sequence >= pushedNow) {
                FailLocked("sample %d played after #%" PRIu64
                           " was never pushed, or played out of order or twice",
                           samples[i], lastPlayed);
                continue;
            }
            lastPlayed = sequence;
            havePlayed = true;
            ++played;
        }
    }

    // Each value read as the nearest sequence number at or after the furthest one
    // played, less the slack, and not before the current stream's first; audio played
    // again steps back further than that and reads as a sample a whole period ahead,
    // never pushed. A jump forward (a cut, a drop) may first land on the other slope
    // of the triangle: the samples after it then step back within the slack until
    // they leave it for the true slope. Cuts make a ring's contents span more host
    // samples than it holds, so no fixed window bounds how old a played sample is.
    //
    // Each value waits in a delay line as long as a fade edge: a quiet sample (a zero, or
    // one no louder than a fade's quietest) reached while it waits makes it fade-out,
    // dropped unchecked, and the edge after a quiet run is fade-in, unchecked too. Both
    // are counted, and bounded by the runs.
    void OnQuietSteeredLocked() {
        lastReleased = {};
        if (!inQuietRun) {
            inQuietRun = true;
            fadeAllowance += 2 * fadeSamples;
            faded += heldCount;
            heldCount = 0;
        }
        fadeInLeft = fadeSamples;
    }

    void HoldSteeredLocked(const HeldSample& sample) {
        inQuietRun = false;
        if (fadeInLeft > 0) {
            --fadeInLeft;
            ++faded;
            return;
        }
        if (heldCount == fadeSamples) {
            const HeldSample& oldest = held[heldFirst];
            if (!InOrderSteeredLocked(oldest.value, oldest.pushedNow) && RisesLikeAFadeLocked()) {
                // A fade-in whose start the ring overwrote, gap and fade-out with it.
                fadeAllowance += fadeSamples;
                faded += heldCount;
                heldCount = 0;
            } else {
                ReleaseSteeredLocked(oldest, NextOfOldestLocked());
                heldFirst = (heldFirst + 1) % held.size();
                --heldCount;
            }
        }
        held[(heldFirst + heldCount) % held.size()] = sample;
        ++heldCount;
    }

    // A sample leaving the delay line is checked only where the played signal runs like
    // the triangle. A step larger than the triangle takes, into the sample or out of it to
    // the next of its channel, comes from a fade, a crossfaded cut, a jump (a cut, or the
    // ring overwriting its oldest samples, fade or gap among them) or a repeat. A faded or
    // crossfaded value names no sequence number; read as one it may land far ahead and
    // make the true samples after it look out of order. Such samples are left unchecked
    // and counted. A jump or a repeat steps like that once: the samples after it run like
    // the triangle again and are checked.
    void ReleaseSteeredLocked(const HeldSample& sample, const HeldSample* next) {
        const auto steep = [](int from, int to) {
            return std::abs(to - from) > static_cast<int>(kSteeredSlack) + 1;
        };
        int& last = lastReleased[sample.channel];
        const bool stepsIn = last != 0 && steep(last, sample.value);
        const bool stepsOut = next != nullptr && steep(sample.value, next->value);
        last = sample.value;
        if (stepsIn || stepsOut) {
            ++stepped;
            return;
        }
        CheckSteeredLocked(sample.value, sample.pushedNow);
    }

    // The oldest held sample's next of its channel, when the delay line holds it.
    const HeldSample* NextOfOldestLocked() const {
        const size_t channels = fadeSamples / zvaudio::LatencySteering::kCrossfadeFrames;
        return heldCount > channels ? &held[(heldFirst + channels) % held.size()] : nullptr;
    }

    // The stream ended: what waits was not faded into a gap.
    void FlushSteeredLocked(size_t nextFadeSamples) {
        for (; heldCount > 0; --heldCount) {
            ReleaseSteeredLocked(held[heldFirst], NextOfOldestLocked());
            heldFirst = (heldFirst + 1) % held.size();
        }
        lastReleased = {};
        fadeInLeft = 0;
        inQuietRun = false;
        fadeSamples = nextFadeSamples;
    }

    // The oldest held sample and the next of its channel: a fade-in steps away from zero
    // by a 64th of the value it fades in each frame, the resampled triangle by one.
    bool RisesLikeAFadeLocked() const {
        const size_t channels = fadeSamples / zvaudio::LatencySteering::kCrossfadeFrames;
        const int first = held[heldFirst].value;
        const int next = held[(heldFirst + channels) % held.size()].value;
        return (first > 0) == (next > 0) &&
               std::abs(next) - std::abs(first) > static_cast<int>(kSteeredSlack) + 1;
    }

    uint64_t LowestSteeredLocked() const {
        return std::max(havePlayed ? lastPlayed - std::min(lastPlayed, kSteeredSlack) : 0,
                        streamFloor.load());
    }

    bool InOrderSteeredLocked(int16_t value, uint64_t pushedNow) const {
        return NumberedSamples::TriangleSequenceAtOrAfter(value, LowestSteeredLocked()) < pushedNow;
    }

    void CheckSteeredLocked(int16_t value, uint64_t pushedNow) {
        const uint64_t lowest = LowestSteeredLocked();
        const uint64_t sequence = NumberedSamples::TriangleSequenceAtOrAfter(value, lowest);
        if (sequence >= pushedNow) {
            FailLocked("resampled sample %d played after #%" PRIu64
                       " was never pushed, or played out of order or twice",
                       value, lastPlayed);
            return;
        }
        lastPlayed = std::max(lastPlayed, sequence);
        havePlayed = true;
    }

    void Fail(const char* format, ...) {
        std::lock_guard<std::mutex> lock(checkMutex);
        va_list args;
        va_start(args, format);
        if (failures++ == 0) {
            std::vsnprintf(firstFailure, sizeof firstFailure, format, args);
        }
        va_end(args);
    }

    void FailLocked(const char* format, ...) {
        va_list args;
        va_start(args, format);
        if (failures++ == 0) {
            std::vsnprintf(firstFailure, sizeof firstFailure, format, args);
        }
        va_end(args);
    }

    void CheckStats() {
        ZVAudioOutputStats stats{};
        if (!GetAudioOutputStats(&stats)) {
            Fail("no instance while one should exist");
        } else if (!Balanced(stats)) {
            Fail("statistics out of balance: queued %" PRIu64 " != delivered %" PRIu64
                 " + dropped %" PRIu64 " + waiting %" PRIu64,
                 stats.samplesQueued, stats.samplesDelivered, stats.samplesDropped,
                 stats.queuedSamples);
        }
        checks.fetch_add(1);
    }

    void Engine() {
        AllocationCounter::Exempt bookkeeping;
        std::mt19937 random(seed);
        std::vector<float> block(kLargestBlock);
        while (Clock::now() < deadline) {
            uint32_t count = 1 + Next(random) % (Next(random) % 2 == 0 ? 256 : kLargestBlock);
            {
                std::lock_guard<std::mutex> lock(accountingMutex);
                // Read under the lock, so that the largest block reaches the stream the
                // steady phase measures, and its scratch buffers their final size; a warm-up
                // that a smaller block ended would leave the growth to the measurement.
                const bool warming = warmUp.load();
                if (warming) {
                    count = kLargestBlock;
                }
                const uint64_t first = pushedCount.load();
                for (uint32_t i = 0; i < count; ++i) {
                    block[i] =
                        steered ? numbers.TriangleFloatOf(first + i) : numbers.FloatOf(first + i);
                }
                pushedCount.store(first + count);
                bool accepted = false;
                {
                    AllocationCounter::Exempt counted(false);
                    accepted = OnUnityAudio(block.data(), static_cast<int32_t>(count));
                }
                if (!accepted) {
                    Fail("a push found no instance");
                }
                ++pushes;
                if (pushes % 64 == 0) {
                    CheckStats();
                }
                if (warming) {
                    warmUp.store(false);
                }
            }
            const uint32_t pace = Next(random) % 100;
            if (pace < 80) {
                std::this_thread::sleep_for(std::chrono::microseconds(Next(random) % 300));
            } else if (pace < 96) {
                std::this_thread::yield();
            } else {
                // Long enough for the device to run dry.
                std::this_thread::sleep_for(std::chrono::microseconds(2000 + Next(random) % 13000));
            }
        }
    }

    void Lifecycle() {
        AllocationCounter::Exempt bookkeeping;
        std::mt19937 random(seed * 7 + 1);
        const Clock::time_point start = Clock::now();
        const auto total = deadline - start;
        bool steadyDone = !AllocationCounter::Supported();
        while (Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10 + Next(random) % 140));
            CheckStats();
            if (!steadyDone && Clock::now() - start > total * 2 / 5) {
                MeasureSteadyState();
                steadyDone = true;
                continue;
            }
            const uint32_t action = Next(random) % 100;
            if (action < 55) {
                std::lock_guard<std::mutex> lock(accountingMutex);
                OpenStream(random);
            } else if (action < 70) {
                std::lock_guard<std::mutex> lock(accountingMutex);
                EndInstance();
                StartInstance();
                OpenStream(random);
            } else if (action < 90) {
                InjectFailure(random);
            } else {
                ZVSimSetSpeedFactor(kSpeeds[Next(random) % std::size(kSpeeds)]);
            }
        }
    }

    // A while with no stream changes and no failures: the intake and the request path
    // must not allocate at all.
    void MeasureSteadyState() {
        ZVSimClearFailures();
        ZVSimSetSpeedFactor(25.0);
        {
            std::lock_guard<std::mutex> lock(accountingMutex);
            ZVSimSetBuffersInFlight(3);
            if (!CreateOutputBuffer(256, 2, 16000, 0, 0, 0.0f, 1)) {
                Fail("no instance for the steady phase");
            }
            StreamOpened(2);
        }
        warmUp.store(true);
        while (warmUp.load() && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto phase =
            std::min<Clock::duration>(std::chrono::seconds(1), (deadline - Clock::now()) / 2);
        ZVSimDeviceStats before{};
        ZVSimGetDeviceStats(&before);
        const uint64_t pushesBefore = PushesSoFar();
        AllocationCounter::Start();
        std::this_thread::sleep_for(phase);
        steadyAllocations = AllocationCounter::Stop();
        ZVSimDeviceStats after{};
        ZVSimGetDeviceStats(&after);
        steadyPushes = PushesSoFar() - pushesBefore;
        steadyRequests = after.requestsIssued - before.requestsIssued;
        steadyMeasured = true;
    }

    uint64_t PushesSoFar() {
        std::lock_guard<std::mutex> lock(accountingMutex);
        return pushes;
    }

    void OpenStream(std::mt19937& random) {
        uint32_t channels = 1 + Next(random) % 2;
        uint32_t rate = kRates[Next(random) % std::size(kRates)];
        uint32_t bufferSeconds = Next(random) % 12 == 0 ? 0 : 1;
        if (Next(random) % 20 == 0) {
            channels = 65536; // 2^32 samples: refused, and the open stream released
            rate = 65536;
        }
        ZVSimSetBuffersInFlight(1 + Next(random) % 4);
        if (!CreateOutputBuffer(kFrames[Next(random) % std::size(kFrames)], channels, rate, 0, 0,
                                0.0f, bufferSeconds)) {
            Fail("re-opening the stream found no instance");
        }
        StreamOpened(channels);
    }

    // Under accountingMutex, right after CreateOutputBuffer: whatever the previous
    // stream had queued or held back went with it, so nothing pushed before now plays.
    void StreamOpened(uint32_t channels) {
        ++streams;
        {
            std::lock_guard<std::mutex> lock(checkMutex);
            FlushSteeredLocked(size_t{zvaudio::LatencySteering::kCrossfadeFrames} *
                               std::min(channels, kLargestChannels));
        }
        streamFloor.store(pushedCount.load());
    }

    void InjectFailure(std::mt19937& random) {
        // Destroy is left alone: a stream that can be neither stopped nor destroyed
        // would keep calling back into a freed instance, whatever the plug-in does.
        // Release is left alone too: a buffer whose release fails never plays, yet its
        // samples count as delivered, so the played count could not be reconciled.
        constexpr ZVSimCall kCalls[] = {
            kSimCallGetBufferedOutputDefaults,
            kSimCallCreateSoundWithBufferedOutput,
            kSimCallStartSound,
            kSimCallStopSound,
            kSimCallGetOutputBuffer,
        };
        const ZVSimCall call = kCalls[Next(random) % std::size(kCalls)];
        const ZVResult result = call == kSimCallGetOutputBuffer && Next(random) % 2 == 0
                                    ? kResultBufferNotReady
                                    : kSimResultInjectedFailure;
        ZVSimInjectFailure(call, result, 1 + Next(random) % 3);
        ++injected;
    }

    // Both under accountingMutex, so that no push lands between the statistics and
    // the destruction of the instance they describe.
    void StartInstance() {
        if (!CreateAudioOutput()) {
            Fail("an instance already existed");
        }
        if (steered && !SetAudioOutputLatencyTarget(latencyTargetMs)) {
            Fail("no instance for the latency target");
        }
        if (!CreateOutputBuffer(256, 2, 16000, 0, 0, 0.0f, 1)) {
            Fail("no instance right after creating one");
        }
        ++instances;
        StreamOpened(2);
        pushedAtStart = pushedCount.load();
        std::lock_guard<std::mutex> lock(checkMutex);
        playedAtStart = played;
        silenceAtStart = silence;
    }

    void EndInstance() {
        ZVAudioOutputStats stats{};
        ZVAudioOutputLatencyStats latency{};
        if (!GetAudioOutputStats(&stats) || !GetAudioOutputLatencyStats(&latency)) {
            Fail("no instance to end");
            return;
        }
        if (!Balanced(stats)) {
            Fail("statistics out of balance before destruction");
        }
        if (!DestroyAudioOutput()) {
            Fail("destroy found no instance");
        }
        // No instance now, so nothing plays until the next one: these counts are final.
        uint64_t playedHere = 0;
        uint64_t silenceHere = 0;
        {
            std::lock_guard<std::mutex> lock(checkMutex);
            FlushSteeredLocked(fadeSamples);
            playedHere = played - playedAtStart;
            silenceHere = silence - silenceAtStart;
        }
        const uint64_t pushedHere = pushedCount.load() - pushedAtStart;
        if (steered) {
            EndSteeredInstance(stats, latency, pushedHere, playedHere, silenceHere);
            return;
        }
        if (pushedHere != stats.samplesQueued + stats.samplesWithoutStream) {
            Fail("pushed %" PRIu64 " samples, but queued %" PRIu64 " + without stream %" PRIu64,
                 pushedHere, stats.samplesQueued, stats.samplesWithoutStream);
        }
        // Samples still queued at the snapshot may have played before the release.
        if (playedHere < stats.samplesDelivered ||
            playedHere > stats.samplesDelivered + stats.queuedSamples) {
            Fail("played %" PRIu64 " numbered samples, statistics say %" PRIu64 " (+%" PRIu64
                 " waiting)",
                 playedHere, stats.samplesDelivered, stats.queuedSamples);
        }
        if (silenceHere < stats.silenceSamples) {
            Fail("played %" PRIu64 " zero samples, statistics say %" PRIu64, silenceHere,
                 stats.silenceSamples);
        }
        totals.samplesQueued += stats.samplesQueued;
        totals.samplesDropped +=
            stats.samplesDropped + (stats.queuedSamples - (playedHere - stats.samplesDelivered));
        totals.samplesDelivered += playedHere;
        totals.silenceSamples += stats.silenceSamples;
        totals.buffersFilled += stats.buffersFilled;
        totals.requestsDeferred += stats.requestsDeferred;
        totals.samplesWithoutStream += stats.samplesWithoutStream;
    }

    // With latency control on, the ring is handed resampled samples, with silence
    // inserted and audio cut: every host sample reached it or had no stream, the ring
    // was handed what control says, every sample the ring delivered played (as a
    // numbered one or as a zero), and no more numbered ones than it delivered.
    void EndSteeredInstance(const ZVAudioOutputStats& stats,
                            const ZVAudioOutputLatencyStats& latency, uint64_t pushedHere,
                            uint64_t playedHere, uint64_t silenceHere) {
        if (pushedHere != latency.hostSamples + stats.samplesWithoutStream) {
            Fail("pushed %" PRIu64 " samples, but control took in %" PRIu64
                 " + without stream %" PRIu64,
                 pushedHere, latency.hostSamples, stats.samplesWithoutStream);
        }
        if (latency.ringSamples != stats.samplesQueued) {
            Fail("control handed the ring %" PRIu64 " samples, the ring counts %" PRIu64,
                 latency.ringSamples, stats.samplesQueued);
        }
        if (playedHere + silenceHere < stats.samplesDelivered + stats.silenceSamples ||
            playedHere > stats.samplesDelivered + stats.queuedSamples) {
            Fail("played %" PRIu64 " numbered and %" PRIu64 " zero samples, statistics say %" PRIu64
                 " delivered (+%" PRIu64 " waiting) and %" PRIu64 " padded",
                 playedHere, silenceHere, stats.samplesDelivered, stats.queuedSamples,
                 stats.silenceSamples);
        }
        // What was waiting may have played before the release, as numbered samples or
        // zeros; it is counted as dropped here.
        totals.samplesQueued += stats.samplesQueued;
        totals.samplesDropped += stats.samplesDropped + stats.queuedSamples;
        totals.samplesDelivered += stats.samplesDelivered;
        totals.silenceSamples += stats.silenceSamples;
        totals.buffersFilled += stats.buffersFilled;
        totals.requestsDeferred += stats.requestsDeferred;
        totals.samplesWithoutStream += stats.samplesWithoutStream;
        latencyTotals.hostSamples += latency.hostSamples;
        latencyTotals.samplesRemoved += latency.samplesRemoved;
        latencyTotals.samplesInserted += latency.samplesInserted;
    }

    Clock::time_point deadline;
    NumberedSamples numbers;
    std::mutex accountingMutex; // a push, or an instance's last statistics and its end
    std::mutex checkMutex;      // the played-sample checker
    std::atomic<uint64_t> pushedCount{0};
    std::atomic<uint64_t> streamFloor{0}; // first sample the current stream may play
    std::atomic<uint64_t> checks{0};
    std::atomic<bool> warmUp{false};
    uint64_t lastPlayed = 0;
    bool havePlayed = false;
    std::array<HeldSample, kLargestFadeSamples> held{}; // steered: the delay line
    std::array<int, kLargestChannels> lastReleased{};   // steered: 0 for none yet
    size_t heldFirst = 0;
    size_t heldCount = 0;
    size_t fadeSamples = kLargestFadeSamples; // a fade edge in the current stream
    size_t fadeInLeft = 0;
    bool inQuietRun = false;
    uint64_t pushedAtStart = 0;
    uint64_t playedAtStart = 0;
    uint64_t silenceAtStart = 0;
};

} // namespace

// Latency control off, and on at the target the Unity package sets.
class SoakTest : public ::testing::TestWithParam<uint32_t> {};

TEST_P(SoakTest, NumberedSamplesSurviveConcurrentPushesPullsRestartsAndFailures) {
    const double seconds = EnvNumber("ZV_SOAK_SECONDS", 20.0);
    const auto seed = static_cast<uint32_t>(EnvNumber("ZV_SOAK_SEED", 20240601.0));
    auto soak = std::make_unique<Soak>(seconds, seed, GetParam());
    soak->Run();
    const Soak& s = *soak;

    const uint64_t pushedTotal =
        (s.steered ? s.latencyTotals.hostSamples : s.totals.samplesQueued) +
        s.totals.samplesWithoutStream;
    std::printf("soak: %.0f s, seed %u, latency target %u ms: %" PRIu64 " pushes of %" PRIu64
                " samples; %" PRIu64 " instances, %" PRIu64 " stream openings, %" PRIu64
                " injected failures\n",
                s.seconds, s.seed, s.latencyTargetMs, s.pushes, pushedTotal, s.instances, s.streams,
                s.injected);
    if (s.steered) {
        std::printf("soak: latency control handed the rings %" PRIu64 " samples; %" PRIu64
                    " cut, %" PRIu64 " silence inserted\n",
                    s.totals.samplesQueued, s.latencyTotals.samplesRemoved,
                    s.latencyTotals.samplesInserted);
        std::printf("soak: %" PRIu64 " faded samples unchecked, at most %" PRIu64 "; %" PRIu64
                    " beside steps (cuts, jumps, fades cut short); %" PRIu64 " quiet ones\n",
                    s.faded, s.fadeAllowance, s.stepped, s.quiet);
    }
    std::printf("soak: played %" PRIu64 " numbered samples in order, %" PRIu64
                " zero samples; dropped %" PRIu64 ", without stream %" PRIu64 "; %" PRIu64
                " buffers, %" PRIu64 " deferred requests, %" PRIu64 " statistics checks\n",
                s.played, s.silence, s.totals.samplesDropped, s.totals.samplesWithoutStream,
                s.totals.buffersFilled, s.totals.requestsDeferred, s.Checks());
    std::printf("soak: device: %" PRIu64 " requests, %" PRIu64 " buffers played, %" PRIu64
                " fetches not ready, %" PRIu64 " starved periods\n",
                s.device.requestsIssued, s.device.buffersPlayed, s.device.fetchesNotReady,
                s.device.starvedPeriods);
    if (s.steadyMeasured) {
        std::printf("soak: steady phase: %" PRIu64 " allocations over %" PRIu64
                    " pushes and %" PRIu64 " requests\n",
                    s.steadyAllocations, s.steadyPushes, s.steadyRequests);
    } else {
        std::printf("soak: steady phase: allocations not counted in this build\n");
    }

    EXPECT_EQ(s.failures, 0u) << "first failure: " << s.firstFailure;
    if (s.steered) {
        // Numbered samples, and zeros that were inserted or a value next to zero.
        EXPECT_LE(s.played, s.totals.samplesDelivered + s.totals.samplesDropped);
        EXPECT_GT(s.latencyTotals.samplesInserted, 0u) << "control never ran";
    } else {
        EXPECT_EQ(s.played, s.totals.samplesDelivered);
    }
    EXPECT_EQ(s.totals.samplesQueued, s.totals.samplesDelivered + s.totals.samplesDropped)
        << "every queued sample either played or was dropped";
    EXPECT_GT(s.played, 0u) << "the device played nothing";
    EXPECT_GT(s.instances, 1u);
    if (s.steadyMeasured) {
        EXPECT_GT(s.steadyPushes, 0u);
        EXPECT_GT(s.steadyRequests, 0u);
        EXPECT_EQ(s.steadyAllocations, 0u) << "the audio paths allocated in steady state";
    }
}

INSTANTIATE_TEST_SUITE_P(LatencyTargets, SoakTest, ::testing::Values(0u, 60u),
                         [](const ::testing::TestParamInfo<uint32_t>& target) {
                             return target.param == 0
                                        ? std::string("ControlOff")
                                        : "ControlOn" + std::to_string(target.param) + "ms";
                         });
