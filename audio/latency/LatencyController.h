#pragma once

namespace zvaudio {

// Proportional-integral loop from the queue depth's error to a rate correction.
// The ring integrates the rate mismatch (depth' = correction - drift), so a PI
// loop gives a second-order system; the gains place both poles at
// kNaturalFrequency (critically damped): an unknown constant drift is learnt
// by the integral with no lasting error, and a 300 ppm drift step costs at most
// drift / (kNaturalFrequency * e), about 1.1 ms of depth. The integral is held
// within the correction bound so that it never winds up past what it may apply.
class LatencyController {
public:
    // Radians per second of audio: a time constant of 10 s, slow enough that the
    // correction moves far below audibility, fast enough to settle in well under
    // a minute.
    static constexpr double kNaturalFrequency = 0.1;
    static constexpr double kProportionalGain = 2.0 * kNaturalFrequency;           // 1/s
    static constexpr double kIntegralGain = kNaturalFrequency * kNaturalFrequency; // 1/s^2

    // How late the smoothed depth shows a correction, and how slowly the drift is learnt
    // from it while a large error is worked off.
    static constexpr double kMeasurementLagSeconds = 2.0;
    static constexpr double kDriftSeconds = 5.0;

    // maxCorrection bounds the result (a fraction, e.g. 1e-3 for 1000 ppm). With a
    // slewPerSecond (per second of audio; at most the slew the caller holds the correction
    // to), the part beyond the drift is kept to what moving at that rate brings back to the
    // drift by the time the error is worked off, so a large error is not overshot. The
    // integral then learns the drift from how fast the depth moves, not from the error.
    explicit LatencyController(double maxCorrection, double slewPerSecond = 0.0);

    // errorSeconds: smoothed depth minus target; elapsedSeconds: audio time
    // since the last update; holdIntegral keeps the integral as it is (while
    // something else removes a large error). Returns the correction to apply
    // (output samples per input sample minus 1): negative while the queue is
    // too deep.
    double Update(double errorSeconds, double elapsedSeconds, bool holdIntegral = false);

    // The correction actually applied was `applied`, not the last result (a slew limit held
    // it back): the integral is set to what gives it at this error, so that it does not
    // wind up meanwhile and overshoot afterwards (tracking anti-windup).
    void Track(double applied, double errorSeconds);

    double Correction() const { return correction; }

private:
    // -Kp x error, kept within what the slew can stop from; `stopping` says it was.
    double Proportional(double errorSeconds, bool& stopping) const;

    double maxCorrection;
    double slewPerSecond;
    double integral = 0.0; // error seconds x seconds
    double lastError = 0.0;
    double laggedCorrection = 0.0; // as the smoothed depth has seen it
    double correction = 0.0;
};

} // namespace zvaudio
