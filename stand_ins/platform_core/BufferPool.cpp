#include "BufferPool.h"

#include <algorithm>
#include <cstring>

namespace zvplatform {

namespace {

constexpr std::size_t kAlignmentSamples = 64 / sizeof(int16_t);

} // namespace

void BufferPool::Allocate(uint32_t bufferCount, uint32_t samples) {
    samplesPerBuffer = samples;
    stride = (std::size_t{samples} + kAlignmentSamples - 1) / kAlignmentSamples * kAlignmentSamples;
    storageSamples = bufferCount == 0 ? 0 : stride * (bufferCount - 1) + samples;
    // Exactly the samples used, so nothing lies between the last buffer's end and the heap's.
    storage.reset(
        static_cast<int16_t*>(::operator new(storageSamples * sizeof(int16_t), kAlignment)));
    std::fill(storage.get(), storage.get() + storageSamples, int16_t{0});
    states.assign(bufferCount, State::Free);
    playQueue.assign(bufferCount, kNoBuffer);
    queueHead = 0;
    queueSize = 0;
    lent = kNoBuffer;
    nextCandidate = 0;
}

int16_t* BufferPool::Lend() {
    if (lent != kNoBuffer) {
        return nullptr;
    }
    // Wrapped by comparison, not division: a fetch is on the timed request path.
    const auto count = static_cast<uint32_t>(states.size());
    uint32_t candidate = nextCandidate;
    for (uint32_t i = 0; i < count; ++i) {
        if (states[candidate] == State::Free) {
            states[candidate] = State::Lent;
            lent = candidate;
            nextCandidate = candidate + 1 == count ? 0 : candidate + 1;
            return Data(candidate);
        }
        candidate = candidate + 1 == count ? 0 : candidate + 1;
    }
    return nullptr;
}

void BufferPool::QueueLent() {
    if (lent == kNoBuffer) {
        return;
    }
    states[lent] = State::Queued;
    const auto capacity = static_cast<uint32_t>(playQueue.size());
    playQueue[(queueHead + queueSize) % capacity] = lent;
    ++queueSize;
    lent = kNoBuffer;
}

void BufferPool::ReturnLent() {
    if (lent != kNoBuffer) {
        states[lent] = State::Free;
        lent = kNoBuffer;
    }
}

const int16_t* BufferPool::PlayOldest() {
    if (queueSize == 0) {
        return nullptr;
    }
    const uint32_t index = playQueue[queueHead];
    states[index] = State::Free;
    queueHead = (queueHead + 1) % static_cast<uint32_t>(playQueue.size());
    --queueSize;
    return Data(index);
}

void BufferPool::Fill(int16_t value) {
    std::fill(storage.get(), storage.get() + storageSamples, value);
}

bool BufferPool::LentBytesEqual(std::size_t offsetBytes, uint8_t value) const {
    if (lent == kNoBuffer) {
        return true;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(Data(lent));
    const std::size_t size = std::size_t{samplesPerBuffer} * sizeof(int16_t);
    return std::all_of(bytes + std::min(offsetBytes, size), bytes + size,
                       [value](uint8_t b) { return b == value; });
}

} // namespace zvplatform
