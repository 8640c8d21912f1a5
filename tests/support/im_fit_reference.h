#pragma once
// A plain, literal implementation of the induction-motor model fit: the formulas as written,
// the model evaluated P + 2 times per iteration, fresh arrays every iteration. The tests and the
// benchmark compare the library's fit with it. Also the data sets both use.
#include <cmath>
#include <cstdint>
#include <vector>

#include "tools/im_inputs.h"

namespace qv::reference {

struct LibraryExp {
    double operator()(double x) const { return std::exp(x); }
};

inline double frequencyResponse(const std::vector<double>& p, double w, double V) {
    const double Rs = p[0], Rr = p[1], Lls = p[2], Lm = p[3], Ib = p[4];
    const double num = std::sqrt(Rr * Rr + w * w * Lm * Lm);
    const double re = Rs * Rr - w * w * Lls * Lm;
    const double im = w * ((Lls + Lm) * Rr + Lm * Rs);
    return V * num / std::sqrt(re * re + im * im) - Ib;
}

template <class Exp = LibraryExp>
double stepResponse(const std::vector<double>& p, double t, Exp exp = {}) {
    const double rho = p[0], mu = p[1], ls = p[2], Iinf = p[3], t0 = p[4];
    const double alpha = mu * ls;
    const double beta = rho * ls + mu + rho * mu;
    const double s = std::sqrt(beta * beta - 4 * alpha * rho);
    const double r1 = (beta - s) / (2 * alpha);
    const double r2 = (beta + s) / (2 * alpha);
    const double D = r1 - r2;
    const double K1 = -(rho / r1 - mu) / (D * alpha);
    const double K2 = (rho / r2 - mu) / (D * alpha);
    const double tau = t + t0;
    return Iinf * (K1 * (1 - exp(-r1 * tau)) + K2 * (1 - exp(-r2 * tau)));
}

// Solves the augmented system A (P rows of P + 1) by elimination with partial pivoting; a
// column without a pivot gets 0.
inline std::vector<double> solve(std::vector<std::vector<double>> A) {
    const int P = static_cast<int>(A.size());
    std::vector<int> row(P);
    for (int i = 0; i < P; ++i) row[i] = i;
    std::vector<int> pivotRow, pivotCol;
    int pos = 0;
    for (int j = 0; j < P; ++j) {
        int best = pos;
        for (int r = pos + 1; r < P; ++r)
            if (std::fabs(A[row[r]][j]) > std::fabs(A[row[best]][j])) best = r;
        if (A[row[best]][j] == 0) continue;
        std::swap(row[pos], row[best]);
        const double v = A[row[pos]][j];
        for (int c = j; c <= P; ++c) A[row[pos]][c] /= v;
        for (int r = pos + 1; r < P; ++r) {
            const double m = A[row[r]][j];
            for (int c = j; c <= P; ++c) A[row[r]][c] -= m * A[row[pos]][c];
        }
        pivotRow.push_back(row[pos]);
        pivotCol.push_back(j);
        ++pos;
    }
    std::vector<double> delta(P, 0.0);
    for (int i = pos - 1; i >= 0; --i) {
        const int j = pivotCol[i];
        double s = 0;
        for (int k = j + 1; k < P; ++k) s += A[pivotRow[i]][k] * delta[k];
        delta[j] = A[pivotRow[i]][P] - s;
    }
    return delta;
}

struct FitResult {
    std::vector<double> p;
    std::vector<double> f;
};

template <class Exp = LibraryExp>
FitResult fitModel(int model, const std::vector<double>& y, const std::vector<double>& a,
                   const std::vector<double>& x, const std::vector<double>& start, int limit,
                   Exp exp = {}) {
    const int M = static_cast<int>(y.size());
    const int P = static_cast<int>(start.size());
    std::vector<double> p = start;
    std::vector<double> f(M, 0.0);
    auto evaluate = [&]() {
        std::vector<double> out(M, 0.0);
        for (int k = 0; k < M; ++k) {
            if (model == 0) out[k] = frequencyResponse(p, x[k], a[k]);
            if (model == 1) out[k] = stepResponse(p, x[k], exp);
        }
        return out;
    };
    for (int iteration = 0; iteration < limit; ++iteration) {
        f = evaluate();
        std::vector<double> residual(M);
        for (int k = 0; k < M; ++k) residual[k] = y[k] - f[k];
        const std::vector<double> f0 = f;
        std::vector<std::vector<double>> J(P, std::vector<double>(M));
        for (int j = 0; j < P; ++j) {
            const double remembered = p[j];
            p[j] = p[j] + 1e-6;
            f = evaluate();
            for (int k = 0; k < M; ++k) J[j][k] = (f[k] - f0[k]) / 1e-6;
            p[j] = remembered;
        }
        f = evaluate();
        for (int k = 0; k < M; ++k) residual[k] = y[k] - f[k];
        std::vector<std::vector<double>> A(P, std::vector<double>(P + 1));
        for (int i = 0; i < P; ++i)
            for (int j = 0; j < P; ++j) {
                double s = 0;
                for (int k = 0; k < M; ++k) s += J[j][k] * J[i][k];
                A[i][j] = s;
            }
        const double lambda = 100 + 900.0 * iteration / limit;
        for (int j = 0; j < P; ++j) A[j][j] = A[j][j] * (1 + lambda);
        for (int j = 0; j < P; ++j) {
            double s = 0;
            for (int k = 0; k < M; ++k) s += J[j][k] * residual[k];
            A[j][P] = s;
        }
        const std::vector<double> delta = solve(A);
        for (int j = 0; j < P; ++j) p[j] = p[j] + delta[j];
    }
    return {p, f};
}

}  // namespace qv::reference

namespace qv::test {

// Reproducible noise in [−0.5, 0.5) from a point number and a seed.
inline double imNoise(std::uint32_t k, std::uint32_t seed) {
    std::uint32_t h = k * 2654435761u ^ seed * 40503u;
    h ^= h >> 15;
    h *= 2246822519u;
    h ^= h >> 13;
    return h / 4294967296.0 - 0.5;
}

// A frequency sweep of `points` frequencies as the controller reports it: the voltage amplitude
// it applied (about `voltageMv`) and the current it measured, with relative noise.
inline ImFitInput sweepData(const ImParameters& circuit, std::size_t points, double voltageMv,
                            double noise, std::uint32_t seed) {
    const std::vector<double> omega = sweepFrequencies(points);
    std::vector<double> v(points), i(points);
    for (std::size_t k = 0; k < points; ++k) {
        v[k] = voltageMv * (1.0 + 0.02 * imNoise(std::uint32_t(k), seed + 1));
        i[k] = frequencyResponseModel(circuit, omega[k], v[k]) *
               (1.0 + noise * imNoise(std::uint32_t(k), seed));
    }
    return sweepFitInput(v, i);
}

// A step response of `samples` current samples S·100 µs apart, the first the zero reference
// `offsetA`, with absolute noise of `noiseA`.
inline ImFitInput stepData(const ImParameters& circuit, std::size_t samples, int interval,
                           double offsetA, double noiseA, std::uint32_t seed) {
    std::vector<double> current(samples);
    current[0] = offsetA;
    for (std::size_t i = 1; i < samples; ++i) {
        const double t = static_cast<double>(i - 1) * interval / 10000.0;
        current[i] =
            offsetA + stepResponseModel(circuit, t) + noiseA * imNoise(std::uint32_t(i), seed);
    }
    return stepFitInput(current, interval);
}

// The benchmark's data: a 40-point sweep at about 1.5 V (0.4 % noise) and a 200-sample step
// response 1 ms apart (0.05 A noise) of a traction-motor-like circuit.
inline ImFitInput benchmarkSweep(std::uint32_t seed = 1) {
    return sweepData({35.0, 22.0, 0.9, 6.5, 0.4}, 40, 1500.0, 0.004, seed);
}
inline ImFitInput benchmarkStep(std::uint32_t seed = 1) {
    return stepData({0.55, 0.06, 0.006, 32.0, 0.0003}, 200, 10, 0.12, 0.05, seed);
}

inline reference::FitResult referenceFit(const ImFitInput& in, int iterations) {
    return reference::fitModel(static_cast<int>(in.model), in.y, in.amplitude, in.x,
                               std::vector<double>(in.start.begin(), in.start.end()), iterations);
}

}  // namespace qv::test
