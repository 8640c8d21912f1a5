#pragma once
// The numbers the telemetry panel shows, as numbers: for each message, the value cells it
// writes with the value as shown (already scaled: kph, km, W), its decimals and its unit, in
// the device's mode. The panel formats its texts from these, and the telemetry plots record
// them, so a caption, a unit or a scaling exists once.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "monitor/telemetry_values.h"

namespace qv {

class TelemetryPanel;

struct CellReading {
    int cell = 0;
    double value = 0;
    int decimals = 0;
    const char* unit = "";       // as the panel appends it: " V", " \u00B0C" (UTF-8), ""
    const char* text = nullptr;  // a word shown instead of the number ("TRUE", "FALSE")
};

// At most three cells per message.
using CellReadings = std::array<CellReading, 3>;

// The cells the message at `offset` writes, for a device of `deviceType` with values.activeMotor.
// The status message (0x01) gives its two error counts here; its flag names and motor name are
// texts, not readings. Returns how many of `out` were filled.
std::size_t cellReadings(std::uint32_t offset, const TelemetryValues& values,
                         std::int32_t deviceType, CellReadings& out);

// Every value cell that cellReadings() can fill, in the panel's order. Hidden cells (1199,
// 1200) are left out.
std::span<const int> readingCells();

// The unit of a cell in the given mode, without its leading blank ("V", "\u00B0C", "%", "").
std::string readingUnit(int cell, std::int32_t deviceType, std::int32_t activeMotor);

// The decimals the panel shows the cell with.
int readingDecimals(int cell, std::int32_t deviceType, std::int32_t activeMotor);

// The name of a cell's value: the caption of its panel row as the panel shows it now; when the
// row's two cells share a unit and the caption names both ("RMS Current C/B", "C / B Temp",
// "Out Voltage (d/q)"), the part that belongs to this cell ("RMS Current C"); when they share a
// unit and the caption names one thing, the cell's side is added (" (left)", " (right)").
std::string readingCaption(int cell, const TelemetryPanel& panel, std::int32_t deviceType,
                           std::int32_t activeMotor);

// The telemetry log's column name of the same quantity in the same unit, when the log has one
// ("Bus Voltage (V)", "pC Current (A)"), for the device type and mode.
std::optional<std::string> readingLogColumn(int cell, std::int32_t deviceType,
                                            std::int32_t activeMotor);

}  // namespace qv
