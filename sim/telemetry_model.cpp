#include "sim/telemetry_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace qv::sim {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kTyreDiameterM = 0.5;
constexpr double kSpeedConstant = 0.39;  // V s / rad
constexpr double kLineResistance = 0.0692;

void putFloat(std::array<std::uint8_t, 8>& d, std::size_t at, double value) {
    const float f = static_cast<float>(value);
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    for (std::size_t i = 0; i < 4; ++i) d[at + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

std::array<std::uint8_t, 8> floats(double low, double high) {
    std::array<std::uint8_t, 8> d{};
    putFloat(d, 0, low);
    putFloat(d, 4, high);
    return d;
}

double wave(double t, double periodS, double amplitude) {
    return amplitude * std::sin(kTwoPi * t / periodS);
}

// Charger mode: output to the pack, from the grid (grid-tie) or an isolated supply.
constexpr double kPackVoltage = 96.0;
constexpr double kGridRms = 230.0;

}  // namespace

TelemetryModel::Kind TelemetryModel::kindOf(std::uint32_t product) {
    if (product == 0x4000) return Kind::kIsolatedCharger;
    if (product == 0x4001) return Kind::kGridTieCharger;
    return Kind::kMotorController;
}

bool TelemetryModel::isTelemetryOffset(std::uint32_t offset) {
    return std::find(kOffsets.begin(), kOffsets.end(), offset) != kOffsets.end();
}

void TelemetryModel::advance(double nowMs) {
    if (!startMs_) startMs_ = lastMs_ = nowMs;
    const double dt = std::max(0.0, (nowMs - lastMs_) / 1000.0);
    lastMs_ = nowMs;
    t_ = (nowMs - *startMs_) / 1000.0;
    // Velocity ramps smoothly between 0 and 1000 rpm over 40 s, until drive commands turn it.
    rpm_ = driven_ ? driven_->rpm : 500.0 * (1.0 - std::cos(kTwoPi * t_ / 40.0));
    vehicle_ = rpm_ / 60.0 * std::numbers::pi * kTyreDiameterM;
    busCurrent_ = driven_ ? driven_->busCurrentA : 5.0 + 0.03 * rpm_ + wave(t_, 7.0, 3.0);
    busVoltage_ = 96.0 - 0.02 * busCurrent_ + wave(t_, 17.0, 0.5);
    odometer_ += vehicle_ * dt;
    charge_ += busCurrent_ * dt / 3600.0;
    if (chargerMode()) {
        // A charge current easing in over the first 10 s, with a little ripple.
        const double current = 20.0 * std::min(1.0, t_ / 10.0) + wave(t_, 3.0, 0.3);
        busVoltage_ = kPackVoltage + 0.02 * current + wave(t_, 23.0, 0.2);
        busCurrent_ = current;
        rpm_ = vehicle_ = 0;
        energyKwh_ += busVoltage_ * current * dt / 3.6e6;
    }
}

std::optional<std::array<std::uint8_t, 8>> TelemetryModel::chargerMessage(
    std::uint32_t offset) const {
    const bool grid = kind_ == Kind::kGridTieCharger;
    const double out = busCurrent_;                                    // current into the pack
    const double gridCurrentQ = busVoltage_ * out / (3.0 * kGridRms);  // power = Iq x Vrms x 3
    switch (offset) {
        case 0x02:  // bus voltage; grid OK (grid-tie) or an unused current (isolated)
            return floats(busVoltage_, grid ? 1.0 : 0.0);
        case 0x03:  // grid frequency (grid-tie), velocities unused
            return floats(grid ? 50.0 + wave(t_, 31.0, 0.02) : 0.0, 0.0);
        case 0x04:  // phase B / C currents; isolated: unfiltered and filtered output current
            return grid ? floats(gridCurrentQ * 1.02, gridCurrentQ * 0.98)
                        : floats(out + wave(t_, 0.7, 0.8), out);
        case 0x05:  // q, d: grid voltage, or output voltage and snubber capacitor voltage
            return grid ? floats(kGridRms * std::numbers::sqrt2, 1.5)
                        : floats(busVoltage_ + 0.4, 380.0 + wave(t_, 5.0, 2.0));
        case 0x06:  // q, d: grid current, or duty cycle (%) and no-load control error (V)
            return grid ? floats(gridCurrentQ, 0.3) : floats(42.0 + wave(t_, 9.0, 1.5), 0.05);
        case 0x07:  // grid voltage RMS (grid-tie); back-EMF unused (isolated)
            return floats(grid ? kGridRms + wave(t_, 13.0, 1.0) : 0.0, 0.0);
        case 0x0E:  // odometer unused; energy in kWh
            return floats(0.0, energyKwh_);
        case 0x17:
            return floats(0.0, 0.0);
        default:
            return std::nullopt;
    }
}

std::optional<std::array<std::uint8_t, 8>> TelemetryModel::message(std::uint32_t offset) const {
    const double iq = 1.5 * busCurrent_;
    const double id = -2.0 - 0.002 * rpm_;
    const double bemf = kSpeedConstant * rpm_ * kTwoPi / 60.0;
    const double phaseA = 31.0 + wave(t_, 70.0, 3.0);
    if (chargerMode() && offset != 0x01)
        if (auto m = chargerMessage(offset)) return m;
    switch (offset) {
        case 0x01: {
            // No limits, no errors, no CAN errors; the active motor.
            std::array<std::uint8_t, 8> d{};
            d[4] = static_cast<std::uint8_t>(activeMotor_ & 0xFF);
            d[5] = static_cast<std::uint8_t>(activeMotor_ >> 8);
            return d;
        }
        case 0x02:
            return floats(busVoltage_, busCurrent_);
        case 0x03:
            return floats(rpm_, vehicle_);
        case 0x04:
            return floats(1.1 * busCurrent_ + 0.2, 1.1 * busCurrent_ - 0.2);
        case 0x05:
            return floats(bemf + iq * kLineResistance, -0.05 * iq * rpm_ / 1000.0);
        case 0x06:
            return floats(iq, id);
        case 0x07:
            return floats(bemf, 0.0);
        case 0x08:
            return floats(12.1 + wave(t_, 13.0, 0.05), 15.02 + wave(t_, 11.0, 0.03));
        case 0x09:
            return floats(1.9 + wave(t_, 9.0, 0.005), 3.3 + wave(t_, 10.0, 0.01));
        case 0x0A:
            return floats(rpm_ / 1000.0, rpm_);
        case 0x0B:
            return floats(33.0 + wave(t_, 90.0, 4.0), phaseA);
        case 0x0C:
            return floats(38.0 + wave(t_, 110.0, 1.5), phaseA + 0.4);
        case 0x0D:
            return floats(30.0 + wave(t_, 80.0, 2.0), phaseA + 0.8);
        case 0x0E:
            return floats(odometer_, charge_);
        case 0x17:
            return floats(0.0, 0.0);  // a permanent-magnet motor does not slip
        default:
            return std::nullopt;
    }
}

}  // namespace qv::sim
