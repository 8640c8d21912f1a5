#pragma once
// The fit's inputs as the induction-motor extraction prepares them from an acquisition.
//
// Frequency sweep (acquisition mode 0): one voltage amplitude (mV) and one current amplitude (A)
// per excitation frequency; the frequencies start at 0.1 Hz and rise by 15 % a point.
// Step response (acquisition mode 1): current samples (A) at a fixed interval S in 100 µs units;
// the first sample is the zero reference and is not fitted.
#include <cstddef>
#include <span>
#include <vector>

#include "tools/im_fit.h"

namespace qv {

inline constexpr double kSweepFirstOmega = 0.6283185307179586;  // rad/s, 0.1 Hz
inline constexpr double kSweepOmegaRatio = 1.15;
inline constexpr int kSweepIterations = 100000;
inline constexpr int kStepIterations = 20000;
// (Rr/Rs, Lm/Rs, Lls/Rs, I∞, t0)
inline constexpr ImParameters kStepStart = {0.3, 0.1, 0.01, 20.0, 0.0};
// The controller reports S as a signed 16-bit number.
inline constexpr int kStepIntervalMax = 32767;

struct ImFitInput {
    ImModel model = ImModel::FrequencyResponse;
    std::vector<double> y;          // measured currents (A)
    std::vector<double> amplitude;  // voltage amplitudes (mV); a single 0.0 for the step model
    std::vector<double> x;          // ω (rad/s) or t (s)
    ImParameters start{};
    int iterations = 0;
};

// ω_0 = 0.6283185307179586 rad/s, ω_k = ω_(k−1)·1.15.
std::vector<double> sweepFrequencies(std::size_t count);
// ln ω_k, the plot's abscissae.
std::vector<double> logFrequencies(std::span<const double> omega);

// Start values (V_0/I_0, V_0/I_0, 1.0, 10.0, 0.0) and 100,000 iterations. Throws
// std::invalid_argument when the lists are empty or of different lengths.
ImFitInput sweepFitInput(std::span<const double> amplitudeV, std::span<const double> currentA);

// t_i = i·S/10000 s and y_i = I_(i+1) − I_0 for i = 0 … T−2, start values kStepStart and
// 20,000 iterations. Throws std::invalid_argument for fewer than 2 samples or S outside
// 1 … kStepIntervalMax.
ImFitInput stepFitInput(std::span<const double> currentA, int samplingInterval);

inline ImFitResult runFit(const ImFitInput& in, const std::atomic<bool>* cancel = nullptr) {
    return fitModel(in.model, in.y, in.amplitude, in.x, in.start, in.iterations, cancel);
}

}  // namespace qv
