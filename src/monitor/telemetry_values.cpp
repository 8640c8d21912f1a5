#include "monitor/telemetry_values.h"

#include <cstring>

namespace qv {

float floatAt(const CanFrame::Data& data, std::size_t at) {
    const std::uint32_t bits =
        static_cast<std::uint32_t>(data[at]) | (std::uint32_t{data[at + 1]} << 8) |
        (std::uint32_t{data[at + 2]} << 16) | (std::uint32_t{data[at + 3]} << 24);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

std::uint16_t u16At(const CanFrame::Data& data, std::size_t at) {
    return static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8));
}

bool decodeTelemetry(TelemetryValues& v, std::uint32_t offset, const CanFrame::Data& d) {
    const float low = floatAt(d, 0);
    const float high = floatAt(d, 4);
    switch (offset) {
        case 0x01:
            v.limitFlags = u16At(d, 0);
            v.errorFlags = u16At(d, 2);
            v.activeMotor = u16At(d, 4);
            v.canTransmitErrors = d[6];
            v.canReceiveErrors = d[7];
            return true;
        case 0x02:
            v.busVoltage = low;
            v.busCurrent = high;
            return true;
        case 0x03:
            v.motorVelocity = low;
            v.vehicleVelocity = high;
            return true;
        case 0x04:
            v.phaseBCurrent = low;
            v.phaseCCurrent = high;
            return true;
        case 0x05:
            v.outputVoltageQ = low;
            v.outputVoltageD = high;
            return true;
        case 0x06:
            v.outputCurrentQ = low;
            v.outputCurrentD = high;
            return true;
        case 0x07:
            v.backEmf = low;
            return true;
        case 0x08:
            v.hiddenVoltage = low;
            v.rail15V = high;
            return true;
        case 0x09:
            v.rail1V9 = low;
            v.rail3V3 = high;
            return true;
        case 0x0A:
            v.ratio0A = low;
            v.speedRpm0A = high;
            return true;
        case 0x0B:
            v.motorTemperature = low;
            v.phaseATemperature = high;
            return true;
        case 0x0C:
            v.dspTemperature = low;
            v.phaseBTemperature = high;
            return true;
        case 0x0D:
            v.hiddenTemperature = low;
            v.phaseCTemperature = high;
            return true;
        case 0x0E:
            v.odometer = low;
            v.busCharge = high;
            return true;
        case 0x17:
            v.slipSpeed = low;
            return true;
        default:
            return false;
    }
}

}  // namespace qv
