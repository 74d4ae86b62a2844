#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The drift correctors compared side by side: our resampler and the libraries a
// user would reach for to follow a drifting clock, each behind the same calls,
// so that one measurement drives them all alike.
namespace zvbench {

// Interleaved stereo float at 48 kHz in, the same out, at a ratio close to 1
// that the caller may change before every block.
class DriftCorrector {
public:
    static constexpr size_t kChannels = 2;

    virtual ~DriftCorrector() = default;

    // Output frames per input frame, for the blocks that follow. Returns the
    // ratio the library will actually run at, where its interface can express
    // only an approximation of the one asked for.
    virtual double SetRatio(double outPerIn) = 0;

    // Takes all `frames` input frames and writes at most `capacity` output
    // frames; returns how many it wrote.
    virtual size_t Process(const float* in, size_t frames, float* out, size_t capacity) = 0;
};

struct DriftSubject {
    std::string name; // as in the benchmark names: Drift/<name>/<schedule>
    std::function<std::unique_ptr<DriftCorrector>()> make;
};

// Ours first, then every peer found at build time.
const std::vector<DriftSubject>& DriftSubjects();

} // namespace zvbench
