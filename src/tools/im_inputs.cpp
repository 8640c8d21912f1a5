#include "tools/im_inputs.h"

#include <cmath>
#include <stdexcept>

namespace qv {

std::vector<double> sweepFrequencies(std::size_t count) {
    std::vector<double> omega(count);
    for (std::size_t k = 0; k < count; ++k)
        omega[k] = k == 0 ? kSweepFirstOmega : omega[k - 1] * kSweepOmegaRatio;
    return omega;
}

std::vector<double> logFrequencies(std::span<const double> omega) {
    std::vector<double> logs(omega.size());
    for (std::size_t k = 0; k < omega.size(); ++k) logs[k] = std::log(omega[k]);
    return logs;
}

ImFitInput sweepFitInput(std::span<const double> amplitudeV, std::span<const double> currentA) {
    if (amplitudeV.empty()) throw std::invalid_argument("the sweep has no points");
    if (amplitudeV.size() != currentA.size())
        throw std::invalid_argument("the sweep needs one current per voltage amplitude");
    ImFitInput in;
    in.model = ImModel::FrequencyResponse;
    in.y.assign(currentA.begin(), currentA.end());
    in.amplitude.assign(amplitudeV.begin(), amplitudeV.end());
    in.x = sweepFrequencies(amplitudeV.size());
    const double r = amplitudeV[0] / currentA[0];
    in.start = {r, r, 1.0, 10.0, 0.0};
    in.iterations = kSweepIterations;
    return in;
}

ImFitInput stepFitInput(std::span<const double> currentA, int samplingInterval) {
    if (currentA.size() < 2)
        throw std::invalid_argument("the step response needs samples after the zero reference");
    if (samplingInterval < 1 || samplingInterval > kStepIntervalMax)
        throw std::invalid_argument("the sampling interval must be 1 to 32767 (100 us units)");
    ImFitInput in;
    in.model = ImModel::StepResponse;
    const std::size_t points = currentA.size() - 1;
    in.y.resize(points);
    in.x.resize(points);
    for (std::size_t i = 0; i < points; ++i) {
        in.x[i] = static_cast<double>(i) * samplingInterval / 10000.0;
        in.y[i] = currentA[i + 1] - currentA[0];
    }
    in.amplitude = {0.0};
    in.start = kStepStart;
    in.iterations = kStepIterations;
    return in;
}

}  // namespace qv
