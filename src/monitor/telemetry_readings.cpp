#include "monitor/telemetry_readings.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "monitor/monitor_types.h"
#include "monitor/number_text.h"
#include "monitor/telemetry_log.h"
#include "monitor/telemetry_panel.h"

namespace qv {

namespace {

// In the panel's order.
constexpr std::array<int, 25> kReadingCells = {1179, 1178, 1000, 1001, 1133, 1006, 1028, 1007, 1022,
                                               1023, 1015, 1016, 1017, 1025, 1032, 1011, 1013, 1014,
                                               1018, 1020, 1019, 1008, 1009, 1030, 1031};
constexpr std::array<std::uint32_t, 15> kOffsets = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                                                    0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x17};

// Telemetry log columns (after splitting its header at ", ") holding the same quantity in the
// same unit as the cell. Velocity (kph against m/s) and odometer (km against m) have none.
struct LogColumn {
    int cell;
    std::size_t column;
};
constexpr std::array<LogColumn, 22> kLogColumns = {{
    {1000, 7},  {1001, 8},  {1006, 10}, {1007, 11}, {1022, 12}, {1031, 14}, {1023, 15}, {1015, 16},
    {1016, 17}, {1017, 18}, {1025, 19}, {1011, 20}, {1013, 21}, {1014, 22}, {1018, 23}, {1008, 24},
    {1009, 25}, {1019, 26}, {1020, 27}, {1179, 28}, {1178, 29}, {1032, 30},
}};

bool isReadingCell(int cell) {
    return std::find(kReadingCells.begin(), kReadingCells.end(), cell) != kReadingCells.end();
}

std::optional<CellReading> readingOf(int cell, std::int32_t type, std::int32_t activeMotor) {
    TelemetryValues v;
    v.activeMotor = activeMotor;
    CellReadings out;
    for (const std::uint32_t offset : kOffsets) {
        const std::size_t n = cellReadings(offset, v, type, out);
        for (std::size_t i = 0; i < n; ++i)
            if (out[i].cell == cell) return out[i];
    }
    return std::nullopt;
}

const PanelRow* rowOf(int cell) {
    for (const PanelRow& row : panelRows())
        if (row.leftCell == cell || row.rightCell == cell) return &row;
    return nullptr;
}

// "Out Voltage (d/q)" -> "Out Voltage (d)" or "Out Voltage (q)"; "C / B Temp" -> "C Temp".
std::optional<std::string> captionPart(const std::string& caption, bool left) {
    const std::size_t slash = caption.find('/');
    if (slash == std::string::npos) return std::nullopt;
    std::string l = caption.substr(0, slash);
    while (!l.empty() && l.back() == ' ') l.pop_back();
    std::string r = caption.substr(slash + 1);
    r.erase(0, r.find_first_not_of(' '));
    const std::size_t cut = l.find_last_of(" (");
    const std::size_t tokenStart = cut == std::string::npos ? 0 : cut + 1;
    const std::size_t tokenEnd = std::min(r.find_first_of(" )"), r.size());
    const std::string prefix = l.substr(0, tokenStart);
    const std::string suffix = r.substr(tokenEnd);
    return prefix + (left ? l.substr(tokenStart) : r.substr(0, tokenEnd)) + suffix;
}

}  // namespace

std::span<const int> readingCells() {
    return kReadingCells;
}

std::size_t cellReadings(std::uint32_t offset, const TelemetryValues& v, std::int32_t type,
                         CellReadings& out) {
    const bool charger = isChargerMode(type, v.activeMotor);
    const bool iso = charger && type == kTypeIsolatedCharger;
    const bool grid = charger && type == kTypeGridTieCharger;
    std::size_t n = 0;
    auto add = [&](int cell, double value, int decimals, const char* unit) {
        out[n++] = CellReading{cell, value, decimals, unit, nullptr};
    };
    switch (offset) {
        case 0x01:
            add(1179, v.canTransmitErrors, 0, "");
            add(1178, v.canReceiveErrors, 0, "");
            break;
        case 0x02:
            add(1000, v.busVoltage, 2, " V");
            if (grid) {
                const bool ok = v.busCurrent > 0.5f;
                out[n++] = CellReading{1001, ok ? 1.0 : 0.0, 0, "", ok ? "TRUE" : "FALSE"};
            } else {
                add(1001, v.busCurrent, 2, " A");
            }
            if (!charger) add(1133, v.busCurrent * v.busVoltage, 0, " W");
            break;
        case 0x03:
            if (grid)
                add(1006, v.motorVelocity, 2, " Hz");
            else
                add(1006, v.motorVelocity, 0, " rpm");
            add(1028, v.vehicleVelocity * 3.6, 1, " kph");
            break;
        case 0x04:
            add(1022, v.phaseBCurrent, 2, " A");
            add(1007, v.phaseCCurrent, 2, " A");
            break;
        case 0x05:
            add(1015, v.outputVoltageD, 2, " V");
            add(1016, v.outputVoltageQ, 2, " V");
            if (iso) add(1133, v.phaseCCurrent * v.outputVoltageQ, 0, " W");
            break;
        case 0x06:
            add(1017, v.outputCurrentD, 2, iso ? " V" : " A");
            add(1025, v.outputCurrentQ, 2, iso ? " %" : " A");
            break;
        case 0x07:
            add(1023, v.backEmf, 2, " V");
            if (grid) add(1133, v.outputCurrentQ * v.backEmf * 3, 0, " W");
            break;
        case 0x08:
            add(1199, v.hiddenVoltage, 2, " V");
            add(1011, v.rail15V, 2, " V");
            break;
        case 0x09:
            add(1013, v.rail1V9, 2, " V");
            add(1014, v.rail3V3, 2, " V");
            break;
        case 0x0B:
            add(1018, v.motorTemperature, 1, kDegreesCelsius);
            add(1009, v.phaseATemperature, 1, kDegreesCelsius);
            break;
        case 0x0C:
            add(1008, v.dspTemperature, 1, kDegreesCelsius);
            add(1019, v.phaseBTemperature, 1, kDegreesCelsius);
            break;
        case 0x0D:
            add(1200, v.hiddenTemperature, 1, kDegreesCelsius);
            add(1020, v.phaseCTemperature, 1, kDegreesCelsius);
            break;
        case 0x0E:
            add(1030, v.odometer / 1000, 2, " km");
            add(1031, v.busCharge, 2, charger ? "" : " Ah");
            break;
        case 0x17:
            add(1032, v.slipSpeed, 2, " Hz");
            break;
        default:
            break;
    }
    return n;
}

std::string readingUnit(int cell, std::int32_t type, std::int32_t activeMotor) {
    const auto r = readingOf(cell, type, activeMotor);
    if (!r) return {};
    std::string unit = r->unit;
    if (!unit.empty() && unit.front() == ' ') unit.erase(0, 1);
    return unit;
}

int readingDecimals(int cell, std::int32_t type, std::int32_t activeMotor) {
    const auto r = readingOf(cell, type, activeMotor);
    return r ? r->decimals : 2;
}

std::string readingCaption(int cell, const TelemetryPanel& panel, std::int32_t type,
                           std::int32_t activeMotor) {
    const PanelRow* row = rowOf(cell);
    if (!row) return {};
    const std::string caption =
        row->captionId != 0 ? panel.caption(row->captionId) : std::string(row->fixedCaption);
    if (row->rightCell == 0) return caption;
    const bool left = row->leftCell == cell;
    const int other = left ? row->rightCell : row->leftCell;
    if (!isReadingCell(other)) return captionPart(caption, left).value_or(caption);
    if (readingUnit(other, type, activeMotor) != readingUnit(cell, type, activeMotor))
        return caption;
    if (auto part = captionPart(caption, left)) return *part;
    return caption + (left ? " (left)" : " (right)");
}

std::optional<std::string> readingLogColumn(int cell, std::int32_t type, std::int32_t activeMotor) {
    const auto it = std::find_if(kLogColumns.begin(), kLogColumns.end(),
                                 [cell](const LogColumn& c) { return c.cell == cell; });
    if (it == kLogColumns.end()) return std::nullopt;
    std::string header = telemetryLogHeader(type, activeMotor);
    if (!header.empty() && header.back() == '\n') header.pop_back();
    std::size_t column = 0, start = 0;
    while (column < it->column) {
        const std::size_t comma = header.find(", ", start);
        if (comma == std::string::npos) return std::nullopt;
        start = comma + 2;
        ++column;
    }
    return header.substr(start, header.find(", ", start) - start);
}

}  // namespace qv
