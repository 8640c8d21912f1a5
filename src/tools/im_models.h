#pragma once
// The two equivalent-circuit models of an induction motor at standstill: stator resistance Rs in
// series with the stator leakage inductance Lls, in series with the rotor resistance Rr in
// parallel with the magnetising inductance Lm. Z(s) = Rs + s·Lls + s·Lm·Rr / (Rr + s·Lm).
//
// The per-point pieces are inline so that the fit's vectorised loops and the per-point functions
// evaluate exactly the same expressions and so give the same bits.
#include <array>
#include <cmath>

#include "tools/im_exp.h"

namespace qv {

enum class ImModel : int {
    FrequencyResponse = 0,  // current amplitude of a frequency sweep (acquisition mode 0)
    StepResponse = 1,       // current after a voltage step (acquisition mode 1)
};

inline constexpr int kImParameterCount = 5;
// Frequency response: (Rs, Rr, Lls, Lm, Ib) in mΩ, mΩ, mH, mH, A (voltages in mV).
// Step response: (Rr/Rs, Lm/Rs, Lls/Rs, I∞, t0) in 1, H/Ω, H/Ω, A, s.
using ImParameters = std::array<double, kImParameterCount>;

// |I| = |V|·|1/Z(jω)| − Ib at angular frequency `omega` (rad/s) with voltage amplitude
// `amplitude`.
double frequencyResponseModel(const ImParameters& p, double omega, double amplitude);

// Current at time t (s) after a voltage step into Z(s) scaled by 1/Rs. Not finite when the poles
// are complex (negative discriminant).
double stepResponseModel(const ImParameters& p, double t);

namespace im_detail {

// Frequency response, split so that a term that does not depend on a parameter can be kept when
// only that parameter changes. `w2` is omega·omega.
inline double sweepNumerator(double Rr, double Lm, double w2) {
    return std::sqrt(Rr * Rr + w2 * Lm * Lm);
}
inline double sweepDenominator(double Rs, double Rr, double Lls, double Lm, double w, double w2) {
    const double re = Rs * Rr - w2 * Lls * Lm;
    const double im = w * ((Lls + Lm) * Rr + Lm * Rs);
    return std::sqrt(re * re + im * im);
}

// Step response: the poles −r1, −r2 and the weights of the two exponentials (K1 + K2 = 1).
struct StepTerms {
    double r1, r2, K1, K2;
};
inline StepTerms stepTerms(const ImParameters& p) {
    const double rho = p[0], mu = p[1], ls = p[2];
    const double alpha = mu * ls;
    const double beta = rho * ls + mu + rho * mu;
    const double s = std::sqrt(beta * beta - 4.0 * alpha * rho);
    const double r1 = (beta - s) / (2.0 * alpha);
    const double r2 = (beta + s) / (2.0 * alpha);
    const double D = r1 - r2;
    return {r1, r2, -(rho / r1 - mu) / (D * alpha), (rho / r2 - mu) / (D * alpha)};
}
// K1·(1 − e1) + K2·(1 − e2) with e1 = exp(−r1·τ), e2 = exp(−r2·τ); the current is I∞ times it.
inline double stepShape(const StepTerms& t, double e1, double e2) {
    return t.K1 * (1.0 - e1) + t.K2 * (1.0 - e2);
}

}  // namespace im_detail

}  // namespace qv
