#include "config/pages/motor_page.h"

#include <cmath>
#include <cstdio>

#include "config/config_transfer.h"
#include "config/text_encoding.h"

namespace qv {

namespace {

using namespace motor_id;

constexpr std::int32_t kIsolatedCharger = 0x4000;
constexpr std::int32_t kGridTieCharger = 0x4001;

std::string binary3(unsigned v) {
    std::string out = "000";
    for (int bit = 0; bit < 3; ++bit)
        if (v & (1u << bit)) out[2 - static_cast<std::size_t>(bit)] = '1';
    return out;
}

template <typename Get, typename Set>
NumberField field(int id, NumberFormat format, std::optional<double> min, std::optional<double> max,
                  Get get, Set set) {
    return NumberField{id, format, min, max, std::move(get), std::move(set)};
}

}  // namespace

std::string hallLine(const MotorConfig& motor, int state) {
    const auto s = static_cast<std::size_t>(state);
    const float angle = motor.hallAngle[s];
    const unsigned previous = motor.hallPrevious[s];
    char text[64];
    std::snprintf(text, sizeof text, "%3.0f%s %s=>%s", static_cast<double>(angle) * 360.0,
                  kDegreeSign, binary3(previous).c_str(),
                  binary3(static_cast<unsigned>(state)).c_str());
    return text;
}

const std::vector<std::string>& CConfigMotor::motorTypes() {
    static const std::vector<std::string> types = {"BLDC", "Induction", "IPM"};
    return types;
}

bool CConfigMotor::readOnly(int id) {
    return id == kLineResistance || id == kLineInductance || id == kSpeedConstant ||
           id == kPhaseSequence || id == kHallList;
}

bool CConfigMotor::visible(int id) {
    return id != 1091 && id != 1092;
}

CConfigMotor::CConfigMotor(CConfigDataBank& store, std::size_t record, UserInteraction& ui,
                           std::string caption)
    : store_(store), record_(record), ui_(ui), caption_(std::move(caption)) {
    auto f32 = [this](std::size_t offset, double scale) {
        return std::make_pair(
            [this, offset, scale] { return recordFloat(motor(), offset) * scale; },
            [this, offset, scale](double v) { setRecordFloat(motor(), offset, v / scale); });
    };
    auto add = [&](int id, NumberFormat format, std::size_t offset, double scale = 1.0,
                   std::optional<double> min = {}, std::optional<double> max = {}) {
        auto [get, set] = f32(offset, scale);
        numbers_.add(field(id, format, min, max, get, set));
    };
    auto unit = [this](int id, std::string fixed, int labelId = 0) {
        numbers_.setUnit(id, [this, fixed, labelId] {
            return labelId != 0 ? unitInLabel(label(labelId)) : fixed;
        });
    };
    // 16-bit counts, checked to fit so that no value is cut to 16 bits.
    numbers_.add(field(
        kPolePairs, NumberFormat::Integer, 0.0, 65535.0,
        [this] { return static_cast<double>(motor().polePairs); },
        [this](double v) { motor().polePairs = static_cast<std::uint16_t>(v); }));
    add(kCutoutTemp, NumberFormat::Float, offsetof(MotorConfig, cutoutTemp));
    add(kRampTemp, NumberFormat::Float, offsetof(MotorConfig, rampTemp));
    add(kEngageFreq, NumberFormat::Fixed2, offsetof(MotorConfig, engageFreq));
    add(kDisengageFreq, NumberFormat::Fixed2, offsetof(MotorConfig, disengageFreq));
    add(kTempScale, NumberFormat::Fixed4, offsetof(MotorConfig, tempScale));
    add(kTempOffset, NumberFormat::Fixed4, offsetof(MotorConfig, tempOffset));
    add(kLineResistance, NumberFormat::Fixed4, offsetof(MotorConfig, lineResistance), 1000.0);
    add(kLineInductance, NumberFormat::Fixed4, offsetof(MotorConfig, lineInductance), 1e6);
    add(kSpeedConstant, NumberFormat::Fixed4, offsetof(MotorConfig, speedConstant));
    add(kRotorResistance, NumberFormat::Float, offsetof(MotorConfig, rotorResistance), 1000.0);
    add(kRotorInductance, NumberFormat::Float, offsetof(MotorConfig, rotorInductance), 1e6);
    add(kMinId, NumberFormat::Float, offsetof(MotorConfig, minId), 1.0, -300.0, 300.0);
    add(kMaxId, NumberFormat::Float, offsetof(MotorConfig, maxId), 1.0, 0.0, 300.0);
    numbers_.add(field(
        kEncoderCount, NumberFormat::Integer, 0.0, 10000.0,
        [this] { return static_cast<double>(motor().encoderCount); },
        [this](double v) { motor().encoderCount = static_cast<std::uint16_t>(v); }));
    for (int id : {kIgnoreHalls, kPhaseSequence, kEncoderReversed}) checks_[id] = false;
    // The units the fields are shown in (those that follow the motor or device type from
    // their labels).
    const std::string degrees = std::string(kDegreeSign) + "C";
    unit(kCutoutTemp, degrees);
    unit(kRampTemp, degrees);
    unit(kEngageFreq, "", kEngageLabel);
    unit(kDisengageFreq, "", kDisengageLabel);
    unit(kLineResistance, "mR");
    unit(kLineInductance, "uH");
    unit(kSpeedConstant, "V.s/rad");
    unit(kRotorResistance, "mR");
    unit(kRotorInductance, "uH");
    unit(kMinId, "", kMinIdLabel);
    unit(kMaxId, "", kMaxIdLabel);
}

std::string CConfigMotor::hint(int id) const {
    if (numbers_.has(id)) return numbers_.hint(id);
    if (id == kDescription) return "At most " + std::to_string(kDescriptionLimit) + " characters";
    if (id == kRo || id == kBeta) return "A number";
    return {};
}

bool CConfigMotor::blocked() const {
    return transferRunning(store_);
}

std::string CConfigMotor::storedText(int id) const {
    const MotorConfig& m = motor();
    if (id == kDescription) return windows1252ToUtf8(descriptionText(m));
    const double beta = m.thermistorBeta;
    if (id == kBeta) return formatNumber(beta, NumberFormat::Exp4);
    const double ro = m.thermistorRinf / std::exp(-beta / kThermistorReferenceK);
    return formatNumber(ro, NumberFormat::Exp4);
}

bool CConfigMotor::storedCheck(int id) const {
    const MotorConfig& m = motor();
    if (id == kIgnoreHalls) return m.ignoreHallsSensorless != 0;
    if (id == kPhaseSequence) return m.phaseSequenceReversed != 0;
    return m.encoderReversed != 0;
}

bool CConfigMotor::thermistorDiffers() const {
    return texts_.at(kRo) != storedText(kRo) || texts_.at(kBeta) != storedText(kBeta);
}

bool CConfigMotor::differsFromStore() const {
    // The 0 a BLDC page shows for its Id range is the page's own, not an edit.
    const bool bldc = motorType_ == 0 && motor().motorType == 0;
    if (numbers_.anyDiffersFromStore(bldc ? std::vector<int>{kMinId, kMaxId}
                                          : std::vector<int>{}) ||
        thermistorDiffers() || texts_.at(kDescription) != storedText(kDescription))
        return true;
    for (const auto& [id, on] : checks_)
        if (on != storedCheck(id)) return true;
    return motorType_ >= 0 && motorType_ != motor().motorType;
}

bool CConfigMotor::fillPage(std::int32_t deviceType) {
    if (blocked()) return false;
    deviceType_ = deviceType;
    const MotorConfig& m = motor();
    numbers_.fill();
    for (int id : {kDescription, kRo, kBeta}) texts_[id] = storedText(id);
    for (auto& [id, on] : checks_) on = storedCheck(id);
    motorType_ = m.motorType <= 2 ? m.motorType : -1;
    // A BLDC page shows no Min Id and Max Id: 0, which the next write back stores.
    if (motorType_ == 0) {
        numbers_.setText(kMinId, "0");
        numbers_.setText(kMaxId, "0");
    }
    hall_.clear();
    for (int s = 0; s < 8; ++s) hall_.push_back(hallLine(m, s));
    return true;
}

bool CConfigMotor::editText(int id, std::string text) {
    if (blocked() || readOnly(id) || !enabled(id)) return false;
    if (numbers_.has(id))
        numbers_.setText(id, std::move(text));
    else if (texts_.count(id))
        texts_[id] = std::move(text);
    else
        return false;
    store_.markModified(StructureKind::Motor);
    return true;
}

bool CConfigMotor::setChecked(int id, bool checked) {
    if (blocked() || readOnly(id) || !checks_.count(id)) return false;
    checks_[id] = checked;
    store_.markModified(StructureKind::Motor);
    return true;
}

bool CConfigMotor::selectMotorType(int type) {
    if (blocked() || type < 0 || type > 2) return false;
    const bool wasBldc = motorType_ == 0;
    motorType_ = type;
    if (type == 0) {
        numbers_.setText(kMinId, "0");
        numbers_.setText(kMaxId, "0");
    } else if (wasBldc) {
        // Out of BLDC the fields show the record's values again.
        numbers_.fillOne(kMinId);
        numbers_.fillOne(kMaxId);
    }
    store_.markModified(StructureKind::Motor);
    return true;
}

std::optional<std::string> CConfigMotor::checkDescription() const {
    // The record holds Windows-1252: one byte per character, and only its characters.
    const Windows1252Text text = utf8ToWindows1252(texts_.at(kDescription));
    if (text.refused) return notWindows1252Text(*text.refused);
    if (text.bytes.size() > kDescriptionLimit) return tooLongText(kDescriptionLimit);
    return std::nullopt;
}

FieldCheck CConfigMotor::leaveField(int id) {
    if (blocked()) return {};
    std::optional<std::string> problem;
    if (numbers_.has(id) && !readOnly(id) && enabled(id))
        problem = numbers_.check(id);
    else if (id == kDescription)
        problem = checkDescription();
    if (!problem) return {};
    ui_.messageBox(validationMessage(*problem, caption_));
    return {true, id, static_cast<int>(record_)};
}

FieldCheck CConfigMotor::storePage() {
    if (blocked()) return {true, 0};
    FieldCheck result;
    if (const auto problem = numbers_.store()) {
        ui_.messageBox(validationMessage(problem->second, caption_));
        result = {true, problem->first, static_cast<int>(record_)};
    }
    MotorConfig& m = motor();
    if (texts_[kDescription] != storedText(kDescription)) {
        if (const auto problem = checkDescription()) {
            if (!result.keepFocus) {
                ui_.messageBox(validationMessage(*problem, caption_));
                result = {true, kDescription, static_cast<int>(record_)};
            }
        } else {
            setDescription(m, utf8ToWindows1252(texts_[kDescription]).bytes);
        }
    }
    if (thermistorDiffers()) {
        const auto ro = parseNumber(texts_[kRo]);
        const auto beta = parseNumber(texts_[kBeta]);
        // Both must read, or the pair keeps what it held.
        if (ro && beta) {
            m.thermistorBeta = static_cast<float>(*beta);
            m.thermistorRinf = static_cast<float>(*ro * std::exp(-*beta / kThermistorReferenceK));
        }
    }
    if (checks_[kIgnoreHalls] != storedCheck(kIgnoreHalls))
        m.ignoreHallsSensorless = checks_[kIgnoreHalls] ? 1 : 0;
    if (checks_[kEncoderReversed] != storedCheck(kEncoderReversed))
        m.encoderReversed = checks_[kEncoderReversed] ? 1 : 0;
    if (motorType_ >= 0 && motorType_ != m.motorType)
        m.motorType = static_cast<std::uint16_t>(motorType_);
    return result;
}

std::string CConfigMotor::text(int id) const {
    if (numbers_.has(id)) return numbers_.text(id);
    const auto it = texts_.find(id);
    return it != texts_.end() ? it->second : std::string();
}

bool CConfigMotor::checked(int id) const {
    const auto it = checks_.find(id);
    return it != checks_.end() && it->second;
}

bool CConfigMotor::enabled(int id) const {
    if (id == kPhaseSequence) return false;
    if (id >= kRotorResistance && id <= kMaxId) return motorType_ != 0;
    return true;
}

std::string CConfigMotor::label(int id) const {
    if (id == kMinIdLabel || id == kMaxIdLabel) {
        const bool min = id == kMinIdLabel;
        switch (motorType_) {
            case 1:
                return min ? "Min Id (Apk)" : "Max Id (Apk)";
            case 2:
                return min ? "Id0 (A)" : "Id m (A/Atot)";
            default:
                return "-";
        }
    }
    if (id == kEngageLabel || id == kDisengageLabel) {
        const bool engage = id == kEngageLabel;
        if (deviceType_ == kIsolatedCharger)
            return engage ? "NoLoad_ctl incr gain" : "NoLoad_ctl decr gain";
        if (deviceType_ == kGridTieCharger)
            return engage ? "Min Grid Freq (Hz)" : "Max Grid Freq (Hz)";
        return engage ? "Engage Motor Freq (Hz)" : "Disengage Freq (Hz)";
    }
    return {};
}

CConfigMotorTabs::CConfigMotorTabs(CConfigDataBank& store, UserInteraction& ui, std::string caption)
    : store_(store), ui_(ui), caption_(std::move(caption)) {
    numbers_.add(field(
        kActiveMotor, NumberFormat::Integer, 0.0, 9.0,
        [this] { return static_cast<double>(store_.publicConfig.activeMotor); },
        [this](double v) { store_.publicConfig.activeMotor = static_cast<std::uint16_t>(v); }));
    numbers_.add(field(
        kTyreDiameter, NumberFormat::Rounded4, 0.0, 1000.0,
        [this] { return recordFloat(store_.publicConfig, offsetof(PublicConfig, tyreDiameter)); },
        [this](double v) {
            setRecordFloat(store_.publicConfig, offsetof(PublicConfig, tyreDiameter), v);
        }));
    numbers_.setUnit(kTyreDiameter, [] { return std::string("m"); });
    for (std::size_t i = 0; i < kMotorCount; ++i)
        pages_[i] = std::make_unique<CConfigMotor>(store_, i, ui_, caption_);
}

std::string CConfigMotorTabs::hint(int id) const {
    return numbers_.has(id) ? numbers_.hint(id) : std::string();
}

bool CConfigMotorTabs::fillPage(std::int32_t deviceType) {
    if (transferRunning(store_)) return false;
    numbers_.fill();
    for (auto& p : pages_) p->fillPage(deviceType);
    return true;
}

FieldCheck CConfigMotorTabs::storePage() {
    if (transferRunning(store_)) return {true, 0};
    FieldCheck result;
    {
        if (const auto problem = numbers_.store()) {
            ui_.messageBox(validationMessage(problem->second, caption_));
            result = {true, problem->first};
        }
    }
    for (auto& p : pages_) {
        const FieldCheck page = p->storePage();
        if (page.keepFocus && !result.keepFocus) result = page;
    }
    return result;
}

bool CConfigMotorTabs::differsFromStore() const {
    if (numbers_.anyDiffersFromStore()) return true;
    for (const auto& p : pages_)
        if (p->differsFromStore()) return true;
    return false;
}

bool CConfigMotorTabs::editText(int id, std::string text) {
    if (transferRunning(store_) || !numbers_.has(id)) return false;
    numbers_.setText(id, std::move(text));
    store_.markModified(StructureKind::Public);
    return true;
}

FieldCheck CConfigMotorTabs::leaveField(int id) {
    if (transferRunning(store_) || !numbers_.has(id)) return {};
    if (const auto problem = numbers_.check(id)) {
        ui_.messageBox(validationMessage(*problem, caption_));
        return {true, id};
    }
    return {};
}

std::string CConfigMotorTabs::text(int id) const {
    return numbers_.has(id) ? numbers_.text(id) : std::string();
}

}  // namespace qv
