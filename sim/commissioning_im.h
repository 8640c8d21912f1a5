#pragma once
// Tool 3: the induction motor at standstill, measured the two ways a controller can: a
// frequency sweep (acquisition mode 0), which applies a sine voltage at 0.1 Hz and then at
// frequencies rising by 15 % a point and reports each voltage amplitude with the current
// amplitude it drove, and a step response (mode 1), which applies a voltage step and samples the
// stator current at a fixed interval, the first sample before the step. The circuit is that of
// SimMotor: Rs and Lls in series with Rr parallel to Lm.
#include <complex>
#include <vector>

#include "sim/commissioning_exchange.h"
#include "sim/commissioning_options.h"

namespace qv::sim {

class InductionMotorTool : public SimTool {
  public:
    explicit InductionMotorTool(const SimMotor& motor) : motor_(motor) {}
    std::uint16_t number() const override { return 3; }
    std::vector<ToolReply> acquire(const ToolSetting& setting) override;

    // The circuit's impedance (ohm) at angular frequency `omega` (rad/s).
    std::complex<double> impedance(double omega) const;
    // The sweep's voltage amplitude at point k: the controller raises it as the impedance grows,
    // so that the current falls only with the square root of the impedance (and starts at
    // imCurrentAmps). `omega` is the point's angular frequency.
    double sweepVolts(double omega) const;
    // The stator current `t` seconds after a step of `volts` into the circuit at rest.
    double stepCurrent(double volts, double t) const;
    // The step applied: the final current is imCurrentAmps.
    double stepVolts() const { return motor_.imCurrentAmps * motor_.resistanceOhm; }

    static constexpr double kFirstOmega = 0.6283185307179586;  // rad/s, 0.1 Hz
    static constexpr double kOmegaRatio = 1.15;
    static constexpr double kSensorOffsetAmps = 0.25;  // what the current sensor reads at 0 A

  private:
    SimMotor motor_;
};

}  // namespace qv::sim
