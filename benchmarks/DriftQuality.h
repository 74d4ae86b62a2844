#pragma once

#include "DriftCorrector.h"

#include <cstddef>

// What a drift corrector does to the sound, measured on sines and a pulse that
// pass through it in 1024-frame blocks, as the benchmarks feed it.
namespace zvbench {

constexpr size_t kDriftBlockFrames = 1024;

// The two ratio schedules: a constant correction, and one that sweeps the whole
// range a controller may use, changing on every block.
double ConstantDriftRatio();          // 1 + 300 ppm
double SweptDriftRatio(size_t block); // 1 + 1000 ppm * sin(2 pi block / 94), about 2 s a turn

struct DriftQuality {
    // SINAD of a -1 dBFS sine, the worse channel. Constant ratio: one sine fit over
    // 65536 frames. Swept: the output of each block fitted on its own (the ratio
    // is constant within it), all blocks' residuals together, and the worst block.
    // A jump of phase at a block boundary goes unseen by the block fits. Of these
    // libraries only speexdsp rescales its phase when the ratio changes, by new /
    // old denominator, which its adapter keeps at 48000.
    double sinad997 = 0.0;
    double sinad18k = 0.0;
    double worstBlockSinad997 = 0.0;
    double worstBlockSinad18k = 0.0;
    // Level of the 18 kHz sine after the corrector, against its level before.
    double gain18kDb = 0.0;
    // Where a pulse comes out against where the ratio puts it, in output frames,
    // counting the frames the corrector has not yet given out: the latency it
    // adds to a running stream.
    double delayFrames = 0.0;
    // Ratio the output runs at (from the fitted frequency) against the one asked for.
    double ratioErrorPpm = 0.0;
    // Blocks whose ratio the library refused.
    size_t refusedRatios = 0;
};

DriftQuality MeasureConstantRatio(const DriftSubject& subject);
DriftQuality MeasureSweptRatio(const DriftSubject& subject);

} // namespace zvbench
