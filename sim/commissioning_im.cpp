#include "sim/commissioning_im.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace qv::sim {

namespace {

// A single float as the controller would hold it: beyond its range it is infinite.
float single(double v) {
    if (std::isnan(v) || std::fabs(v) <= FLT_MAX) return static_cast<float>(v);
    return v > 0 ? HUGE_VALF : -HUGE_VALF;
}

CanFrame::Data floats(float a, float b) {
    CanFrame::Data d{};
    std::memcpy(d.data(), &a, 4);
    std::memcpy(d.data() + 4, &b, 4);
    return d;
}

constexpr double kStatusDelayMs = 20;
constexpr double kMeasureDelayMs = 300;  // the measurement itself
constexpr double kFrameGapMs = 0.5;

}  // namespace

std::complex<double> InductionMotorTool::impedance(double omega) const {
    const std::complex<double> s(0, omega);
    const double rs = motor_.resistanceOhm, rr = motor_.rotorResistanceOhm;
    const double lls = motor_.leakageInductanceHenry, lm = motor_.magnetisingInductanceHenry;
    return rs + s * lls + (s * lm * rr) / (rr + s * lm);
}

double InductionMotorTool::sweepVolts(double omega) const {
    return motor_.imCurrentAmps *
           std::sqrt(std::abs(impedance(kFirstOmega)) * std::abs(impedance(omega)));
}

// The state (stator current, magnetising current) relaxes from rest to V/Rs in both along the
// two real eigenvalues of the circuit's state equations
//   Lls·dis/dt = V − Rs·is − Rr·(is − im),   Lm·dim/dt = Rr·(is − im).
double InductionMotorTool::stepCurrent(double volts, double t) const {
    if (t <= 0) return 0;
    const double rs = motor_.resistanceOhm, rr = motor_.rotorResistanceOhm;
    const double lls = motor_.leakageInductanceHenry, lm = motor_.magnetisingInductanceHenry;
    const double trace = -(rs + rr) / lls - rr / lm;
    const double det = rs * rr / (lls * lm);
    const double root = std::sqrt(std::max(trace * trace - 4 * det, 0.0));
    const double fast = (trace - root) / 2;  // both negative; computed without cancellation
    const double slow = det / fast;
    const double k = lm / rr;
    const double final = volts / rs;
    const double cFast = final * slow / (fast - slow);
    const double cSlow = -final * fast / (fast - slow);
    return final + cFast * (1 + fast * k) * std::exp(fast * t) +
           cSlow * (1 + slow * k) * std::exp(slow * t);
}

std::vector<ToolReply> InductionMotorTool::acquire(const ToolSetting& setting) {
    const int n = motor_.imFrameCount();
    const int mode = motor_.imMode;
    std::normal_distribution<double> noise(0, motor_.noisePercent / 100);
    std::vector<ToolReply> out;
    out.push_back(
        {kStatusDelayMs, true,
         replyWords(static_cast<std::uint16_t>(n),
                    static_cast<std::uint16_t>(static_cast<std::int16_t>(motor_.imInterval)),
                    static_cast<std::uint16_t>(mode), 2)});
    const auto frame = [&](int i, float a, float b) {
        out.push_back({i == 0 ? kMeasureDelayMs : kFrameGapMs, false, floats(a, b)});
    };
    if (mode == 1) {
        // Sample 0 before the step, sample j at (j − 1)·S·100 us after it.
        const double volts = stepVolts();
        const double dt = std::max(motor_.imInterval, 1) * 1e-4;
        const double sigma = motor_.imCurrentAmps;
        const auto sample = [&](int j) {
            const double amps = j == 0 ? 0 : stepCurrent(volts, (j - 1) * dt);
            return single(kSensorOffsetAmps + amps + sigma * noise(*setting.rng));
        };
        for (int i = 0; i < n; ++i) {
            const float first = sample(2 * i);
            frame(i, first, sample(2 * i + 1));
        }
    } else {
        // The sweep, also sent (and meant to be ignored) for a mode the tool does not know.
        double omega = kFirstOmega;
        for (int i = 0; i < n; ++i, omega *= kOmegaRatio) {
            const double volts = sweepVolts(omega);
            const double amps = volts / std::abs(impedance(omega)) * (1 + noise(*setting.rng));
            frame(i, single(amps), single(volts));
        }
    }
    return out;
}

namespace {

std::unique_ptr<SimTool> makeImTool(const Options& options, const SimDevice&) {
    return std::make_unique<InductionMotorTool>(options.commissioning.motor);
}

}  // namespace

QV_SIM_COMMISSIONING_TOOL(induction_motor, makeImTool);

}  // namespace qv::sim
