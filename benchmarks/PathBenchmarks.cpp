// The plug-in's own paths at the host's usual block of 2048 samples, each
// paired with memcpy of the same bytes between buffers of the same sizes.
#include "BenchmarkPlatform.h"
#include "BenchmarkRegistry.h"
#include "CacheLineAllocator.h"
#include "SampleRingBuffer.h"
#include "ZVAudioOutput.h"
#include "conversion/SampleConversion.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace zvbench {
namespace {

constexpr int32_t kBlock = 2048;
constexpr size_t kBlockBytes = kBlock * sizeof(int16_t);
// 2 channels x 48000 Hz x 1 s, as the host usually opens the stream.
constexpr uint32_t kRingSamples = 96000;
// Blocks per timed batch: 65536 samples, which the ring holds without overflow.
constexpr int kBlocks = 32;

// A call that moves one block of 16-bit samples `copies` times.
constexpr CallSize BlockCall(int copies) {
    return {kBlock, int64_t{copies} * 2 * static_cast<int64_t>(kBlockBytes)};
}

// Every buffer is allocated as the ring allocates its storage, so that memcpy
// and the ring see the same alignment.
using zvaudio::CacheLineSamples;

CacheLineSamples SampleBlock() {
    const std::vector<float> signal = TestSignal(kBlock);
    CacheLineSamples block(kBlock);
    zvaudio::ConvertToPcm16Reference(signal.data(), block.data(), block.size());
    return block;
}

// Steps through storage of the ring's size one block at a time, as the ring's
// own position does, so that memcpy sees the same cache footprint.
class StoragePosition {
public:
    size_t Next() {
        const size_t current = offset;
        offset = offset + 2 * size_t{kBlock} > kRingSamples ? 0 : offset + kBlock;
        return current;
    }

private:
    size_t offset = 0;
};

// ---- Ring: one Write and one Take of a block ------------------------------------------

void RingWriteTake(benchmark::State& state) {
    zvaudio::SampleRingBuffer ring(kRingSamples);
    const CacheLineSamples block = SampleBlock();
    CacheLineSamples destination(kBlock);
    RunBatches(state, kBlocks, BlockCall(2), [&] {
        ring.Write(block.data(), kBlock);
        benchmark::DoNotOptimize(ring.Take(destination.data(), kBlock));
        benchmark::ClobberMemory();
    });
}

void RingMemcpy(benchmark::State& state) {
    CacheLineSamples storage(kRingSamples);
    const CacheLineSamples block = SampleBlock();
    CacheLineSamples destination(kBlock);
    StoragePosition position;
    RunBatches(state, kBlocks, BlockCall(2), [&] {
        int16_t* slot = storage.data() + position.Next();
        std::memcpy(slot, block.data(), kBlockBytes);
        std::memcpy(destination.data(), slot, kBlockBytes);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    });
}

// ---- The OnUnityAudio export and the request path, on the benchmark platform ----------

// An instance with a started stream, a 96000-sample ring and 2048-sample
// platform buffers; destroyed with the benchmark.
class OpenOutput {
public:
    OpenOutput() {
        BenchmarkPlatform::SetBufferBytes(static_cast<uint32_t>(kBlockBytes));
        CreateAudioOutput();
        CreateOutputBuffer(static_cast<uint32_t>(kBlockBytes), 2, 48000, 0, 0, 0.0f, 1);
    }
    ~OpenOutput() { DestroyAudioOutput(); }
    OpenOutput(const OpenOutput&) = delete;
    OpenOutput& operator=(const OpenOutput&) = delete;

    static bool Healthy(benchmark::State& state) {
        ZVAudioOutputStats stats{};
        if (!GetAudioOutputStats(&stats) || stats.ringCapacity != kRingSamples) {
            state.SkipWithError("no stream with the expected ring");
            return false;
        }
        if (stats.samplesDropped != 0 || stats.silenceSamples != 0 ||
            BenchmarkPlatform::LogLines() != 0) {
            state.SkipWithError("samples were dropped or padded, or the plug-in logged");
            return false;
        }
        return true;
    }
};

void IntakeExport(benchmark::State& state) {
    OpenOutput output;
    if (!OpenOutput::Healthy(state)) {
        return;
    }
    std::vector<float> block = TestSignal(kBlock);
    // Drained outside the timed region, so every write finds room.
    const auto drain = [] {
        for (int i = 0; i < kBlocks; ++i) {
            BenchmarkPlatform::RaiseRequest();
        }
    };
    // The conversion's 6 bytes per sample plus the ring write's 4.
    RunBatches(state, kBlocks, CallSize{kBlock, kBlock * 10}, drain,
               [&block] { OnUnityAudio(block.data(), kBlock); });
    OpenOutput::Healthy(state);
}

// The whole intake with one request per block, as the stream runs in steady
// state: latency control on (resampling, depth measurement, controller) and,
// as its yardstick, off. The CPU share is that of 48 kHz stereo in real time,
// 46.875 blocks of 2048 samples a second.
void IntakeWithRequest(benchmark::State& state, uint32_t targetMilliseconds) {
    BenchmarkPlatform::SetBufferBytes(static_cast<uint32_t>(kBlockBytes));
    CreateAudioOutput();
    SetAudioOutputLatencyTarget(targetMilliseconds);
    CreateOutputBuffer(static_cast<uint32_t>(kBlockBytes), 2, 48000, 0, 0, 0.0f, 1);
    std::vector<float> block = TestSignal(kBlock);
    RunBatches(state, kBlocks, CallSize{kBlock, kBlock * 14}, [&block] {
        OnUnityAudio(block.data(), kBlock);
        BenchmarkPlatform::RaiseRequest();
    });
    if (const auto found = state.counters.find("median_ns_per_call");
        found != state.counters.end()) {
        constexpr double kBlocksPerSecond = 48000.0 * 2 / kBlock;
        state.counters["cpu_percent_48k_stereo"] = found->second * kBlocksPerSecond * 1e-9 * 100;
    }
    ZVAudioOutputStats stats{};
    GetAudioOutputStats(&stats);
    if (stats.samplesDropped != 0 || BenchmarkPlatform::LogLines() != 0) {
        state.SkipWithError("samples were dropped or the plug-in logged");
    }
    DestroyAudioOutput();
}

void IntakeSteered(benchmark::State& state) {
    IntakeWithRequest(state, 40);
}

void IntakeUnsteered(benchmark::State& state) {
    IntakeWithRequest(state, 0);
}

// A change of latency target on a running stream, with a block between changes as an
// engine's control thread would leave: the call takes the exports' lock and the stream's,
// and must cost microseconds, not the milliseconds that building a steering took.
void ControlChangeTarget(benchmark::State& state) {
    BenchmarkPlatform::SetBufferBytes(static_cast<uint32_t>(kBlockBytes));
    CreateAudioOutput();
    SetAudioOutputLatencyTarget(40);
    CreateOutputBuffer(static_cast<uint32_t>(kBlockBytes), 2, 48000, 0, 0, 0.0f, 1);
    std::vector<float> block = TestSignal(kBlock);
    uint32_t target = 40;
    RunBatches(
        state, 64, CallSize{1, 0},
        [&block] {
            OnUnityAudio(block.data(), kBlock);
            BenchmarkPlatform::RaiseRequest();
        },
        [&target] {
            target = target == 40 ? 41 : 40;
            SetAudioOutputLatencyTarget(target);
        });
    DestroyAudioOutput();
}

// The export's bare conversion into a scratch buffer, timed the same way.
void IntakeConvert(benchmark::State& state) {
    const std::vector<float> block = TestSignal(kBlock);
    std::vector<int16_t> scratch(kBlock);
    RunBatches(state, kBlocks, CallSize{kBlock, kBlock * 6}, [&] {
        zvaudio::ConvertToPcm16(block.data(), scratch.data(), kBlock);
        benchmark::DoNotOptimize(scratch.data());
        benchmark::ClobberMemory();
    });
}

void FillRequest(benchmark::State& state) {
    OpenOutput output;
    if (!OpenOutput::Healthy(state)) {
        return;
    }
    std::vector<float> block = TestSignal(kBlock);
    // Refilled outside the timed region, so every request finds a full buffer's worth.
    const auto refill = [&block] {
        for (int i = 0; i < kBlocks; ++i) {
            OnUnityAudio(block.data(), kBlock);
        }
    };
    RunBatches(state, kBlocks, BlockCall(1), refill, [] { BenchmarkPlatform::RaiseRequest(); });
    OpenOutput::Healthy(state);
}

// memcpy of one platform buffer's bytes out of ring-sized storage, after the
// same untimed refill traffic as the request path, so that both find the
// queued samples equally warm in the cache.
void FillMemcpy(benchmark::State& state) {
    CacheLineSamples storage(kRingSamples);
    const CacheLineSamples converted = SampleBlock();
    CacheLineSamples lent(kBlock);
    StoragePosition in;
    StoragePosition out;
    const auto refill = [&] {
        for (int i = 0; i < kBlocks; ++i) {
            std::memcpy(storage.data() + in.Next(), converted.data(), kBlockBytes);
        }
        benchmark::ClobberMemory();
    };
    RunBatches(state, kBlocks, BlockCall(1), refill, [&] {
        std::memcpy(lent.data(), storage.data() + out.Next(), kBlockBytes);
        benchmark::DoNotOptimize(lent.data());
        benchmark::ClobberMemory();
    });
}

// ---- How long streamMutex is held -----------------------------------------------------
// The locked sections of the intake and of a fill, replicated step for step
// with the real ring, a real std::mutex, the same statistics updates and the
// benchmark platform's fetch and release. The figure covers locking, the work
// under the lock and unlocking, uncontended.

struct LockedState {
    std::mutex mutex;
    zvaudio::SampleRingBuffer ring{kRingSamples};
    ZVSoundHandle handle = 1;
    std::atomic<bool> requested{false};
    ZVAudioOutputStats stats{};
};

void LockedWrite(LockedState& s, const CacheLineSamples& converted) {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.handle == kInvalidSoundHandle) {
        return;
    }
    const uint64_t queuedBefore = s.ring.Available();
    s.ring.Write(converted.data(), kBlock);
    s.stats.samplesQueued += kBlock;
    s.stats.samplesDropped += queuedBefore + kBlock - s.ring.Available();
    if (s.requested.load(std::memory_order_relaxed)) {
        s.requested.exchange(false);
    }
}

void LockedFill(LockedState& s, ZVSoundHandle requestHandle) {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (requestHandle != s.handle) {
        return;
    }
    if (s.ring.Available() == 0) {
        s.requested.exchange(true);
        ++s.stats.requestsDeferred;
        return;
    }
    if (s.requested.load(std::memory_order_relaxed)) {
        s.requested.exchange(false);
    }
    AudioOutputBuffer buffer{nullptr, 0};
    if (ZVAudioGetOutputBuffer(s.handle, &buffer) != kResultOk) {
        return;
    }
    const uint32_t capacity = buffer.data != nullptr ? buffer.size / 2 : 0;
    auto* const samples = static_cast<int16_t*>(buffer.data);
    const uint32_t taken = s.ring.Take(samples, capacity);
    if (taken < capacity) {
        std::memset(samples + taken, 0, size_t{capacity - taken} * sizeof(int16_t));
    }
    s.stats.samplesDelivered += taken;
    s.stats.silenceSamples += capacity - taken;
    ZVAudioReleaseOutputBuffer(s.handle);
    ++s.stats.buffersFilled;
}

// The least a fill can do under the same rules: lock, take, pad, release. No
// handle test, no pending-request flag, no statistics: the reference that
// shows what the request path's own bookkeeping costs.
void MinimalFill(LockedState& s) {
    std::lock_guard<std::mutex> lock(s.mutex);
    AudioOutputBuffer buffer{nullptr, 0};
    if (ZVAudioGetOutputBuffer(s.handle, &buffer) != kResultOk) {
        return;
    }
    auto* const samples = static_cast<int16_t*>(buffer.data);
    const uint32_t capacity = buffer.size / 2;
    const uint32_t taken = s.ring.Take(samples, capacity);
    if (taken < capacity) {
        std::memset(samples + taken, 0, size_t{capacity - taken} * sizeof(int16_t));
    }
    ZVAudioReleaseOutputBuffer(s.handle);
}

void LockIntake(benchmark::State& state) {
    LockedState s;
    const CacheLineSamples converted = SampleBlock();
    CacheLineSamples drained(kBlock);
    const auto drain = [&] {
        for (int i = 0; i < kBlocks; ++i) {
            s.ring.Take(drained.data(), kBlock);
        }
    };
    RunBatches(state, kBlocks, BlockCall(1), drain, [&] { LockedWrite(s, converted); });
    if (s.stats.samplesDropped != 0) {
        state.SkipWithError("the ring overflowed");
    }
}

// Times `fill` on a ring refilled outside the timed region with a buffer's
// worth per fill; false when a fill found the ring short.
template <typename Fill>
bool TimeLockedFills(benchmark::State& state, LockedState& s, Fill&& fill) {
    BenchmarkPlatform::SetBufferBytes(static_cast<uint32_t>(kBlockBytes));
    const CacheLineSamples converted = SampleBlock();
    const auto refill = [&] {
        for (int i = 0; i < kBlocks; ++i) {
            s.ring.Write(converted.data(), kBlock);
        }
    };
    RunBatches(state, kBlocks, BlockCall(1), refill, fill);
    return s.ring.Available() == 0;
}

void LockFill(benchmark::State& state) {
    LockedState s;
    TimeLockedFills(state, s, [&] { LockedFill(s, s.handle); });
    if (s.stats.silenceSamples != 0) {
        state.SkipWithError("a fill found the ring short");
    }
}

void LockMinimalFill(benchmark::State& state) {
    LockedState s;
    if (!TimeLockedFills(state, s, [&] { MinimalFill(s); })) {
        state.SkipWithError("a fill took less than a buffer");
    }
}

// memcpy of one block's bytes into ring-sized storage, after the same untimed
// drain traffic as the locked intake.
void LockMemcpyIn(benchmark::State& state) {
    CacheLineSamples storage(kRingSamples);
    const CacheLineSamples converted = SampleBlock();
    CacheLineSamples drained(kBlock);
    StoragePosition in;
    StoragePosition out;
    const auto drain = [&] {
        for (int i = 0; i < kBlocks; ++i) {
            std::memcpy(drained.data(), storage.data() + out.Next(), kBlockBytes);
        }
        benchmark::ClobberMemory();
    };
    RunBatches(state, kBlocks, BlockCall(1), drain, [&] {
        std::memcpy(storage.data() + in.Next(), converted.data(), kBlockBytes);
        benchmark::DoNotOptimize(storage.data());
        benchmark::ClobberMemory();
    });
}

} // namespace

void RegisterPathBenchmarks() {
    benchmark::RegisterBenchmark("Ring/WriteTake/2048", RingWriteTake)->UseManualTime();
    benchmark::RegisterBenchmark("Ring/Memcpy/2048", RingMemcpy)->UseManualTime();
    benchmark::RegisterBenchmark("Intake/Export/2048", IntakeExport)->UseManualTime();
    benchmark::RegisterBenchmark("Intake/Convert/2048", IntakeConvert)->UseManualTime();
    benchmark::RegisterBenchmark("Intake/Steered/2048", IntakeSteered)->UseManualTime();
    benchmark::RegisterBenchmark("Intake/Unsteered/2048", IntakeUnsteered)->UseManualTime();
    benchmark::RegisterBenchmark("Control/ChangeTarget", ControlChangeTarget)->UseManualTime();
    benchmark::RegisterBenchmark("Fill/Request/2048", FillRequest)->UseManualTime();
    benchmark::RegisterBenchmark("Fill/Memcpy/2048", FillMemcpy)->UseManualTime();
    benchmark::RegisterBenchmark("Lock/Intake/2048", LockIntake)->UseManualTime();
    benchmark::RegisterBenchmark("Lock/MemcpyIn/2048", LockMemcpyIn)->UseManualTime();
    benchmark::RegisterBenchmark("Lock/Fill/2048", LockFill)->UseManualTime();
    benchmark::RegisterBenchmark("Lock/MinimalFill/2048", LockMinimalFill)->UseManualTime();
}

} // namespace zvbench
