#include "sim/commissioning_options.h"

#include <charconv>
#include <cmath>

#include "sim/options.h"

namespace qv::sim {

namespace {

double number(const std::string& text, double min, double max, const std::string& what) {
    double v = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(v))
        throw UsageError(what + ": \"" + text + "\" is not a number");
    if (v < min || v > max)
        throw UsageError(what + ": " + text + " is out of range (" + std::to_string(min) + " to " +
                         std::to_string(max) + ")");
    return v;
}

int whole(const std::string& text, int min, int max, const std::string& what) {
    int v = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size())
        throw UsageError(what + ": \"" + text + "\" is not a whole number");
    if (v < min || v > max)
        throw UsageError(what + ": " + text + " is out of range (" + std::to_string(min) + " to " +
                         std::to_string(max) + ")");
    return v;
}

std::array<int, 3> wiring(const std::string& text) {
    if (text.size() != 3 || text.find('1') == std::string::npos ||
        text.find('2') == std::string::npos || text.find('3') == std::string::npos)
        throw UsageError("--motor-hall-wiring: \"" + text +
                         "\" is not an order of the sensors 1, 2 and 3 (e.g. 312)");
    return {text[0] - '1', text[1] - '1', text[2] - '1'};
}

}  // namespace

bool parseCommissioningOption(CommissioningOptions& o, const std::string& name,
                              const std::function<const std::string&()>& value) {
    SimMotor& m = o.motor;
    ToolFaults& f = o.faults;
    if (name == "--motor-phase-order") {
        const std::string& v = value();
        if (v != "abc" && v != "acb")
            throw UsageError("--motor-phase-order: \"" + v + "\" is neither abc nor acb");
        m.phasesReversed = v == "acb";
    } else if (name == "--motor-sensor-mode") {
        m.sensorMode = whole(value(), 0, 255, name);
    } else if (name == "--motor-halls-present") {
        m.hallsPresent = whole(value(), 0, 1, name);
    } else if (name == "--motor-hall-wiring") {
        m.hallWiring = wiring(value());
    } else if (name == "--motor-hall-shift") {
        m.hallShiftDegrees = number(value(), -30, 30, name);
    } else if (name == "--motor-pole-ratio") {
        m.poleRatio = whole(value(), -64, 64, name);
        if (m.poleRatio == 0) throw UsageError("--motor-pole-ratio: 0 is not a ratio");
    } else if (name == "--motor-position-offset") {
        m.positionOffsetDegrees = number(value(), 0, 360, name);
    } else if (name == "--motor-speed") {
        m.speedHz = number(value(), 0.1, 200, name);
    } else if (name == "--motor-noise") {
        m.noisePercent = number(value(), 0, 20, name);
    } else if (name == "--motor-resistance") {
        m.resistanceOhm = number(value(), 0.001, 10, name);
    } else if (name == "--motor-inductance") {
        m.inductanceHenry = number(value(), 1e-6, 0.1, name);
    } else if (name == "--motor-vi-points") {
        m.viPoints = whole(value(), 0, 32767, name);
    } else if (name == "--motor-decay-points") {
        m.decayPoints = whole(value(), 0, 32767, name);
    } else if (name == "--motor-rr") {
        m.rotorResistanceOhm = number(value(), 0.001, 10, name);
    } else if (name == "--motor-lls") {
        m.leakageInductanceHenry = number(value(), 1e-6, 1, name);
    } else if (name == "--motor-lm") {
        m.magnetisingInductanceHenry = number(value(), 1e-5, 10, name);
    } else if (name == "--motor-im-mode") {
        m.imMode = whole(value(), 0, 65535, name);
    } else if (name == "--motor-im-points") {
        m.imPoints = whole(value(), 0, 65535, name);
    } else if (name == "--motor-im-interval") {
        m.imInterval = whole(value(), -32768, 32767, name);
    } else if (name == "--motor-im-current") {
        m.imCurrentAmps = number(value(), 0.1, 1000, name);
    } else if (name == "--tool-silent") {
        f.silent = true;
    } else if (name == "--tool-omit-data") {
        f.omitData = whole(value(), 0, 65535, name);
    } else if (name == "--tool-stop-data") {
        f.stopData = whole(value(), 0, 65535, name);
    } else if (name == "--tool-omit-status") {
        f.omitStatus = whole(value(), 0, 15, name);
    } else if (name == "--tool-wrong-phase") {
        f.wrongPhase = whole(value(), 0, 15, name);
    } else {
        return false;
    }
    return true;
}

}  // namespace qv::sim
