#pragma once
// The calibration report: the private record as labelled text lines (one value or channel per
// line, CR LF line ends, four headings) and the reader that takes the numbers back in order,
// skipping every label up to its comma.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/config_records.h"

namespace qv {

// The device type whose report uses the isolated-charger labels for lines 15, 16 and 20.
bool usesIsolatedChargerLabels(std::uint16_t deviceType);

std::string buildCalibrationReport(const PrivateConfig& config, bool isolatedCharger);

// Reads the report back with one scan. Each value goes into its field as soon as it is read;
// the scan stops at the first piece that does not match, and the later fields keep their
// values. Malformed text is not an error. Returns the number of values stored.
std::size_t readCalibrationReport(std::string_view text, PrivateConfig& config);

}  // namespace qv
