#pragma once
// The latest measurements of the selected device, as its telemetry messages carry them, and
// the decoding of one message into them.
#include <cstdint>

#include "link/can_frame.h"

namespace qv {

// Members in their fixed order; floats unless noted. The telemetry log reads them as they are.
struct TelemetryValues {
    float currentSetpoint = 0;   // fraction 0 to 1
    float velocitySetpoint = 0;  // rpm
    float busCurrentSetpoint = 0;
    float miscSetpoint = 0;
    std::int32_t limitFlags = 0;
    std::int32_t errorFlags = 0;
    std::int32_t activeMotor = 0;
    std::int32_t lastActiveMotor = -1;  // the first status message always re-labels the panel
    std::int32_t canTransmitErrors = 0;
    std::int32_t canReceiveErrors = 0;
    float busVoltage = 0;
    float busCurrent = 0;       // grid-tie charger in charger mode: grid OK when > 0.5
    float motorVelocity = 0;    // rpm; grid frequency (Hz) for the grid-tie charger in charger mode
    float vehicleVelocity = 0;  // m/s
    float phaseCCurrent = 0;
    float phaseBCurrent = 0;
    float outputVoltageD = 0;
    float outputVoltageQ = 0;
    float outputCurrentD = 0;
    float outputCurrentQ = 0;
    float backEmf = 0;
    float rail15V = 0;
    float rail3V3 = 0;
    float hiddenVoltage = 0;  // bytes 0-3 of offset 0x08
    float rail1V9 = 0;
    float speedRpm0A = 0;  // bytes 4-7 of offset 0x0A, stored only
    float ratio0A = 0;     // bytes 0-3 of offset 0x0A, stored only
    float dspTemperature = 0;
    float phaseATemperature = 0;
    float motorTemperature = 0;
    float phaseBTemperature = 0;
    float phaseCTemperature = 0;
    float hiddenTemperature = 0;  // bytes 0-3 of offset 0x0D
    float odometer = 0;           // m
    float busCharge = 0;          // Ah
    float slipSpeed = 0;          // Hz
};

// Little-endian fields of a CAN payload.
float floatAt(const CanFrame::Data& data, std::size_t at);
std::uint16_t u16At(const CanFrame::Data& data, std::size_t at);

// Offsets (identifier - base) of the telemetry messages.
inline constexpr std::uint32_t kStatusOffset = 0x01;
inline constexpr std::uint32_t kSlipOffset = 0x17;
constexpr bool isTelemetryOffset(std::uint32_t offset) {
    return (offset >= 0x01 && offset <= 0x0E) || offset == kSlipOffset;
}

// Stores the message at `offset` into `values`. Offset 0x07 bytes 4-7 and other offsets are
// not decoded. True when the offset carries telemetry. The status message does not touch
// lastActiveMotor; the panel compares and updates it.
bool decodeTelemetry(TelemetryValues& values, std::uint32_t offset, const CanFrame::Data& data);

}  // namespace qv
