#include "config/pages/general_page.h"

#include <cstdio>

#include "config/config_transfer.h"

namespace qv {

namespace {

using namespace general_id;

constexpr std::int32_t kIsolatedCharger = 0x4000;
constexpr std::int32_t kGridTieCharger = 0x4001;

// Labels that change with the device type: motor controller, isolated charger, grid-tie.
struct DeviceLabel {
    int id;
    const char* motor;
    const char* isolated;
    const char* gridTie;
};

// clang-format off
const DeviceLabel kLabels[] = {
    {1223, "Sine Current Limit (Arms)", "Output Current Limit (A)", "Grid Draw Limit (Arms)"},
    {1224, "SixStep Current Limit (A)", "SixStep Current Limit (A)", "Grid PFC SP(Id) (A)"},
    {1225, "Speed Limit (RPM)", "Output Voltage Limit (V)", "DC bus SP (V)"},
    {1226, "Idc Limit (A)", "Idc Limit (A)", "Grid Feed Limit (Arms)"},
    {1227, "Max bus voltage (V)", "Max bus voltage (V)", "Max Grid voltage (Vrms)"},
    {1228, "Min bus voltage (V)", "Min bus voltage (V)", "Min Grid voltage (Vrms)"},
    {1152, "Errors/Limiters", "*Errors/Limiters", "*Errors/Limiters"},
    {1153, "Bus Volt/Curr", "Bus Volt", "*Bus Volt/Grid OK"},
    {1154, "Velocity", "Velocity", "*Grid Frequency"},
    {1155, "Phase Currents", "*Out Currents", "Phase Currents"},
    {1156, "DQ Voltage", "*Out Volt", "DQ Voltage"},
    {1157, "DQ Current", "Duty/NoLoad err", "DQ Current"},
    {1164, "BEMF", "BEMF", "*Grid Voltage"},
    {1161, "Phase A/Motor temp", "Phase A", "Phase A"},
    {1165, "Odometer/BusAh", "*Veh kWh", "Grid kWh"},
};

// Labels that never change.
const std::map<int, std::string> kFixedLabels = {
    {1158, "15V / Hall Voltage"}, {1159, "3.3/1.9V rails"}, {1160, "Fan Speeds"},
    {1162, "Phase B/DSP temp"}, {1163, "Phase C temp"}, {1166, "Slip Speed"},
    {1167, "Listen for BMS master packets"},
};

const std::vector<TelemetryBox> kBoxes = {
    {1152, 1}, {1153, 2}, {1154, 3}, {1155, 4}, {1156, 5}, {1157, 6}, {1164, 7}, {1158, 8},
    {1159, 9}, {1160, 10}, {1161, 11}, {1162, 12}, {1163, 13}, {1165, 14}, {1166, 23},
};
// clang-format on

}  // namespace

bool canIdentifierAllowed(std::uint64_t value) {
    return value <= kMaxCanBase && value % kCanBaseStep == 0;
}

std::uint32_t fixCanIdentifier(std::uint64_t value) {
    if (value > kMaxCanBase) return kMaxCanBase;
    return static_cast<std::uint32_t>(value) & ~(kCanBaseStep - 1);
}

MessageBoxRequest canIdentifierQuestion() {
    char text[128];
    std::snprintf(text, sizeof text,
                  "Standard CAN address must be less than 0x%X\r\nand have 0x%X as a factor. Fix?",
                  kMaxCanBase, kCanBaseStep);
    MessageBoxRequest r;
    r.text = text;
    r.caption = "CAN Address";
    r.icon = MessageIcon::Question;
    r.buttons = MessageButtons::YesNoCancel;
    r.defaultAnswer = MessageAnswer::Yes;
    return r;
}

MessageBoxRequest canBaudMessage() {
    MessageBoxRequest r;
    r.text = "Must select one of the provided options";
    r.caption = "CAN Baud";
    r.icon = MessageIcon::None;
    r.buttons = MessageButtons::Ok;
    r.defaultAnswer = MessageAnswer::Ok;
    return r;
}

const std::vector<TelemetryBox>& telemetryBoxes() {
    return kBoxes;
}

const std::vector<std::string>& CConfig::baudRates() {
    static const std::vector<std::string> rates = {"50 kbps",  "100 kbps", "125 kbps",
                                                   "250 kbps", "500 kbps", "1000 kbps"};
    return rates;
}

bool CConfig::visible(int id) {
    return id != kSensorlessAccelRate && id != 1189 && id != kFanSpeeds;
}

CConfig::CConfig(CConfigDataBank& store, UserInteraction& ui, std::string caption)
    : store_(store), ui_(ui), caption_(std::move(caption)) {
    // The unit: the one the field's label names for the device type, or a fixed one.
    using Unit = std::function<std::string()>;
    auto labelled = [this](int labelId) -> Unit {
        return [this, labelId] { return unitInLabel(label(labelId)); };
    };
    auto fixed = [](std::string unit) -> Unit { return [unit] { return unit; }; };
    auto add = [&](int id, std::size_t offset, double max, Unit unit) {
        numbers_.add(NumberField{
            id, NumberFormat::Rounded2, 0.0, max,
            [this, offset] { return recordFloat(store_.publicConfig, offset); },
            [this, offset](double v) { setRecordFloat(store_.publicConfig, offset, v); },
            std::move(unit)});
    };
    add(kSineCurrentLimit, offsetof(PublicConfig, sineCurrentLimit), 700, labelled(1223));
    add(kSixStepCurrentLimit, offsetof(PublicConfig, sixStepCurrentLimit), 700, labelled(1224));
    add(kSpeedLimit, offsetof(PublicConfig, speedLimit), 12000, labelled(1225));
    add(kIdcLimit, offsetof(PublicConfig, busCurrentLimit), 500, labelled(1226));
    add(kPhaseCLimit, offsetof(PublicConfig, phaseCTempLimit), 150,
        fixed(std::string(kDegreeSign) + "C"));
    add(kMaxBusVoltage, offsetof(PublicConfig, maxBusVoltage), 1000, labelled(1227));
    add(kMinBusVoltage, offsetof(PublicConfig, minBusVoltage), 1000, labelled(1228));
    add(kVehicleMass, offsetof(PublicConfig, vehicleMass), 2000, fixed("kg"));
    add(kSensorlessAccelRate, offsetof(PublicConfig, sensorlessAccelRate), 100, fixed(""));
    for (int id : {kCanId, kDriverControlsCanId, kBmsMasterCanId}) identifiers_[id] = {};
    checks_[kListenForBms] = false;
    for (const TelemetryBox& b : kBoxes) checks_[b.id] = false;
}

bool CConfig::blocked() const {
    return transferRunning(store_);
}

void CConfig::markModified() {
    store_.markModified(StructureKind::Public);
}

std::uint32_t CConfig::storedIdentifier(int id) const {
    const PublicConfig& p = store_.publicConfig;
    if (id == kCanId) return p.canBaseAddress;
    if (id == kDriverControlsCanId) return p.driverControlsBaseAddress;
    return p.bmsMasterCanId;
}

std::string CConfig::storedIdentifierText(int id) const {
    CHexEdit shown;
    shown.setValue(storedIdentifier(id));
    return shown.text();
}

bool CConfig::storedCheck(int id) const {
    const PublicConfig& p = store_.publicConfig;
    if (id == kListenForBms) return p.listenForBms != 0;
    for (const TelemetryBox& b : kBoxes)
        if (b.id == id) return ((p.telemetryMask >> b.bit) & 1u) != 0;
    return false;
}

int CConfig::storedBaud() const {
    const auto stored = store_.publicConfig.canBaudIndex;
    return stored < baudRates().size() ? static_cast<int>(stored) : -1;
}

bool CConfig::identifierDiffers(int id) const {
    return identifiers_.at(id).edit.text() != storedIdentifierText(id);
}

bool CConfig::boxesDiffer() const {
    for (const TelemetryBox& b : kBoxes)
        if (checks_.at(b.id) != storedCheck(b.id)) return true;
    return false;
}

bool CConfig::differsFromStore() const {
    if (numbers_.anyDiffersFromStore() || boxesDiffer() || baud_ != storedBaud() ||
        checks_.at(kListenForBms) != storedCheck(kListenForBms))
        return true;
    for (const auto& [id, ident] : identifiers_)
        if (identifierDiffers(id)) return true;
    return false;
}

void CConfig::writeIdentifier(int id, std::uint32_t value) {
    PublicConfig& p = store_.publicConfig;
    if (id == kCanId)
        p.canBaseAddress = value;
    else if (id == kDriverControlsCanId)
        p.driverControlsBaseAddress = value;
    else
        p.bmsMasterCanId = value;
}

bool CConfig::fillPage(std::int32_t deviceType) {
    if (blocked()) return false;
    deviceType_ = deviceType;
    numbers_.fill();
    for (auto& [id, ident] : identifiers_) ident.edit.setValue(storedIdentifier(id));
    for (auto& [id, on] : checks_) on = storedCheck(id);
    baud_ = storedBaud();

    char text[64];
    readOnly_[kHardCurrentLimit] = "0";
    std::snprintf(text, sizeof text, "%lu",
                  static_cast<unsigned long>(store_.privateConfig.serialNumber));
    readOnly_[kSerialNumber] = text;
    std::snprintf(text, sizeof text, "v%0.2f (%lu)", store_.readOnly.firmwareVersion / 100.0,
                  static_cast<unsigned long>(store_.readOnly.firmwareBuild));
    readOnly_[kFirmwareVersion] = text;
    readOnly_[kDspHardwareVersion] = std::to_string(store_.readOnly.dspHardwareVersion);
    return true;
}

bool CConfig::editText(int id, std::string text) {
    if (blocked()) return false;
    if (numbers_.has(id)) {
        numbers_.setText(id, std::move(text));
    } else if (identifiers_.count(id)) {
        identifiers_[id].edit.setText(std::move(text));
    } else {
        return false;
    }
    markModified();
    return true;
}

bool CConfig::setChecked(int id, bool checked) {
    if (blocked() || !checks_.count(id)) return false;
    checks_[id] = checked;
    markModified();
    return true;
}

bool CConfig::selectBaud(int index) {
    if (blocked() || index < -1 || index >= static_cast<int>(baudRates().size())) return false;
    baud_ = index;
    markModified();
    return true;
}

bool CConfig::checkIdentifier(int id) {
    CHexEdit& edit = identifiers_.at(id).edit;
    // The whole value counts: 0x10400 is not 0x400.
    const std::uint64_t v = edit.getValue();
    if (canIdentifierAllowed(v)) return true;
    switch (ui_.messageBox(canIdentifierQuestion())) {
        case MessageAnswer::Yes:
            edit.setValue(fixCanIdentifier(v));
            markModified();
            return true;
        case MessageAnswer::Cancel:
            edit.setValue(storedIdentifier(id));
            markModified();
            return true;
        default:
            return false;
    }
}

FieldCheck CConfig::leaveField(int id) {
    if (blocked()) return {};
    if (numbers_.has(id)) {
        if (const auto problem = numbers_.check(id)) {
            ui_.messageBox(validationMessage(*problem, caption_));
            return {true, id};
        }
        return {};
    }
    if (identifiers_.count(id)) return checkIdentifier(id) ? FieldCheck{} : FieldCheck{true, id};
    if (id == kCanBaudRate && baud_ < 0) {
        ui_.messageBox(canBaudMessage());
        baud_ = storedBaud();
    }
    return {};
}

FieldCheck CConfig::storePage() {
    if (blocked()) return {true, 0};
    FieldCheck result;
    auto refuse = [&](int id) {
        if (!result.keepFocus) result = {true, id};
    };
    if (const auto problem = numbers_.store()) {
        ui_.messageBox(validationMessage(problem->second, caption_));
        refuse(problem->first);
    }
    for (auto& [id, ident] : identifiers_) {
        if (!identifierDiffers(id)) continue;
        if (!checkIdentifier(id)) {
            refuse(id);
            continue;
        }
        writeIdentifier(id, static_cast<std::uint32_t>(ident.edit.getValue()));
    }
    PublicConfig& p = store_.publicConfig;
    if (checks_[kListenForBms] != storedCheck(kListenForBms))
        p.listenForBms = checks_[kListenForBms] ? 1 : 0;
    if (boxesDiffer()) {
        std::uint32_t mask = 0xFFFFFFFFu;
        for (const TelemetryBox& b : kBoxes)
            if (!checks_[b.id]) mask &= ~(1u << b.bit);
        p.telemetryMask = mask;
    }
    if (baud_ != storedBaud()) {
        if (baud_ < 0) {
            ui_.messageBox(canBaudMessage());
            refuse(kCanBaudRate);
        } else {
            p.canBaudIndex = static_cast<std::uint32_t>(baud_);
        }
    }
    return result;
}

std::string CConfig::text(int id) const {
    if (numbers_.has(id)) return numbers_.text(id);
    if (identifiers_.count(id)) return identifiers_.at(id).edit.text();
    const auto it = readOnly_.find(id);
    return it != readOnly_.end() ? it->second : std::string();
}

bool CConfig::checked(int id) const {
    const auto it = checks_.find(id);
    return it != checks_.end() && it->second;
}

std::string CConfig::label(int id) const {
    for (const DeviceLabel& l : kLabels)
        if (l.id == id)
            return deviceType_ == kIsolatedCharger  ? l.isolated
                   : deviceType_ == kGridTieCharger ? l.gridTie
                                                    : l.motor;
    const auto it = kFixedLabels.find(id);
    return it != kFixedLabels.end() ? it->second : std::string();
}

std::string CConfig::hint(int id) const {
    if (numbers_.has(id)) return numbers_.hint(id);
    if (identifiers_.count(id)) {
        char text[96];
        std::snprintf(text, sizeof text, "A multiple of 0x%X from 0 to 0x%X (decimal or 0x hex)",
                      kCanBaseStep, kMaxCanBase);
        return text;
    }
    return {};
}

std::vector<std::string> CConfig::labelVariants(int id) {
    for (const DeviceLabel& l : kLabels)
        if (l.id == id) return {l.motor, l.isolated, l.gridTie};
    const auto it = kFixedLabels.find(id);
    if (it != kFixedLabels.end()) return {it->second};
    return {};
}

}  // namespace qv
