#pragma once
// The motor a simulated controller commissions: three phases with sine back-EMF, three hall
// sensors 120 degrees apart and a position sensor on the rotor, wired to the controller as
// SimMotor says; and its winding's resistance and inductance for the DC and decay tests. It
// also states what a correct analysis must find, from the motor's own geometry.
#include <array>
#include <cstdint>
#include <random>

#include "config/config_records.h"
#include "sim/commissioning_exchange.h"
#include "sim/commissioning_options.h"

namespace qv::sim {

// The three raw phase voltage inputs r1, r2, r3, in volts.
struct PhaseInputs {
    double v1 = 0;
    double v2 = 0;
    double v3 = 0;
};

struct HallEdgeTruth {
    double angle = 1.0;  // fraction of an electrical revolution in the controller's frame
    int previous = 0;
};

class MotorModel {
  public:
    explicit MotorModel(const SimMotor& motor) : m_(motor) {}

    // At rotor angle `theta` (electrical degrees, increasing as the motor turns forward).
    PhaseInputs inputs(double theta) const;
    int hallState(double theta) const;
    std::uint16_t position(double theta) const;

    // What the analysis must find: the phase order (+1 A-B-C, -1 A-C-B); for each hall state
    // the controller-frame angle of the edge by which the forward-turning motor enters it and
    // the state it leaves (states never entered: 1.0 and themselves); the pole ratio.
    int phaseOrder() const { return m_.phasesReversed ? -1 : 1; }
    std::array<HallEdgeTruth, 8> hallTable() const;
    int poleRatio() const;
    // The sensor reading (fraction) where the controller's line voltage AB crosses zero going
    // positive, for the first such crossing after rotor angle 0; later crossings read a whole
    // multiple of 1 / |pole ratio| on from it.
    double positionAtReference() const;
    // The controller frame's angle (degrees from its line voltage AB's positive crossing) at
    // rotor angle `theta`.
    double controllerAngle(double theta) const;

    const SimMotor& settings() const { return m_; }

  private:
    SimMotor m_;
};

// Tool 1: 500 samples, 1 ms apart, of the turning motor.
class PhaseAllocationTool : public SimTool {
  public:
    explicit PhaseAllocationTool(const SimMotor& motor) : model_(motor) {}
    std::uint16_t number() const override { return 1; }
    std::vector<ToolReply> acquire(const ToolSetting& setting) override;

  private:
    MotorModel model_;
};

// Tool 2: the DC V-I test and the current decay of the winding.
class PmParameterTool : public SimTool {
  public:
    explicit PmParameterTool(const SimMotor& motor) : motor_(motor) {}
    std::uint16_t number() const override { return 2; }
    std::vector<ToolReply> acquire(const ToolSetting& setting) override;

    static constexpr int kTimeBase = 10000;  // raw decay time in 0.1 ms
    static constexpr double kMaxTestCurrent = 100;
    static constexpr double kDecayStartCurrent = 50;

  private:
    SimMotor motor_;
};

}  // namespace qv::sim
