#pragma once

#include <algorithm>
#include <limits>

namespace zvaudio {

// The lowest, the highest and the mean of the queue depths seen over the last one to two
// windows of time, in constant time and space: the current window and the one before it
// together. A sample may count towards the mean as measured one way (on smoothed time) and
// towards the extremes as it stood, and may rise at once after it is taken (a block
// written): `high` says how far.
class DepthWindow {
public:
    void Add(double depth, double now, double windowSeconds) {
        Add(depth, depth, depth, now, windowSeconds);
    }

    void Add(double meanSample, double depth, double high, double now, double windowSeconds) {
        if (now - windowStart >= windowSeconds) {
            // A gap of more than a window leaves nothing of the old ones.
            previous = now - windowStart >= 2.0 * windowSeconds ? Bucket{} : current;
            current = Bucket{};
            windowStart = now;
        }
        current.lowest = std::min(current.lowest, depth);
        current.highest = std::max(current.highest, high);
        current.sum += meanSample;
        ++current.count;
    }

    bool Empty() const { return current.count + previous.count == 0; }
    // +infinity while empty.
    double Lowest() const { return std::min(current.lowest, previous.lowest); }
    // -infinity while empty.
    double Highest() const { return std::max(current.highest, previous.highest); }
    // 0 while empty.
    double Mean() const {
        const double count = current.count + previous.count;
        return count > 0 ? (current.sum + previous.sum) / count : 0.0;
    }

    // Every depth remembered moves by delta (the queue lost or gained that much).
    void Shift(double delta) {
        current.Shift(delta);
        previous.Shift(delta);
    }

    void Clear() { current = previous = Bucket{}; }

private:
    struct Bucket {
        double lowest = std::numeric_limits<double>::infinity();
        double highest = -std::numeric_limits<double>::infinity();
        double sum = 0.0;
        double count = 0.0;

        void Shift(double delta) {
            lowest += delta;
            highest += delta;
            sum += delta * count;
        }
    };

    Bucket current;
    Bucket previous;
    double windowStart = -std::numeric_limits<double>::infinity();
};

} // namespace zvaudio
