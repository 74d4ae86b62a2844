// SINAD of a recorded sine, by a least-squares sine fit.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace zvtest {

struct SineFitResult {
    double cyclesPerSample = 0.0; // fitted frequency
    double amplitude = 0.0;
    double offset = 0.0;
    double signalPower = 0.0;   // amplitude^2 / 2
    double residualPower = 0.0; // mean square of what the fitted sine and offset leave
    double sinadDb = 0.0;       // 10 log10(signal / residual); 400 for a perfect fit
};

namespace detail {

// Solves the n x n system a x = b (row-major, n <= 4) by Gaussian elimination with
// partial pivoting; a and b are overwritten.
inline bool Solve(double (&a)[4][4], double (&b)[4], int n) {
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int r = col + 1; r < n; ++r) {
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) {
                pivot = r;
            }
        }
        if (a[pivot][col] == 0.0) {
            return false;
        }
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (int r = col + 1; r < n; ++r) {
            const double f = a[r][col] / a[col][col];
            for (int k = col; k < n; ++k) {
                a[r][k] -= f * a[col][k];
            }
            b[r] -= f * b[col];
        }
    }
    for (int r = n - 1; r >= 0; --r) {
        for (int k = r + 1; k < n; ++k) {
            b[r] -= a[r][k] * b[k];
        }
        b[r] /= a[r][r];
    }
    return true;
}

// cos(w t) and sin(w t) for t = t0, t0 + 1, ...: rotated by one step per sample, since
// evaluating them is most of a fit's time (and several times slower in some C runtimes).
// Evaluated afresh every 256 samples, so the rotation's rounding stays near 1e-14 of the
// amplitude, far below any residual a fit reports; the evaluation itself, at |w t| up to
// 1e6, rounds about as much.
class Phasor {
public:
    Phasor(double w, double t0) : w_(w), t_(t0), stepCos_(std::cos(w)), stepSin_(std::sin(w)) {
        Evaluate();
    }

    double Cos() const { return cos_; }
    double Sin() const { return sin_; }

    void Advance() {
        t_ += 1.0;
        if (++sinceEvaluated_ == kEvaluateEvery) {
            Evaluate();
            return;
        }
        const double nextCos = cos_ * stepCos_ - sin_ * stepSin_;
        sin_ = sin_ * stepCos_ + cos_ * stepSin_;
        cos_ = nextCos;
    }

private:
    static constexpr int kEvaluateEvery = 256;

    void Evaluate() {
        cos_ = std::cos(w_ * t_);
        sin_ = std::sin(w_ * t_);
        sinceEvaluated_ = 0;
    }

    double w_;
    double t_;
    double stepCos_;
    double stepSin_;
    double cos_ = 1.0;
    double sin_ = 0.0;
    int sinceEvaluated_ = 0;
};

} // namespace detail

// Fits x[n] = a cos(w n) + b sin(w n) + c to `count` samples taken every `stride` values
// from `samples`, times `scale` (1/32768 for 16-bit samples). Four-parameter fit (the
// frequency is refined too, Gauss-Newton from `cyclesPerSample`, which must be within
// about 1 / count of the truth), so a resampler whose ratio is a few ppm off its nominal
// value is not charged for it. Everything the fitted sine and offset do not explain
// (noise, harmonics, images, spurs, modulation) counts against the result.
template <typename Sample>
SineFitResult FitSine(const Sample* samples, size_t count, size_t stride, double cyclesPerSample,
                      double scale = 1.0) {
    SineFitResult result;
    if (count < 16) {
        return result;
    }
    std::vector<double> x(count);
    for (size_t i = 0; i < count; ++i) {
        x[i] = static_cast<double>(samples[i * stride]) * scale;
    }
    const double centre = static_cast<double>(count - 1) / 2.0;
    const double pi = 3.14159265358979323846;
    double w = 2.0 * pi * cyclesPerSample;
    double params[4] = {0.0, 0.0, 0.0, 0.0};
    // The first pass fits a, b, c at the given frequency; later passes add the frequency.
    for (int pass = 0; pass < 30; ++pass) {
        const int unknowns = pass == 0 ? 3 : 4;
        double a[4][4] = {};
        double rhs[4] = {};
        detail::Phasor phasor(w, -centre);
        for (size_t i = 0; i < count; ++i, phasor.Advance()) {
            const double t = static_cast<double>(i) - centre;
            const double cw = phasor.Cos();
            const double sw = phasor.Sin();
            const double column[4] = {cw, sw, 1.0, t * (-params[0] * sw + params[1] * cw)};
            // The normal matrix is symmetric: its upper triangle is summed, then mirrored.
            for (int r = 0; r < unknowns; ++r) {
                for (int k = r; k < unknowns; ++k) {
                    a[r][k] += column[r] * column[k];
                }
                rhs[r] += column[r] * x[i];
            }
        }
        for (int r = 1; r < unknowns; ++r) {
            for (int k = 0; k < r; ++k) {
                a[r][k] = a[k][r];
            }
        }
        if (!detail::Solve(a, rhs, unknowns)) {
            return result;
        }
        params[0] = rhs[0];
        params[1] = rhs[1];
        params[2] = rhs[2];
        if (unknowns == 4) {
            w += rhs[3];
            if (std::fabs(rhs[3]) < 1e-13) {
                break;
            }
        }
    }
    double residual = 0.0;
    detail::Phasor phasor(w, -centre);
    for (size_t i = 0; i < count; ++i, phasor.Advance()) {
        const double e = x[i] - (params[0] * phasor.Cos() + params[1] * phasor.Sin() + params[2]);
        residual += e * e;
    }
    result.cyclesPerSample = w / (2.0 * pi);
    result.amplitude = std::hypot(params[0], params[1]);
    result.offset = params[2];
    result.signalPower = result.amplitude * result.amplitude / 2.0;
    result.residualPower = residual / static_cast<double>(count);
    result.sinadDb = result.residualPower > 0.0
                         ? 10.0 * std::log10(result.signalPower / result.residualPower)
                         : 400.0;
    return result;
}

} // namespace zvtest
