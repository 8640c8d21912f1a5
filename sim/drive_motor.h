#pragma once
// The motor of a simulated controller under drive commands: its velocity follows the velocity
// setpoint (within the configuration's speed limit) as fast as the current setpoint lets it,
// and without a drive command for kDriveTimeoutMs the controller brings it to a stop, as a
// real controller's command time-out does. Time is given by the caller (milliseconds).
#include <optional>

#include "sim/telemetry_model.h"

namespace qv::sim {

// Without a drive command for this long the controller stops the motor.
inline constexpr double kDriveTimeoutMs = 1000.0;
// Acceleration at full motor current (setpoint 1.0), rpm per second.
inline constexpr double kFullCurrentAccel = 4000.0;
// Deceleration with no torque applied (current setpoint 0), rpm per second.
inline constexpr double kCoastDecel = 100.0;
// Deceleration of a stop after the command time-out, rpm per second.
inline constexpr double kStopDecel = 2000.0;
// Bus current drawn at full motor current, and with the motor idle, amperes.
inline constexpr double kFullBusCurrentA = 60.0;
inline constexpr double kIdleBusCurrentA = 1.5;

class DriveMotor {
  public:
    // A drive command: velocity setpoint (rpm, limited to +-speedLimit) and current setpoint
    // (fraction 0..1, clamped).
    void command(double velocityRpm, double current, double speedLimit, double nowMs);
    // A bus-current command: the share (0..1, clamped) of the bus current allowed.
    void limitBusCurrent(double share) { busShare_ = clampShare(share); }
    // The controller was reset: no command, full bus current, the motor keeps its momentum.
    void forget();
    // Moves the motor on to `nowMs`.
    void advance(double nowMs);

    double rpm() const { return rpm_; }
    bool commanded(double nowMs) const;
    bool everCommanded() const { return lastCommandMs_.has_value(); }
    DrivenMotor state() const { return {rpm_, busCurrentA_}; }

  private:
    static double clampShare(double share);
    void stepToward(double target, double rate, double dt);

    std::optional<double> lastCommandMs_;
    std::optional<double> lastMs_;
    double targetRpm_ = 0;
    double current_ = 0;
    double busShare_ = 1.0;
    double rpm_ = 0;
    double busCurrentA_ = kIdleBusCurrentA;
};

}  // namespace qv::sim
