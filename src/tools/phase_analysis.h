#pragma once
// The analysis of a phase and hall acquisition: line-to-line voltages and their zero
// crossings, the phase order, the hall table and the position sensor's pole ratio and offset,
// the texts the window shows and what the result writes into a motor record. Everything works
// on plain sample arrays, so the window, qvcli and the tests run the same code.
#include <array>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_records.h"
#include "tools/phase_acquisition.h"

namespace qv {

// Samples in physical units, one entry per millisecond.
struct PhaseSamples {
    std::vector<double> vAB, vBC, vCA;  // volts
    std::vector<int> hall;              // 0-7
    std::vector<int> position;          // 0-65528
    std::size_t size() const { return hall.size(); }
};

PhaseSamples phaseSamples(const PhaseRecording& recording);

// No complete crossing of the wanted direction in the samples given.
struct PSZCException : std::runtime_error {
    PSZCException(std::string lineName, bool positiveGoing);
    std::string lineName;
    bool positiveGoing;
};

// A crossing more than 25 degrees from where it belongs.
struct PSZCPosException : std::runtime_error {
    PSZCPosException(std::string lineName, bool positiveGoing);
    std::string lineName;
    bool positiveGoing;
};

// The fractional index, relative to the first sample, where the samples cross zero in the given
// direction: a least-squares line through the first complete crossing from below half the
// minimum to above half the maximum (or the reverse). Throws PSZCException when there is no
// such crossing, it spans fewer than two samples, or the line gives no finite crossing.
double findZeroCrossing(std::span<const double> samples, bool positiveGoing,
                        std::string_view lineName);

// Passes when measured lies strictly within 25 degrees of expected; else PSZCPosException.
void checkCrossingAngle(double expectedDegrees, double measuredDegrees, std::string_view lineName,
                        bool positiveGoing);

// X0 .. X7: X0 the positive-going crossing of vAB that is the angle reference, X6 the next one
// a period later, the others at 60-degree steps (X7 is X1 one period on).
using CrossingIndices = std::array<int, 8>;

struct LineVoltageResult {
    bool ok = false;
    std::string text;    // the analysis text: success with the phase allocation, or the error
    int phaseOrder = 1;  // +1 A-B-C, -1 A-C-B
    CrossingIndices crossings{};
};

LineVoltageResult analyseLineVoltages(const PhaseSamples& samples);

struct HallTableEntry {
    double angle = 1.0;  // fraction of an electrical revolution where the state begins
    int previous = 0;    // the state before it
    friend bool operator==(const HallTableEntry&, const HallTableEntry&) = default;
};
using HallTable = std::array<HallTableEntry, 8>;

// Every state at angle 1.0 with itself as previous.
HallTable resetHallTable();

// Fills the table from the hall changes between the crossings; false unless each of the six
// 60-degree segments holds exactly one change (crossings that are out of order or outside the
// samples fail too).
bool analyseHalls(std::span<const int> hall, const CrossingIndices& crossings, int phaseOrder,
                  HallTable& table);

struct PositionResult {
    double poleRatio = 1.0;
    double positionOffset = 0;  // fraction of a revolution
};

// Pole ratio and offset of the position sensor, written into the table's self-preceded states.
// Nothing (and the table untouched) when X0 + 1 or X6 lies outside the samples.
std::optional<PositionResult> analysePosition(std::span<const int> position,
                                              const CrossingIndices& crossings, HallTable& table);

// The result list lines.
std::vector<std::string> hallListLines(const HallTable& table);
std::vector<std::string> positionListLines(const PositionResult& position);

struct PhaseReport {
    PhaseSamples samples;
    LineVoltageResult lines;
    // The analysis text and its background (success green, failure red).
    std::string text;
    std::uint32_t textColour = 0;
    // "SUCCESS" or "FAILED"; nothing when the voltage analysis failed (the verdict is left as
    // it was).
    std::optional<std::string> verdict;
    std::uint32_t verdictColour = 0;
    std::vector<std::string> list;  // unchanged (empty here) when there is no verdict
    HallTable table = resetHallTable();
    std::optional<PositionResult> position;

    bool success() const { return verdict && *verdict == "SUCCESS"; }
};

PhaseReport analysePhases(const PhaseRecording& recording);

// What a successful analysis writes into the motor record chosen by the user: the hall table
// and the phase sequence. False, with nothing written, unless the report says "SUCCESS" and
// every angle is finite.
bool writePhaseResult(const PhaseReport& report, MotorConfig& motor);

}  // namespace qv
