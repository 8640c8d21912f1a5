#pragma once
// A simulated controller obeys the driver-controls node: the drive command at
// `driverControlsBaseAddress` + 1 (velocity rpm, current 0..1) and the bus-current command at
// + 2 (misc value, bus current 0..1), both taken from its stored public configuration, which an
// upload may change. Its telemetry then reports the driven motor (DriveMotor).
#include <cstdint>
#include <optional>

#include "sim/controller.h"
#include "sim/drive_motor.h"

namespace qv::sim {

struct DriveSettings {
    std::uint32_t driverControlsBase = 0;
    double speedLimit = 0;  // rpm
};

// From the public configuration stream the controller holds; nothing when it holds no intact
// public record (then the controller obeys no drive command, as one without a configuration).
std::optional<DriveSettings> driveSettings(const ObjectTable& objects);

class DriveBehaviour final : public ControllerBehaviour {
  public:
    bool onFrame(Controller&, std::uint32_t, const CanFrame&, double) override { return false; }
    bool onBusFrame(Controller& controller, const CanFrame& frame, double nowMs) override;
    void tick(Controller& controller, double nowMs) override;
    void reset() override { motor_.forget(); }

    const DriveMotor& motor() const { return motor_; }

  private:
    DriveMotor motor_;
    bool driving_ = false;  // commanded at least once: the telemetry follows the motor
};

}  // namespace qv::sim
