#pragma once
// The calibration report: the private record as labelled text lines (one value or channel per
// line, CR LF line ends, four headings) and the reader that takes the numbers back in order,
// skipping every label up to its comma.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_records.h"

namespace qv {

// The device type whose report uses the isolated-charger labels for lines 15, 16 and 20.
bool usesIsolatedChargerLabels(std::uint16_t deviceType);

std::string buildCalibrationReport(const PrivateConfig& config, bool isolatedCharger);

// One value the scan read: the field it went to, and where its text stands.
struct CalibrationValue {
    std::size_t offset = 0;  // in PrivateConfig
    std::size_t size = 4;    // bytes of the field element (2 for the 16-bit one)
    std::size_t begin = 0;   // the number's characters in the text: [begin, end)
    std::size_t end = 0;
};

// A line the scan could not read whole: a number followed by more than blanks before the next
// comma or line end ("6o0.0" reads as 6), or text at which the scan stopped.
struct UnreadLine {
    std::size_t number = 0;  // 1-based
    std::string text;        // without its line end
};

struct CalibrationScan {
    std::vector<CalibrationValue> values;  // in the order read
    std::vector<UnreadLine> unread;        // each line once, in text order
};

// The same scan as readCalibrationReport, into a copy: what each value is and where it stands,
// and the lines not read whole. Well-formed text (a report, with any spacing, or cut short after
// a whole line) has no unread lines.
CalibrationScan scanCalibrationReport(std::string_view text, PrivateConfig& config);

// Reads the report back with one scan. Each value goes into its field as soon as it is read;
// the scan stops at the first piece that does not match, and the later fields keep their
// values. Malformed text is not an error. Returns the number of values stored.
std::size_t readCalibrationReport(std::string_view text, PrivateConfig& config);

}  // namespace qv
