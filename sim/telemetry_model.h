#pragma once
// Plausible measurements of a controller driving a motor: values that change smoothly with time
// (a velocity ramp, bus voltage near 96 V, temperatures between 30 and 40 degrees), packed into
// the telemetry messages at base + 0x01 to 0x0E and 0x17. A charger with active motor 0 reports
// charger quantities in the same messages instead (charging the 96 V pack).
#include <array>
#include <cstdint>
#include <optional>

namespace qv::sim {

// The motor as drive commands make it turn (sim/drive_behaviour.h).
struct DrivenMotor {
    double rpm = 0;
    double busCurrentA = 0;
};

class TelemetryModel {
  public:
    // From the first drive command on, the motor reports what the commands make of it instead
    // of ramping on its own.
    void setDriven(const DrivenMotor& motor) { driven_ = motor; }
    enum class Kind { kMotorController, kIsolatedCharger, kGridTieCharger };

    // The kind of device follows its announced type code (0x4000, 0x4001: chargers).
    static Kind kindOf(std::uint32_t product);
    void setKind(Kind kind) { kind_ = kind; }
    void setActiveMotor(std::uint16_t motor) { activeMotor_ = motor; }
    std::uint16_t activeMotor() const { return activeMotor_; }
    bool chargerMode() const { return kind_ != Kind::kMotorController && activeMotor_ == 0; }

    // Brings the values to time `nowMs` (integrating odometer and charge since the last call).
    void advance(double nowMs);
    // The eight data bytes of the message at base + offset; nothing for an offset that carries
    // no telemetry.
    std::optional<std::array<std::uint8_t, 8>> message(std::uint32_t offset) const;

    double motorRpm() const { return rpm_; }
    double busVoltage() const { return busVoltage_; }
    double odometerM() const { return odometer_; }

    static constexpr std::array<std::uint32_t, 15> kOffsets = {
        0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x17};
    static bool isTelemetryOffset(std::uint32_t offset);

  private:
    std::optional<std::array<std::uint8_t, 8>> chargerMessage(std::uint32_t offset) const;

    std::optional<double> startMs_;
    std::optional<DrivenMotor> driven_;
    double lastMs_ = 0;
    double t_ = 0;  // seconds since the first call
    double rpm_ = 0;
    double vehicle_ = 0;
    double busVoltage_ = 96.0;
    double busCurrent_ = 0;
    double odometer_ = 0;
    double charge_ = 0;
    Kind kind_ = Kind::kMotorController;
    std::uint16_t activeMotor_ = 0;
    double energyKwh_ = 0;  // charger mode: energy delivered
};

}  // namespace qv::sim
