#include "sim/commissioning_motor.h"

#include <algorithm>
#include <cmath>

namespace qv::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kCommonVolts = 48;  // phase voltages sit on half the bus
constexpr int kPhaseSamples = 500;

double wrap360(double degrees) {
    const double w = std::fmod(degrees, 360.0);
    return w < 0 ? w + 360 : w;
}

double sinDeg(double degrees) {
    return std::sin(degrees * kPi / 180);
}

std::uint16_t rawVoltage(double volts, const CalibrationChannel& ch, double base) {
    const double scale = static_cast<double>(ch.gain) * base;
    if (scale == 0) return 0;
    const double r = (volts / scale - ch.offset) * 65536;
    return static_cast<std::uint16_t>(std::lround(std::clamp(r, 0.0, 65535.0)));
}

std::uint16_t signedWord(double value, double base) {
    const double r = base != 0 ? value * 32768 / base : 0;
    return static_cast<std::uint16_t>(
        static_cast<std::int16_t>(std::lround(std::clamp(r, -32768.0, 32767.0))));
}

}  // namespace

// Controller phase A is motor phase a; B and C are b and c, or c and b when reversed. The
// analysis reads line AB as input 3 minus input 2, so A sits on input 3, B on 2, C on 1.
PhaseInputs MotorModel::inputs(double theta) const {
    const double a = kCommonVolts + m_.emfVolts * sinDeg(theta);
    const double b = kCommonVolts + m_.emfVolts * sinDeg(theta - 120);
    const double c = kCommonVolts + m_.emfVolts * sinDeg(theta - 240);
    return m_.phasesReversed ? PhaseInputs{b, c, a} : PhaseInputs{c, b, a};
}

// Sensor i is high for the half turn from rotor angle shift - 30 + 120 i: with phases A-B-C the
// six edges fall at 60-degree steps of the controller's frame, moved by the shift.
int MotorModel::hallState(double theta) const {
    int state = 0;
    for (int j = 0; j < 3; ++j) {
        const int sensor = m_.hallWiring[static_cast<std::size_t>(j)];
        if (wrap360(theta - (m_.hallShiftDegrees - 30) - 120.0 * sensor) < 180) state |= 1 << j;
    }
    return state;
}

std::uint16_t MotorModel::position(double theta) const {
    const double fraction = m_.positionOffsetDegrees / 360 + theta / 360 / m_.poleRatio;
    const double wrapped = fraction - std::floor(fraction);
    return static_cast<std::uint16_t>(static_cast<int>(wrapped * 65536) & 0xFFF8);
}

// Controller phase A leads its line voltage AB by 30 degrees; with B and C swapped the
// controller's angle runs against the rotor's.
double MotorModel::controllerAngle(double theta) const {
    return wrap360(m_.phasesReversed ? 210 - theta : theta + 30);
}

std::array<HallEdgeTruth, 8> MotorModel::hallTable() const {
    std::array<HallEdgeTruth, 8> t;
    for (int s = 0; s < 8; ++s) t[static_cast<std::size_t>(s)] = {1.0, s};
    for (int k = 0; k < 6; ++k) {
        const double edge = m_.hallShiftDegrees - 30 + 60.0 * k;
        const int before = hallState(edge - 0.5);
        const int after = hallState(edge + 0.5);
        t[static_cast<std::size_t>(after)] = {controllerAngle(edge) / 360, before};
    }
    return t;
}

int MotorModel::poleRatio() const {
    const int magnitude = std::abs(m_.poleRatio);
    if (magnitude == 1 || magnitude > 16) return m_.poleRatio > 0 ? 1 : -1;
    return m_.poleRatio;
}

double MotorModel::positionAtReference() const {
    // Line AB = input 3 minus input 2 rises through zero where the controller angle, moving
    // with the rotor, passes 0 (A-B-C) or 180 (A-C-B).
    const double theta = m_.phasesReversed ? 30 : 330;
    return position(theta) / 65536.0;
}

std::vector<ToolReply> PhaseAllocationTool::acquire(const ToolSetting& setting) {
    const SimMotor& m = model_.settings();
    const PrivateConfig& cal = setting.calibration;
    std::uniform_real_distribution<double> start(0, 360);
    std::normal_distribution<double> noise(0, m.emfVolts * m.noisePercent / 100);
    const double theta0 = start(*setting.rng);
    const bool halls = m.hallsFitted() && (m.sensorMode == 1 || m.sensorMode == 3);
    const bool sensor = m.sensorMode == 2 || m.sensorMode == 3;

    std::vector<ToolReply> out;
    const auto mode = static_cast<std::uint16_t>((m.sensorMode & 0xFF) | (m.hallsFitted() << 8));
    out.push_back({2, true, replyWords(0, 0, mode, 1)});
    out.push_back({150, true, replyWords(0, 0, 0, 2)});
    for (int i = 0; i < kPhaseSamples; ++i) {
        const double theta = theta0 + 360 * m.speedHz * i / 1000;
        const PhaseInputs v = model_.inputs(theta);
        const auto hall = static_cast<std::uint16_t>(halls ? model_.hallState(theta) : 7);
        const std::uint16_t position = sensor ? model_.position(theta) : 0;
        const double base = cal.baseVoltage;
        out.push_back(
            {i == 0 ? 5.0 : 0.5, false,
             replyWords(static_cast<std::uint16_t>(position | hall),
                        rawVoltage(v.v1 + noise(*setting.rng), cal.phaseAVoltage, base),
                        rawVoltage(v.v2 + noise(*setting.rng), cal.phaseBVoltage, base),
                        rawVoltage(v.v3 + noise(*setting.rng), cal.phaseCVoltage, base))});
    }
    const std::uint16_t bus = signedWord(kCommonVolts, cal.baseVoltage);
    out.push_back({2, true, replyWords(bus, bus, bus, 3)});
    return out;
}

std::vector<ToolReply> PmParameterTool::acquire(const ToolSetting& setting) {
    const PrivateConfig& cal = setting.calibration;
    const double r = motor_.resistanceOhm;
    const double tau = motor_.inductanceHenry / r;
    std::normal_distribution<double> noise(0, motor_.noisePercent / 100);
    const int n1 = motor_.viPoints;
    const int n2 = motor_.decayPoints;

    // The DC test drives the current through two phases in series: 2 R, with a small drop.
    std::vector<std::pair<std::uint16_t, std::uint16_t>> vi;  // (voltage, current) words
    const double step = n1 > 0 ? 2 * r * kMaxTestCurrent / n1 : 0;
    for (int k = 0; k < n1; ++k) {
        const double volts = step * (k + 1);
        const double amps = (volts - 0.1 * step) / (2 * r) * (1 + noise(*setting.rng));
        vi.push_back({signedWord(volts, cal.baseVoltage), signedWord(amps, cal.baseCurrent)});
    }
    // The decay over three time constants, sampled at whole counts of the time base.
    std::vector<std::pair<std::uint16_t, std::uint16_t>> decay;  // (time, current) words
    const int tick =
        n2 > 0 ? std::max(1, static_cast<int>(std::lround(3 * tau * kTimeBase / n2))) : 1;
    for (int k = 0; k < n2; ++k) {
        const int raw = std::min(k * tick, 32767);
        const double t = static_cast<double>(raw) / kTimeBase;
        const double amps = kDecayStartCurrent * std::exp(-t / tau) * (1 + noise(*setting.rng));
        const std::uint16_t word = signedWord(std::max(amps, 0.0), cal.baseCurrent);
        decay.push_back({static_cast<std::uint16_t>(raw), std::max<std::uint16_t>(word, 1)});
    }

    std::vector<ToolReply> out;
    out.push_back(
        {300, true,
         replyWords(kTimeBase, static_cast<std::uint16_t>(n2), static_cast<std::uint16_t>(n1), 3)});
    const auto frames = [&](const std::vector<std::pair<std::uint16_t, std::uint16_t>>& points) {
        for (std::size_t i = 0; i < points.size(); i += 2) {
            const auto second =
                i + 1 < points.size() ? points[i + 1] : std::pair<std::uint16_t, std::uint16_t>{};
            out.push_back(
                {1, false,
                 replyWords(second.second, second.first, points[i].second, points[i].first)});
        }
    };
    frames(vi);
    frames(decay);
    return out;
}

namespace {

std::unique_ptr<SimTool> makePhaseTool(const Options& options, const SimDevice&) {
    return std::make_unique<PhaseAllocationTool>(options.commissioning.motor);
}

std::unique_ptr<SimTool> makePmTool(const Options& options, const SimDevice&) {
    return std::make_unique<PmParameterTool>(options.commissioning.motor);
}

}  // namespace

QV_SIM_COMMISSIONING_TOOL(phase_allocation, makePhaseTool);
QV_SIM_COMMISSIONING_TOOL(pm_parameters, makePmTool);

}  // namespace qv::sim
