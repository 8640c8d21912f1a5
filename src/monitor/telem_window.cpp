#include "monitor/telem_window.h"

#include <algorithm>
#include <stdexcept>

#include "monitor/number_text.h"
#include "monitor/telemetry_values.h"

namespace qv {

namespace {

constexpr std::array<TelemCellInfo, 14> kCells = {{
    {1182, "Prech"},
    {1183, "Error"},
    {1184, "Limit"},
    {1185, "Motor Curr"},
    {1186, "Bus Volt"},
    {1187, "Bus Curr"},
    {1188, "Bus Power"},
    {1189, "Cell Min"},
    {1190, "Cell Avg"},
    {1191, "Cell Max"},
    {1192, "Speed"},
    {1193, "Motor Temp"},
    {1194, "Ctrl Temp"},
    {1195, "Energy"},
}};

// This window's own names (they differ from the main panel's).
constexpr std::array<const char*, 7> kLimitNames = {"PWM",    "Iq",     "vel", "Idc",
                                                    "VdcMax", "VdcMin", "sink"};
constexpr std::array<const char*, 7> kErrorNames = {"HWOC", "SWOC", "OV",   "HALL",
                                                    "WD",   "CGF",  "UV15V"};

struct Precharge {
    const char* text;
    ColorRef background;
};
constexpr std::array<Precharge, 5> kPrechargeStates = {{
    {"ERROR", kErrorRed},
    {"IDLE", kButtonFace},
    {"MAIN", kWhite},
    {"PRECH", kWarningOrange},
    {"RUN", kRunGreen},
}};

constexpr double kCellsInSeries = 108.0;

}  // namespace

const char* prechargeText(std::uint8_t state) {
    return state < kPrechargeStates.size() ? kPrechargeStates[state].text : nullptr;
}

std::span<const TelemCellInfo> telemCells() {
    return kCells;
}

TelemWindowModel::TelemWindowModel(std::string rawLogDirectory)
    : rawLog_(std::move(rawLogDirectory)) {
    for (CellState& c : cells_) c.text = "-";
    // The first refresh reports every cell.
    for (CellState& c : shownCells_) c.text = "\x01";
    changed_.reserve(cells_.size());
}

void TelemWindowModel::setShown(bool shown, const std::tm& local, double nowMs) {
    shown_ = shown;
    if (shown)
        rawLog_.open(local, nowMs);
    else
        rawLog_.close();
}

const CellState& TelemWindowModel::cell(int id) const {
    if (id < kTelemFirstCell || id > kTelemLastCell)
        throw std::out_of_range("no Telemetry window cell " + std::to_string(id));
    return cells_[static_cast<std::size_t>(id - kTelemFirstCell)];
}

void TelemWindowModel::update(std::uint32_t id, const CanFrame::Data& d, std::int32_t base) {
    // Base-relative messages only with a base address: without one, identifiers 0 to 13 would
    // be read as one device's telemetry.
    if (base >= 0) {
        const auto b = static_cast<std::uint32_t>(base);
        if (id == b + 0x01) {
            limitBits_ = d[0];
            errorBits_ = d[2];
            pending_ |= kStatus;
            return;
        }
        if (id == b + 0x04) {
            phaseB_ = floatAt(d, 0);
            phaseC_ = floatAt(d, 4);
            pending_ |= kCurrent;
            return;
        }
        if (id == b + 0x02) {
            busVoltage_ = floatAt(d, 0);
            busCurrent_ = floatAt(d, 4);
            pending_ |= kBus;
            return;
        }
        if (id == b + 0x03) {
            motorRpm_ = floatAt(d, 0);
            vehicleSpeed_ = floatAt(d, 4);
            pending_ |= kSpeed;
            return;
        }
        if (id == b + 0x0C) {
            phaseBTemp_ = floatAt(d, 4);
            pending_ |= kPhaseTemps;
            return;
        }
        if (id == b + 0x0D) {
            phaseCTemp_ = floatAt(d, 4);
            pending_ |= kPhaseTemps;
            return;
        }
        if (id == b + 0x0B) {
            motorTemp_ = floatAt(d, 0);
            phaseATemp_ = floatAt(d, 4);
            pending_ |= kMotorTemp | kPhaseTemps;
            return;
        }
    }
    if (id == kCellVoltageId) {
        cellMinMv_ = static_cast<std::int16_t>(u16At(d, 0));
        cellMaxMv_ = static_cast<std::int16_t>(u16At(d, 2));
        cellMinNo_ = u16At(d, 4);
        cellMaxNo_ = u16At(d, 6);
        pending_ |= kCells;
        return;
    }
    if (id == kPrechargeId) {
        precharge_ = d[1];
        pending_ |= kPrecharge;
    }
}

void TelemWindowModel::setText(int id, const char* text, std::size_t length) {
    std::string& t = at(id).text;
    if (t.size() != length || t.compare(0, length, text, length) != 0) t.assign(text, length);
}

const std::vector<int>& TelemWindowModel::refresh() {
    changed_.clear();
    std::string s;
    auto show = [&](int id, double value, int decimals, const char* unit) {
        s.clear();
        appendFixed(s, value, decimals);
        s += unit;
        setText(id, s.data(), s.size());
    };
    if (pending_ & kStatus) {
        s.clear();
        appendBitNames(s, limitBits_, kLimitNames);
        setText(1184, s.data(), s.size());
        s.clear();
        appendBitNames(s, errorBits_, kErrorNames);
        setText(1183, s.data(), s.size());
        at(1183).background = errorBits_ != 0 ? kErrorRed : kButtonFace;
    }
    if (pending_ & kCurrent) show(1185, std::max(phaseB_, phaseC_), 2, " A");
    if (pending_ & kBus) {
        const float power = busCurrent_ * busVoltage_;
        show(1186, busVoltage_, 2, " V");
        show(1190, busVoltage_ / kCellsInSeries, 2, " V");
        show(1187, busCurrent_, 2, " A");
        show(1188, power, 0, " W");
        if (vehicleSpeed_ == 0)
            setText(1195, "0.0 Whr/km", 10);
        else
            show(1195, power / vehicleSpeed_ / 3.6, 0, " Whr/km");
    }
    if (pending_ & kSpeed) show(1192, motorRpm_, 0, " rpm");
    if (pending_ & kMotorTemp) show(1193, motorTemp_, 1, kDegreesCelsius);
    if (pending_ & kPhaseTemps)
        show(1194, std::max({phaseATemp_, phaseBTemp_, phaseCTemp_}), 1, kDegreesCelsius);
    if (pending_ & kCells) {
        s.clear();
        appendInt(s, cellMinNo_);
        s += ": ";
        appendFixed(s, cellMinMv_ / 1000.0, 3);
        s += " V";
        setText(1189, s.data(), s.size());
        s.clear();
        appendInt(s, cellMaxNo_);
        s += ": ";
        appendFixed(s, cellMaxMv_ / 1000.0, 3);
        s += " V";
        setText(1191, s.data(), s.size());
    }
    if ((pending_ & kPrecharge) && precharge_ < kPrechargeStates.size()) {
        setText(1182, kPrechargeStates[precharge_].text,
                std::char_traits<char>::length(kPrechargeStates[precharge_].text));
        at(1182).background = kPrechargeStates[precharge_].background;
        at(1182).textColour = kBlack;
    } else if (pending_ & kPrecharge) {
        setText(1182, "", 0);
    }
    pending_ = 0;
    for (std::size_t i = 0; i < cells_.size(); ++i) {
        const CellState& c = cells_[i];
        CellState& shown = shownCells_[i];
        if (shown.text == c.text && shown.background == c.background &&
            shown.textColour == c.textColour && shown.enabled == c.enabled)
            continue;
        shown = c;
        changed_.push_back(kTelemFirstCell + static_cast<int>(i));
    }
    return changed_;
}

}  // namespace qv
