#include "tools/phase_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/tool_exchange.h"

namespace qv {

namespace {

constexpr double kAngleLimitDegrees = 25.0;
constexpr const char* kDegree = "\xC2\xB0";  // UTF-8

std::string direction(bool positiveGoing) {
    return positiveGoing ? "positive " : "negative ";
}

double volts(std::uint16_t raw, const CalibrationChannel& channel, double baseVoltage) {
    return (raw / 65536.0 + channel.offset) * channel.gain * baseVoltage;
}

// The sample index of a crossing found in the samples from `from` on; within the samples or a
// PSZCException.
int crossingIndex(const std::vector<double>& line, int from, bool positiveGoing,
                  std::string_view name) {
    const auto n = static_cast<int>(line.size());
    if (from < 0 || from >= n) throw PSZCException(std::string(name), positiveGoing);
    const double found = findZeroCrossing(
        std::span<const double>(line).subspan(static_cast<std::size_t>(from)), positiveGoing, name);
    const double index = from + std::trunc(found);
    if (!(index >= 0 && index < n)) throw PSZCException(std::string(name), positiveGoing);
    return static_cast<int>(index);
}

struct CrossingRule {
    int k;
    double expected;
    const char* lineForward;  // phase order +1
    const char* lineReverse;  // phase order -1
    bool positiveGoing;
};

constexpr CrossingRule kRules[] = {
    {1, 60, "CA", "BC", false}, {2, 120, "BC", "CA", true},  {3, 180, "AB", "AB", false},
    {4, 240, "CA", "BC", true}, {5, 300, "BC", "CA", false}, {7, 420, "CA", "BC", false},
};

const std::vector<double>& lineByName(const PhaseSamples& s, std::string_view name) {
    if (name == "AB") return s.vAB;
    if (name == "BC") return s.vBC;
    return s.vCA;
}

std::string binary3(int value) {
    std::string text;
    for (int bit = 2; bit >= 0; --bit) text += ((value >> bit) & 1) ? '1' : '0';
    return text;
}

int roundedRatio(double ratio) {
    return static_cast<std::int16_t>(std::lround(ratio));
}

}  // namespace

PSZCException::PSZCException(std::string name, bool positive)
    : std::runtime_error("no zero crossing of " + name),
      lineName(std::move(name)),
      positiveGoing(positive) {}

PSZCPosException::PSZCPosException(std::string name, bool positive)
    : std::runtime_error("zero crossing of " + name + " out of place"),
      lineName(std::move(name)),
      positiveGoing(positive) {}

PhaseSamples phaseSamples(const PhaseRecording& recording) {
    PhaseSamples s;
    const auto n = recording.samples.size();
    s.vAB.reserve(n);
    s.vBC.reserve(n);
    s.vCA.reserve(n);
    s.hall.reserve(n);
    s.position.reserve(n);
    const PhaseCalibration& c = recording.calibration;
    for (const RawPhaseSample& raw : recording.samples) {
        const double v1 = volts(raw.r1, c.phaseA, c.baseVoltage);
        const double v2 = volts(raw.r2, c.phaseB, c.baseVoltage);
        const double v3 = volts(raw.r3, c.phaseC, c.baseVoltage);
        s.vAB.push_back(v3 - v2);
        s.vBC.push_back(v2 - v1);
        s.vCA.push_back(v1 - v3);
        s.hall.push_back(raw.hall & 7);
        s.position.push_back(raw.position & 0xFFF8);
    }
    return s;
}

double findZeroCrossing(std::span<const double> x, bool positiveGoing, std::string_view name) {
    const auto fail = [&] { return PSZCException(std::string(name), positiveGoing); };
    if (x.empty()) throw fail();
    const auto [minIt, maxIt] = std::minmax_element(x.begin(), x.end());
    const double hi = *maxIt / 2;
    const double lo = *minIt / 2;
    int state = 0;
    std::size_t start = 0;
    std::size_t end = 0;
    for (std::size_t j = 0; j < x.size() && state < 3; ++j) {
        const double v = x[j];
        if (positiveGoing) {
            if (state == 0 && v < lo) {
                state = 1;
            } else if (state == 1 && v > lo) {
                state = 2;
                start = j;
            } else if (state == 2 && v > hi) {
                state = 3;
                end = j;
            }
        } else {
            if (state == 0 && v > hi) {
                state = 1;
            } else if (state == 1 && v < hi) {
                state = 2;
                start = j;
            } else if (state == 2 && v < lo) {
                state = 3;
                end = j;
            }
        }
    }
    if (state != 3 || end - start < 2) throw fail();
    const double k = static_cast<double>(end - start);
    double sj = 0, sx = 0, sjx = 0, sjj = 0;
    for (std::size_t j = start; j < end; ++j) {
        const double jj = static_cast<double>(j);
        sj += jj;
        sx += x[j];
        sjx += jj * x[j];
        sjj += jj * jj;
    }
    const double m = (k * sjx - sj * sx) / (k * sjj - sj * sj);
    const double c = (sx - m * sj) / k;
    const double crossing = -c / m;
    // A flat window has no crossing to offer.
    if (!std::isfinite(crossing)) throw fail();
    return crossing;
}

void checkCrossingAngle(double expected, double measured, std::string_view name,
                        bool positiveGoing) {
    if (!(expected - kAngleLimitDegrees < measured && measured < expected + kAngleLimitDegrees))
        throw PSZCPosException(std::string(name), positiveGoing);
}

LineVoltageResult analyseLineVoltages(const PhaseSamples& s) {
    LineVoltageResult r;
    CrossingIndices& x = r.crossings;
    try {
        x[0] = crossingIndex(s.vAB, 0, true, "AB");
        const int b = crossingIndex(s.vBC, x[0], true, "BC");
        const int c = crossingIndex(s.vCA, x[0], true, "CA");
        r.phaseOrder = b < c ? 1 : -1;

        x[0] = crossingIndex(s.vAB, 0, true, "AB");
        x[6] = crossingIndex(s.vAB, x[0], true, "AB");
        const int period = x[6] - x[0];
        if (period <= 0) throw PSZCPosException("AB", true);
        for (const CrossingRule& rule : kRules) {
            const char* name = r.phaseOrder == 1 ? rule.lineForward : rule.lineReverse;
            const int from = rule.k == 7 ? x[6] : x[0];
            x[static_cast<std::size_t>(rule.k)] =
                crossingIndex(lineByName(s, name), from, rule.positiveGoing, name);
            const double angle = (x[static_cast<std::size_t>(rule.k)] - x[0]) * 360.0 / period;
            checkCrossingAngle(rule.expected, angle, name, rule.positiveGoing);
        }
    } catch (const PSZCException& e) {
        r.text = "An error occurred when attempting to find the " + direction(e.positiveGoing) +
                 "going zero crossing of line to line voltage " + e.lineName + "\r\n";
        return r;
    } catch (const PSZCPosException& e) {
        r.text = "The position of the " + direction(e.positiveGoing) +
                 "going zero crossing of line to line voltage " + e.lineName + " is not valid\r\n";
        return r;
    }
    r.ok = true;
    r.text = "All line to line voltages have been successfully acquired\r\n\r\n";
    r.text += r.phaseOrder == 1
                  ? "Phase allocation to the controller is : \r\nI) A\r\nII) B\r\nIII) C\r\n"
                  : "Phase allocation to the controller is : \r\nI) A\r\nII) C\r\nIII) B\r\n";
    return r;
}

HallTable resetHallTable() {
    HallTable t;
    for (int s = 0; s < 8; ++s) t[static_cast<std::size_t>(s)] = {1.0, s};
    return t;
}

bool analyseHalls(std::span<const int> hall, const CrossingIndices& x, int phaseOrder,
                  HallTable& table) {
    const auto n = static_cast<int>(hall.size());
    if (std::any_of(x.begin(), x.end(), [n](int v) { return v < 0 || v >= n; })) return false;
    if (std::any_of(hall.begin(), hall.end(), [](int h) { return h < 0 || h > 7; })) return false;
    std::array<int, 7> m{};
    for (std::size_t k = 0; k < 7; ++k) m[k] = (x[k] + x[k + 1]) / 2;
    int prev = hall[static_cast<std::size_t>(m[0])];
    for (std::size_t k = 0; k < 6; ++k) {
        const double a = k < 5 ? static_cast<double>(k + 1) / 6 : 0.0;
        const double lo = a - 1.0 / 12;
        const double hi = a + 1.0 / 12;
        if (m[k] >= m[k + 1]) return false;
        int changes = 0;
        for (int j = m[k]; j < m[k + 1]; ++j) {
            const int state = hall[static_cast<std::size_t>(j)];
            if (state == prev) continue;
            const double t = static_cast<double>(j - m[k]) / (m[k + 1] - m[k]);
            const double theta = lo + t * (hi - lo);
            double angle = theta;
            if (phaseOrder != 1) {
                angle = 0.5 - theta;
                if (angle < 0) angle += 1;
            }
            table[static_cast<std::size_t>(state)] = {angle, prev};
            ++changes;
            prev = state;
        }
        if (changes != 1) return false;
    }
    return true;
}

std::optional<PositionResult> analysePosition(std::span<const int> position,
                                              const CrossingIndices& x, HallTable& table) {
    const auto n = static_cast<int>(position.size());
    const int x0 = x[0];
    const int x6 = x[6];
    if (x0 < 0 || x0 + 1 >= n || x6 < 0 || x6 >= n) return std::nullopt;
    const auto at = [&](int i) { return position[static_cast<std::size_t>(i)]; };
    PositionResult r;
    // The reading wraps at 65536: one period's change is the short way round.
    const auto d = static_cast<std::int16_t>(at(x6) - at(x0));
    r.poleRatio = d == 0 ? 1.0 : 65536.0 / d;
    if (r.poleRatio > 16 || r.poleRatio < -16) r.poleRatio = 1.0;
    const auto slope = static_cast<std::int16_t>(at(x0 + 1) - at(x0));
    r.poleRatio = slope < 0 ? -std::fabs(r.poleRatio) : std::fabs(r.poleRatio);
    r.positionOffset = at(x0) / 65536.0;
    bool first = true;
    for (int s = 0; s < 8; ++s) {
        HallTableEntry& e = table[static_cast<std::size_t>(s)];
        if (e.previous != s) continue;
        e.angle = first ? roundedRatio(r.poleRatio) : r.positionOffset;
        first = false;
    }
    return r;
}

std::vector<std::string> hallListLines(const HallTable& table) {
    std::vector<std::string> lines;
    for (int s = 0; s < 8; ++s) {
        const HallTableEntry& e = table[static_cast<std::size_t>(s)];
        char angle[32];
        std::snprintf(angle, sizeof angle, "%3.0f", e.angle * 360);
        lines.push_back(std::string(angle) + kDegree + " " + binary3(e.previous) + "=>" +
                        binary3(s));
    }
    return lines;
}

std::vector<std::string> positionListLines(const PositionResult& p) {
    char ratio[16];
    std::snprintf(ratio, sizeof ratio, " %d", roundedRatio(p.poleRatio));
    char offset[32];
    std::snprintf(offset, sizeof offset, " %.1f", p.positionOffset * 360);
    return {"Pole ratio:", ratio, "Offset:", std::string(offset) + kDegree};
}

PhaseReport analysePhases(const PhaseRecording& recording) {
    PhaseReport r;
    r.samples = phaseSamples(recording);
    r.lines = analyseLineVoltages(r.samples);
    r.text = r.lines.text;
    r.textColour = r.lines.ok ? tool_colour::kSuccess : tool_colour::kFailure;
    r.table = resetHallTable();
    if (!r.lines.ok) return r;

    const auto& x = r.lines.crossings;
    const int order = r.lines.phaseOrder;
    bool success = false;
    bool listHalls = false;
    const auto position = [&] {
        r.position = analysePosition(r.samples.position, x, r.table);
        if (!r.position) {
            r.text +=
                "The position sensor readings do not reach one period after the reference "
                "crossing\r\n";
            r.textColour = tool_colour::kFailure;
        }
        return r.position.has_value();
    };
    switch (recording.sensorMode) {
        case 1:
            success = analyseHalls(r.samples.hall, x, order, r.table);
            listHalls = true;
            break;
        case 2:
            success = position();
            break;
        case 3:
            listHalls = recording.hallsPresent != 0;
            // Without halls fitted the hall inputs are never analysed: whatever they read must
            // not reach the table written to the motor.
            success = (!listHalls || analyseHalls(r.samples.hall, x, order, r.table)) && position();
            break;
        default:
            break;
    }
    r.verdict = success ? "SUCCESS" : "FAILED";
    r.verdictColour = success ? tool_colour::kSuccess : tool_colour::kFailure;
    if (success) {
        if (listHalls) r.list = hallListLines(r.table);
        if (r.position) {
            const auto lines = positionListLines(*r.position);
            r.list.insert(r.list.end(), lines.begin(), lines.end());
        }
    }
    return r;
}

bool writePhaseResult(const PhaseReport& report, MotorConfig& motor) {
    if (!report.success()) return false;
    for (const HallTableEntry& e : report.table)
        if (!std::isfinite(e.angle) || e.previous < 0 || e.previous > 7) return false;
    for (std::size_t s = 0; s < 8; ++s) {
        motor.hallAngle[s] = static_cast<float>(report.table[s].angle);
        motor.hallPrevious[s] = static_cast<std::uint16_t>(report.table[s].previous);
    }
    motor.phaseSequenceReversed = report.lines.phaseOrder == -1 ? 1 : 0;
    return true;
}

}  // namespace qv
