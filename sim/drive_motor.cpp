#include "sim/drive_motor.h"

#include <algorithm>
#include <cmath>

namespace qv::sim {

double DriveMotor::clampShare(double share) {
    return std::isfinite(share) ? std::clamp(share, 0.0, 1.0) : 0.0;
}

void DriveMotor::command(double velocityRpm, double current, double speedLimit, double nowMs) {
    advance(nowMs);
    const double limit = std::isfinite(speedLimit) ? std::max(0.0, speedLimit) : 0.0;
    targetRpm_ = std::clamp(velocityRpm, -limit, limit);
    current_ = clampShare(current);
    lastCommandMs_ = nowMs;
}

void DriveMotor::forget() {
    lastCommandMs_.reset();
    current_ = 0;
    busShare_ = 1.0;
}

bool DriveMotor::commanded(double nowMs) const {
    return lastCommandMs_ && nowMs - *lastCommandMs_ < kDriveTimeoutMs;
}

void DriveMotor::stepToward(double target, double rate, double dt) {
    const double step = rate * dt;
    rpm_ = rpm_ < target ? std::min(target, rpm_ + step) : std::max(target, rpm_ - step);
}

void DriveMotor::advance(double nowMs) {
    const double dt = lastMs_ ? std::max(0.0, (nowMs - *lastMs_) / 1000.0) : 0.0;
    lastMs_ = nowMs;
    // The bus-current limit caps the torque the controller can give.
    const double effort = std::min(current_, busShare_);
    if (!commanded(nowMs)) {
        stepToward(0.0, everCommanded() ? kStopDecel : kCoastDecel, dt);
        busCurrentA_ = kIdleBusCurrentA;
    } else if (effort > 0 && rpm_ != targetRpm_) {
        stepToward(targetRpm_, kFullCurrentAccel * effort, dt);
        busCurrentA_ = kIdleBusCurrentA + kFullBusCurrentA * effort;
    } else if (effort > 0) {
        // Holding the speed against friction.
        busCurrentA_ = kIdleBusCurrentA + 0.002 * std::abs(rpm_);
    } else {
        stepToward(0.0, kCoastDecel, dt);
        busCurrentA_ = kIdleBusCurrentA;
    }
}

}  // namespace qv::sim
