#include "monitor/telemetry_panel.h"

#include <algorithm>
#include <stdexcept>

#include "config/config_data_bank.h"
#include "config/text_encoding.h"
#include "monitor/number_text.h"
#include "monitor/telemetry_readings.h"

namespace qv {

namespace {

constexpr std::array<int, 33> kCellIds = {1177, 1179, 1178, 1004, 1003, 1000, 1001, 1133, 1006,
                                          1028, 1007, 1022, 1029, 1023, 1015, 1016, 1017, 1025,
                                          1032, 1011, 1199, 1013, 1014, 1018, 1020, 1019, 1008,
                                          1009, 1030, 1031, 1200, 1202, 1203};
constexpr int kFirstCaption = 1209;
constexpr std::array<int, 14> kCaptionIds = {1209, 1210, 1211, 1212, 1213, 1214, 1215,
                                             1216, 1217, 1218, 1219, 1220, 1221, 1222};

constexpr std::array<PanelRow, 18> kRows = {{
    {1209, "Active Motor", 1177, 0},
    {0, "CAN Err Cnt (T/R)", 1179, 1178},
    {0, "Errors", 1004, 0},
    {0, "Limiting Setpoint", 1003, 0},
    {1210, "Bus Volt/Curr", 1000, 1001},
    {0, "Controller Power", 1133, 0},
    {1211, "Velocity", 1006, 1028},
    {1212, "RMS Current C/B", 1007, 1022},
    {1213, "Motor BEMF (d/q)", 1029, 1023},
    {1214, "Out Voltage (d/q)", 1015, 1016},
    {1215, "Out Current (d/q)", 1017, 1025},
    {1216, "Slip Speed", 1032, 0},
    {1217, "15V Rail", 1011, 0},
    {1218, "1.9V / 3.3V Rails", 1013, 1014},
    {1219, "Motor Temp", 1018, 0},
    {1220, "C / B Temp", 1020, 1019},
    {1221, "DSP / A Temp", 1008, 1009},
    {1222, "Odo / Bus Ah", 1030, 1031},
}};

struct RequestCell {
    int cell;
    std::uint32_t offset;
};
constexpr std::array<RequestCell, 27> kRequests = {{
    {1003, 0x01}, {1004, 0x01}, {1000, 0x02}, {1001, 0x02}, {1133, 0x02}, {1006, 0x03},
    {1028, 0x03}, {1007, 0x04}, {1022, 0x04}, {1015, 0x05}, {1016, 0x05}, {1017, 0x06},
    {1025, 0x06}, {1023, 0x07}, {1011, 0x08}, {1199, 0x08}, {1013, 0x09}, {1014, 0x09},
    {1009, 0x0B}, {1018, 0x0B}, {1008, 0x0C}, {1019, 0x0C}, {1020, 0x0D}, {1200, 0x0D},
    {1030, 0x0E}, {1031, 0x0E}, {1032, 0x17},
}};

// Cell id -> index into kCellIds, -1 for none.
constexpr auto kCellIndex = [] {
    std::array<int, 224> index{};
    index.fill(-1);
    for (std::size_t i = 0; i < kCellIds.size(); ++i)
        index[static_cast<std::size_t>(kCellIds[i] - 1000)] = static_cast<int>(i);
    return index;
}();

int cellIndex(int id) {
    if (id < 1000 || id >= 1000 + static_cast<int>(kCellIndex.size())) return -1;
    return kCellIndex[static_cast<std::size_t>(id - 1000)];
}

const char* defaultCaption(int id) {
    for (const PanelRow& r : kRows)
        if (r.captionId == id) return r.fixedCaption;
    return "";
}

}  // namespace

std::span<const PanelRow> panelRows() {
    return kRows;
}


std::span<const int> TelemetryPanel::cellIds() {
    return kCellIds;
}

std::span<const int> TelemetryPanel::captionIds() {
    return kCaptionIds;
}

std::optional<std::uint32_t> TelemetryPanel::requestOffset(int cellId) {
    for (const RequestCell& r : kRequests)
        if (r.cell == cellId) return r.offset;
    return std::nullopt;
}

TelemetryPanel::TelemetryPanel() : slots_(kCellIds.size()) {
    for (std::size_t i = 0; i < kCaptionIds.size(); ++i)
        captions_[i] = defaultCaption(kCaptionIds[i]);
    slot(1199).current.visible = false;
    slot(1200).current.visible = false;
    slot(1029).current.enabled = false;
    setText(kStatusLineCell, kNotConnectedText);
    Slot& box = slot(kStatusBoxCell);
    box.current.background = box.current.textColour = kBlack;
    reset();
    setStale(true);
    changes_.cells.reserve(kCellIds.size());
    changes_.captions.reserve(kCaptionIds.size());
    scratch_.reserve(64);
}

TelemetryPanel::Slot& TelemetryPanel::slot(int id) {
    const int i = cellIndex(id);
    if (i < 0) throw std::out_of_range("no telemetry cell " + std::to_string(id));
    return slots_[static_cast<std::size_t>(i)];
}

const CellState& TelemetryPanel::cell(int id) const {
    const int i = cellIndex(id);
    if (i < 0) throw std::out_of_range("no telemetry cell " + std::to_string(id));
    return slots_[static_cast<std::size_t>(i)].current;
}

const std::string& TelemetryPanel::caption(int id) const {
    if (id < kFirstCaption || id >= kFirstCaption + static_cast<int>(captions_.size()))
        throw std::out_of_range("no telemetry caption " + std::to_string(id));
    return captions_[static_cast<std::size_t>(id - kFirstCaption)];
}

void TelemetryPanel::setText(int id, const char* text, std::size_t length) {
    std::string& t = slot(id).current.text;
    if (t.size() != length || t.compare(0, length, text, length) != 0) t.assign(text, length);
}

void TelemetryPanel::setBackground(int id, ColorRef colour) {
    slot(id).current.background = colour;
}

void TelemetryPanel::setEnabled(int id, bool enabled) {
    slot(id).current.enabled = enabled;
}

void TelemetryPanel::reset() {
    dirtyOffsets_ = 0;
    setText(1179, "0", 1);
    setText(1178, "0", 1);
    setBackground(1179, kButtonFace);
    setBackground(1178, kButtonFace);
    setText(1004, "", 0);
    setBackground(1004, kButtonFace);
    setText(1003, "", 0);
    setText(1177, "0", 1);
    for (int id : {1000, 1015, 1016, 1199, 1011, 1013, 1014, 1023}) setText(id, "0 V", 3);
    for (int id : {1001, 1022, 1007, 1017, 1025}) setText(id, "0 A", 3);
    setText(1133, "0 W", 3);
    setText(1006, "0 rpm", 5);
    setText(1028, "0 kph", 5);
    const std::string zeroDegrees = std::string("0") + kDegreesCelsius;
    for (int id : {1018, 1009, 1008, 1019, 1200, 1020}) setText(id, zeroDegrees);
    setText(1030, "0 km", 4);
    setText(1031, "0 Ah", 4);
    setText(1032, "0 Hz", 4);
}

void TelemetryPanel::setStale(bool stale) {
    if (stale == stale_) return;
    stale_ = stale;
    for (std::size_t i = 0; i < slots_.size(); ++i)
        if (kCellIds[i] != kStatusLineCell && kCellIds[i] != kStatusBoxCell)
            slots_[i].current.stale = stale;
}

void TelemetryPanel::setStatus(const std::string& text, ColorRef boxColour) {
    setText(kStatusLineCell, text);
    Slot& box = slot(kStatusBoxCell);
    box.current.background = box.current.textColour = boxColour;
}

void TelemetryPanel::applyLabels(std::int32_t type, std::int32_t activeMotor) {
    const bool charger = isChargerMode(type, activeMotor);
    const bool iso = type == kTypeIsolatedCharger;
    const bool grid = type == kTypeGridTieCharger;
    auto set = [this](int id, const char* text) {
        captions_[static_cast<std::size_t>(id - kFirstCaption)] = text;
    };
    for (int id : {1210, 1211, 1212, 1213, 1214, 1215, 1216, 1219, 1222})
        set(id, defaultCaption(id));
    if (charger && iso) {
        set(1210, "Bus Volt");
        set(1211, "-");
        set(1212, "Out Curr (DC)");
        set(1213, "-");
        set(1214, "Out Volt(cap/out)");
        set(1215, "NoLoad err/Duty");
        set(1216, "-");
        set(1219, "-");
        set(1222, "Veh kWh");
    } else if (charger && grid) {
        set(1210, "Bus Volt/Grid OK");
        set(1211, "Grid Frequency");
        set(1212, "RMS Current C/B");
        set(1213, "Grid Voltage (rms)");
        set(1214, "Grid Voltage (d/q)");
        set(1215, "Grid Current (d/q)");
        set(1216, "-");
        set(1219, "-");
        set(1222, "Grid kWh");
    } else if (iso || grid) {
        set(1210, "BusV/phA Irms");
        set(1212, "phC/phB (Irms)");
        if (grid) {
            set(1213, "GT PhA (V)");
            set(1214, "GT PhB/C (V)");
        }
    }
    for (int id : {1030, 1018, 1028, 1032}) setEnabled(id, !charger);
    for (int id : {1001, 1006, 1023}) setEnabled(id, !(charger && iso));
    const bool small = type == kTypeSmallController;
    set(1220, small ? "-" : "C / B Temp");
    setEnabled(1020, !small);
    setEnabled(1019, !small);
}

void TelemetryPanel::formatMessage(std::uint32_t offset, const TelemetryValues& v,
                                   std::int32_t type, const CConfigDataBank* store) {
    std::string& s = scratch_;
    if (offset == kStatusOffset) {
        s.clear();
        appendBitNames(s, static_cast<std::uint32_t>(v.limitFlags), kPanelLimitNames);
        setText(1003, s);
        s.clear();
        appendBitNames(s, static_cast<std::uint32_t>(v.errorFlags), kPanelErrorNames);
        setText(1004, s);
        setBackground(1004, v.errorFlags != 0 ? kErrorRed : kButtonFace);
        s.clear();
        appendInt(s, v.activeMotor);
        if (v.activeMotor >= 0 && v.activeMotor < 10 && store != nullptr &&
            store->isValid(StructureKind::Motor)) {
            s += ": ";
            s +=
                windows1252ToUtf8(store->motorDescription(static_cast<std::size_t>(v.activeMotor)));
        }
        setText(1177, s);
        s.clear();
        appendInt(s, v.canTransmitErrors);
        s += ' ';
        setText(1179, s);
        setBackground(1179, v.canTransmitErrors != 0 ? kWarningOrange : kButtonFace);
        s.clear();
        appendInt(s, v.canReceiveErrors);
        s += ' ';
        setText(1178, s);
        setBackground(1178, v.canReceiveErrors != 0 ? kWarningOrange : kButtonFace);
        return;
    }
    CellReadings readings;
    const std::size_t n = cellReadings(offset, v, type, readings);
    for (std::size_t i = 0; i < n; ++i) {
        const CellReading& r = readings[i];
        s.clear();
        if (r.text) {
            s += r.text;
        } else {
            appendFixed(s, r.value, r.decimals);
            s += r.unit;
        }
        setText(r.cell, s);
    }
}

const PanelChanges& TelemetryPanel::refresh(const TelemetryValues& values, std::int32_t deviceType,
                                            const CConfigDataBank* store) {
    changes_.cells.clear();
    changes_.captions.clear();
    if (relabel_) {
        applyLabels(deviceType, values.activeMotor);
        relabel_ = false;
    }
    for (std::uint32_t offset = 0; dirtyOffsets_ != 0 && offset < 32; ++offset) {
        if ((dirtyOffsets_ & (1u << offset)) == 0) continue;
        dirtyOffsets_ &= ~(1u << offset);
        formatMessage(offset, values, deviceType, store);
    }
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        Slot& s = slots_[i];
        const bool differs =
            firstRefresh_ || s.shown.text != s.current.text ||
            s.shown.background != s.current.background ||
            s.shown.textColour != s.current.textColour || s.shown.enabled != s.current.enabled ||
            s.shown.visible != s.current.visible || s.shown.stale != s.current.stale;
        if (!differs) continue;
        s.shown = s.current;
        changes_.cells.push_back(kCellIds[i]);
    }
    for (std::size_t i = 0; i < captions_.size(); ++i) {
        if (!firstRefresh_ && shownCaptions_[i] == captions_[i]) continue;
        shownCaptions_[i] = captions_[i];
        changes_.captions.push_back(kCaptionIds[i]);
    }
    firstRefresh_ = false;
    return changes_;
}

}  // namespace qv
