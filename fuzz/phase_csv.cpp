// Fuzzes the reader of the phase and hall allocation files ("Save Data..." of the DuvodaRezir
// window, read again by qvcli analyse-phases) and the analysis it feeds. Oracle: a file the
// reader accepts saves back to a file that reads as the same numbers, bit for bit, and that
// saves again to the same text. Seeds: files the tool saved after runs against the simulator.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "tools/acquisition_csv.h"
#include "tools/phase_analysis.h"

namespace {

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}
bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameNumbers(const qv::PhaseRecording& a, const qv::PhaseRecording& b) {
    const qv::PhaseCalibration &x = a.calibration, &y = b.calibration;
    bool same = a.sensorMode == b.sensorMode && a.hallsPresent == b.hallsPresent &&
                a.samples == b.samples && sameBits(x.baseVoltage, y.baseVoltage);
    const qv::CalibrationChannel* cx[] = {&x.phaseA, &x.phaseB, &x.phaseC};
    const qv::CalibrationChannel* cy[] = {&y.phaseA, &y.phaseB, &y.phaseC};
    for (int i = 0; i < 3; ++i)
        same = same && sameBits(cx[i]->gain, cy[i]->gain) && sameBits(cx[i]->offset, cy[i]->offset);
    return same;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto read = qv::parsePhaseCsv(text);
    if (!read.value) {
        if (read.error.empty() || read.line < 0) std::abort();
        return 0;
    }
    const std::string saved = qv::formatPhaseCsv(*read.value);
    const auto back = qv::parsePhaseCsv(saved);
    if (!back.value || !sameNumbers(*read.value, *back.value)) std::abort();
    if (qv::formatPhaseCsv(*back.value) != saved) std::abort();
    // What qvcli analyse-phases then does with it; the analysis of 500 samples costs more than
    // the reading, so it runs on one input size in four.
    if (size % 4 != 0) return 0;
    const qv::PhaseReport report = qv::analysePhases(*read.value);
    if (report.verdict && *report.verdict != "SUCCESS" && *report.verdict != "FAILED") std::abort();
    return 0;
}
