// The output buffers a platform model lends to the plug-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace zvplatform {

// A fixed set of buffers, each free, lent (from a fetch to its release) or
// queued (released, waiting to be played), with one lent at a time. Free
// buffers are lent round-robin and queued ones play oldest first, so with
// several buffers the pool behaves as a device's ring of periods. Every
// buffer starts on a 64-byte boundary and the last one ends where the storage
// ends, so that with one buffer a write past it is a heap overflow to the
// address sanitizer. Takes no lock: the owner's guards it.
class BufferPool {
public:
    // Allocates every buffer, zero-filled, and frees them all; nothing is
    // allocated afterwards. May throw std::bad_alloc.
    void Allocate(uint32_t bufferCount, uint32_t samplesPerBuffer);

    uint32_t SamplesPerBuffer() const { return samplesPerBuffer; }

    // The next free buffer, now lent; null when one is lent already or none is free.
    int16_t* Lend();
    bool IsLent() const { return lent != kNoBuffer; }
    int16_t* LentData() { return Data(lent); }
    // The lent buffer joins the play queue as its newest entry.
    void QueueLent();
    // The lent buffer is free again at once, for a platform that plays nothing.
    void ReturnLent();

    // Plays one period: the oldest queued buffer is free again and returned
    // (its samples stay readable until it is lent again), or null when none
    // was queued and the period starves.
    const int16_t* PlayOldest();
    uint32_t QueuedCount() const { return queueSize; }

    // Sets every sample of every buffer.
    void Fill(int16_t value);
    // True when every byte of the lent buffer from `offsetBytes` to its end is `value`.
    bool LentBytesEqual(std::size_t offsetBytes, uint8_t value) const;

private:
    enum class State : uint8_t { Free, Lent, Queued };
    static constexpr uint32_t kNoBuffer = ~uint32_t{0};

    static constexpr std::align_val_t kAlignment{64};
    struct AlignedDelete {
        void operator()(int16_t* samples) const { ::operator delete(samples, kAlignment); }
    };

    int16_t* Data(uint32_t index) const { return storage.get() + stride * index; }

    std::unique_ptr<int16_t[], AlignedDelete> storage;
    std::size_t storageSamples = 0;
    std::size_t stride = 0; // samples from one buffer to the next
    uint32_t samplesPerBuffer = 0;
    std::vector<State> states;
    std::vector<uint32_t> playQueue; // ring of queued indices, oldest first
    uint32_t queueHead = 0;
    uint32_t queueSize = 0;
    uint32_t lent = kNoBuffer;
    uint32_t nextCandidate = 0;
};

} // namespace zvplatform
