#include "SampleRingBuffer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace zvaudio {

SampleRingBuffer::SampleRingBuffer(uint32_t capacity) {
    if (capacity > kMaxCapacity) {
        throw std::length_error("SampleRingBuffer capacity must stay below 2^31 samples");
    }
    samples.assign(capacity, 0);
}

void SampleRingBuffer::CopyIn(int32_t slot, const int16_t* source, int32_t count) {
    if (count > 0) {
        std::memcpy(samples.data() + slot, source, static_cast<size_t>(count) * sizeof(int16_t));
    }
}

void SampleRingBuffer::CopyOut(int16_t* destination, int32_t slot, int32_t count) const {
    if (count > 0) {
        std::memcpy(destination, samples.data() + slot,
                    static_cast<size_t>(count) * sizeof(int16_t));
    }
}

void SampleRingBuffer::Write(const int16_t* source, int32_t count) {
    // A zero-sample write leaves an empty ring empty: taking it literally would
    // mark the whole stale storage as queued.
    if (count <= 0) {
        return;
    }
    const int32_t cap = Cap();

    // The block alone fills the ring; everything queued before is gone.
    if (count >= cap) {
        CopyIn(0, source + (count - cap), cap);
        readIndex = 0;
        writeIndex = cap - 1;
        return;
    }

    if (readIndex == -1) {
        CopyIn(0, source, count);
        readIndex = 0;
        writeIndex = count - 1;
        return;
    }

    const int32_t w = writeIndex;
    const int32_t r = readIndex;
    const int32_t space = cap - w - 1; // slots after w up to the end of storage

    if (count <= space) {
        CopyIn(w + 1, source, count);
        writeIndex = w + count;
        // Only a run that already wraps can be caught up from behind.
        if (w < r && writeIndex >= r) {
            readIndex = (writeIndex + 1) % cap;
        }
        return;
    }

    // Wraps when the block crosses the end of storage.
    const int32_t rem = count - space;
    CopyIn(w + 1, source, space);
    CopyIn(0, source + space, rem);
    writeIndex = rem - 1;
    if (writeIndex >= r || w < r) {
        readIndex = rem % cap;
    }
}

uint32_t SampleRingBuffer::Take(int16_t* destination, uint32_t n) {
    if (readIndex == -1) {
        return 0;
    }
    const int32_t cap = Cap();
    // n beyond the capacity cannot take more than is queued.
    const int32_t want = static_cast<int32_t>(std::min<uint32_t>(n, kMaxCapacity));

    if (readIndex <= writeIndex) {
        const int32_t k = std::min(writeIndex - readIndex + 1, want);
        CopyOut(destination, readIndex, k);
        readIndex += k;
        if (readIndex > writeIndex) {
            readIndex = -1;
            writeIndex = -1;
        }
        return static_cast<uint32_t>(k);
    }

    // The queued run wraps: first the part up to the end of storage.
    const int32_t first = cap - readIndex;
    const int32_t k1 = std::min(first, want);
    CopyOut(destination, readIndex, k1);
    readIndex = (k1 == first) ? 0 : readIndex + k1;
    if (k1 == want) {
        return static_cast<uint32_t>(k1);
    }

    const int32_t k2 = std::min(writeIndex + 1, want - k1);
    CopyOut(destination + k1, 0, k2);
    if (k2 == writeIndex + 1) {
        readIndex = -1;
        writeIndex = -1;
    } else {
        readIndex = k2;
    }
    return static_cast<uint32_t>(k1 + k2);
}

} // namespace zvaudio
