// The built-in programme the demo plays when no WAV file is given.
#pragma once

#include <cstdint>
#include <vector>

namespace zvdemo {

class TestSignal {
public:
    static constexpr uint32_t kSampleRate = 48000;
    static constexpr uint32_t kChannels = 2;
    // -6 dBFS: the sum of the partials never exceeds half of full scale.
    static constexpr float kPeak = 0.5f;
    static constexpr double kFadeSeconds = 0.05;

    // A major chord spread over the two channels, with a slow swell and
    // raised-cosine fades in and out so that neither end clicks.
    // Interleaved stereo at kSampleRate.
    static std::vector<float> Chord(double seconds);

    static const char* Description() { return "A major chord, stereo, -6 dBFS"; }

    // -1 dBFS.
    static constexpr double kTonePeak = 0.8912509381337456;

    // A pure sine of `hz` in both channels at kTonePeak, with the chord's fades,
    // so that only its ends (which the measurement skips) are not pure.
    // Interleaved stereo at kSampleRate.
    static std::vector<float> Tone(double hz, double seconds);
};

} // namespace zvdemo
