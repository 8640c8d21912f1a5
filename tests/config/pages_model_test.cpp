// Model-based test of the Configuration window's three kinds of page (General, Calibration,
// Motor): thousands of seeded random sequences of fills, edits (new values, reverts to what the
// page first showed, retyped numbers equal to a rounded display, check boxes, motor types), write
// backs and saves. After every write back the store must decode to exactly what the pages show,
// values never edited must keep their exact bits, and a save must hold what the store holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>

#include "config/calibration_text.h"
#include "config/config_file.h"
#include "config/pages/calibration_page.h"
#include "config/pages/general_page.h"
#include "config/pages/motor_page.h"

namespace qv {
namespace {

using namespace general_id;
using namespace motor_id;

struct NoQuestions : UserInteraction {
    MessageAnswer messageBox(const MessageBoxRequest& r) override {
        ADD_FAILURE() << "unexpected box: " << r.text;
        return r.defaultAnswer;
    }
    std::optional<std::string> fileDialog(const FileDialogRequest&) override { return {}; }
};

// A number field as the pages' tables give it: where it is stored, the unit shown, the format.
struct Spec {
    int id;
    std::size_t offset;
    NumberFormat format;
    double min, max;
    double scale = 1.0;  // shown = stored x scale
    bool u16 = false;    // a 16-bit count, else a float32
    bool editable = true;
};

const Spec kGeneral[] = {
    {kSineCurrentLimit, offsetof(PublicConfig, sineCurrentLimit), NumberFormat::Rounded2, 0, 700},
    {kSixStepCurrentLimit, offsetof(PublicConfig, sixStepCurrentLimit), NumberFormat::Rounded2, 0,
     700},
    {kSpeedLimit, offsetof(PublicConfig, speedLimit), NumberFormat::Rounded2, 0, 12000},
    {kIdcLimit, offsetof(PublicConfig, busCurrentLimit), NumberFormat::Rounded2, 0, 500},
    {kPhaseCLimit, offsetof(PublicConfig, phaseCTempLimit), NumberFormat::Rounded2, 0, 150},
    {kMaxBusVoltage, offsetof(PublicConfig, maxBusVoltage), NumberFormat::Rounded2, 0, 1000},
    {kMinBusVoltage, offsetof(PublicConfig, minBusVoltage), NumberFormat::Rounded2, 0, 1000},
    {kVehicleMass, offsetof(PublicConfig, vehicleMass), NumberFormat::Rounded2, 0, 2000},
    {kActiveMotor, offsetof(PublicConfig, activeMotor), NumberFormat::Integer, 0, 9, 1, true},
    {kTyreDiameter, offsetof(PublicConfig, tyreDiameter), NumberFormat::Rounded4, 0, 1000},
};
const Spec kMotor[] = {
    {kPolePairs, offsetof(MotorConfig, polePairs), NumberFormat::Integer, 0, 65535, 1, true},
    {kCutoutTemp, offsetof(MotorConfig, cutoutTemp), NumberFormat::Float, -50, 200},
    {kRampTemp, offsetof(MotorConfig, rampTemp), NumberFormat::Float, -50, 200},
    {kEngageFreq, offsetof(MotorConfig, engageFreq), NumberFormat::Fixed2, 0, 50},
    {kDisengageFreq, offsetof(MotorConfig, disengageFreq), NumberFormat::Fixed2, 0, 50},
    {kTempScale, offsetof(MotorConfig, tempScale), NumberFormat::Fixed4, 0, 5},
    {kTempOffset, offsetof(MotorConfig, tempOffset), NumberFormat::Fixed4, -5, 5},
    {kRotorResistance, offsetof(MotorConfig, rotorResistance), NumberFormat::Float, 0, 500, 1e3},
    {kRotorInductance, offsetof(MotorConfig, rotorInductance), NumberFormat::Float, 0, 900, 1e6},
    {kMinId, offsetof(MotorConfig, minId), NumberFormat::Float, -300, 300},
    {kMaxId, offsetof(MotorConfig, maxId), NumberFormat::Float, 0, 300},
    {kEncoderCount, offsetof(MotorConfig, encoderCount), NumberFormat::Integer, 0, 10000, 1, true},
    {kLineResistance, offsetof(MotorConfig, lineResistance), NumberFormat::Fixed4, 0, 500, 1e3,
     false, false},
    {kSpeedConstant, offsetof(MotorConfig, speedConstant), NumberFormat::Fixed4, 0, 5, 1, false,
     false},
};

template <typename Record>
double stored(const Record& r, const Spec& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(&r) + s.offset;
    if (s.u16) {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    float v;
    std::memcpy(&v, p, 4);
    return v;
}

// The page shows the stored value: as it displays, or as a text that reads as exactly it.
template <typename Record>
bool shows(const std::string& text, const Record& r, const Spec& s) {
    const double v = stored(r, s);
    if (text == formatNumber(v * s.scale, s.format)) return true;
    const auto typed = parseNumber(text);
    if (!typed) return false;
    return s.u16 ? *typed == v : static_cast<float>(*typed / s.scale) == static_cast<float>(v);
}

// Bytes of a field or value, for the exactness of what nobody edited.
template <typename Record>
std::vector<std::uint8_t> bytesAt(const Record& r, std::size_t offset, std::size_t size) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&r) + offset;
    return {p, p + size};
}

// Edits go to the first motor records (every page is filled and stored all the same).
constexpr std::size_t kEditedRecords = 4;

class Sequence {
  public:
    explicit Sequence(std::uint32_t seed)
        : rng_(seed), general_(store_, ui_), calibration_(store_, ui_), motors_(store_, ui_) {
        store_.resetToDefaults();
        for (const Spec& s : kGeneral) put(store_.publicConfig, s, randomValue(s));
        auto* priv = reinterpret_cast<unsigned char*>(&store_.privateConfig);
        PrivateConfig scan = store_.privateConfig;
        for (const CalibrationValue& v :
             scanCalibrationReport(buildCalibrationReport(store_.privateConfig, false), scan)
                 .values)
            if (v.size == 4 && v.offset != offsetof(PrivateConfig, serialNumber)) {
                const float f = static_cast<float>(uniform(-2, 1200) * uniform(0, 1));
                std::memcpy(priv + v.offset, &f, 4);
            }
        for (std::size_t i = 0; i < kMotorCount; ++i) {
            MotorConfig& m = store_.motor[i];
            for (const Spec& s : kMotor) put(m, s, randomValue(s));
            m.motorType = static_cast<std::uint16_t>(pick(3));
            m.encoderReversed = static_cast<std::uint16_t>(pick(2));
            m.ignoreHallsSensorless = static_cast<std::uint16_t>(pick(2));
            m.thermistorBeta = static_cast<float>(uniform(3000, 4500));
            setDescription(m, "Motor " + std::to_string(pick(100000)));
        }
        initial_ = store_.publicConfig;
        initialPrivate_ = store_.privateConfig;
        initialMotor_ = store_.motor;
        fill();
    }

    void step() {
        switch (pick(12)) {
            case 0:
                fill();
                break;
            case 1:
            case 2:
                editGeneral();
                break;
            case 3:
            case 4:
                editCalibration();
                break;
            case 5:
            case 6:
            case 7:
                editMotor();
                break;
            case 8:
            case 9:
                writeBack();
                break;
            default:
                save();
                break;
        }
    }

  private:
    std::size_t pick(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
    }
    double uniform(double a, double b) {
        return std::uniform_real_distribution<double>(a, b)(rng_);
    }

    double randomValue(const Spec& s) {
        if (s.u16 || s.format == NumberFormat::Integer)
            return std::floor(uniform(s.min, std::min(s.max, 20000.0)));
        return uniform(s.min, s.max) / s.scale;
    }
    template <typename Record>
    static void put(Record& r, const Spec& s, double v) {
        auto* p = reinterpret_cast<unsigned char*>(&r) + s.offset;
        if (s.u16) {
            const auto u = static_cast<std::uint16_t>(v);
            std::memcpy(p, &u, 2);
        } else {
            const auto f = static_cast<float>(v);
            std::memcpy(p, &f, 4);
        }
    }

    // A new text for a number: another value, what the page first showed, or the number shown
    // now with a zero more (the same number, another text).
    std::string newText(const std::string& shown, const std::string& first, const Spec& s) {
        switch (pick(3)) {
            case 0:
                return first;
            case 1:
                return zeroMore(shown);
            default: {
                const double v = uniform(s.min, s.max);
                if (s.format == NumberFormat::Integer) return std::to_string(std::llround(v));
                char text[64];
                std::snprintf(text, sizeof text, "%.*f", static_cast<int>(pick(6)), v);
                return text;
            }
        }
    }
    static std::string zeroMore(std::string text) {
        const std::size_t at = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
        return text.insert(at, "0");
    }

    void fill() {
        const std::int32_t types[] = {0x4002, 0x4000, 0x4001};
        const std::int32_t type = types[pick(3)];
        general_.fillPage(type);
        calibration_.fillPage(type);
        motors_.fillPage(type);
        if (firstGeneral_.empty()) {
            for (const Spec& s : kGeneral) firstGeneral_[s.id] = text(s.id);
            firstReport_ = calibration_.text();
        }
    }
    std::string text(int id) {
        return id == kActiveMotor || id == kTyreDiameter ? motors_.text(id) : general_.text(id);
    }

    void editGeneral() {
        const Spec& s = kGeneral[pick(std::size(kGeneral))];
        touched_.insert("public " + std::to_string(s.offset));
        const std::string t = newText(text(s.id), firstGeneral_[s.id], s);
        if (s.id == kActiveMotor || s.id == kTyreDiameter)
            motors_.editText(s.id, t);
        else
            general_.editText(s.id, t);
    }

    void editCalibration() {
        std::string t = calibration_.text();
        PrivateConfig scratch = store_.privateConfig;
        const CalibrationScan now = scanCalibrationReport(t, scratch);
        const CalibrationScan first = scanCalibrationReport(firstReport_, scratch);
        if (now.values.empty()) return;
        const std::size_t i = pick(now.values.size());
        const CalibrationValue& v = now.values[i];
        touched_.insert("private " + std::to_string(v.offset));
        const std::string shown = t.substr(v.begin, v.end - v.begin);
        std::string typed;
        if (pick(3) == 0) {
            typed = firstReport_.substr(first.values[i].begin,
                                        first.values[i].end - first.values[i].begin);
        } else if (pick(2) == 0) {
            typed = zeroMore(shown);
        } else if (v.size != 4 || v.offset == offsetof(PrivateConfig, serialNumber)) {
            typed = std::to_string(pick(1000000));
        } else {
            char text[64];
            std::snprintf(text, sizeof text, pick(2) ? "%.*f" : "%.*e", static_cast<int>(pick(7)),
                          uniform(-5, 2000));
            typed = text;
        }
        t.replace(v.begin, v.end - v.begin, typed);
        calibration_.editText(t);
    }

    void editMotor() {
        const std::size_t record = pick(kEditedRecords);
        CConfigMotor& page = motors_.page(record);
        const std::string key = "motor " + std::to_string(record) + " ";
        switch (pick(5)) {
            case 0: {
                const Spec& s = kMotor[pick(std::size(kMotor))];
                if (!s.editable || !page.enabled(s.id)) return;
                touched_.insert(key + std::to_string(s.offset));
                const double first = stored(initialMotor_[record], s) * s.scale;
                page.editText(s.id, newText(page.text(s.id), formatNumber(first, s.format), s));
                return;
            }
            case 1:
                touched_.insert(key + "boxes");
                page.setChecked(pick(2) ? kIgnoreHalls : kEncoderReversed, pick(2) != 0);
                return;
            case 2:
                touched_.insert(key + "type");
                touched_.insert(key + std::to_string(offsetof(MotorConfig, minId)));
                touched_.insert(key + std::to_string(offsetof(MotorConfig, maxId)));
                page.selectMotorType(static_cast<int>(pick(3)));
                return;
            case 3:
                touched_.insert(key + "description");
                page.editText(kDescription, "M" + std::to_string(pick(1000)));
                return;
            default:
                touched_.insert(key + "thermistor");
                page.editText(kBeta, std::to_string(3000 + pick(1500)));
                return;
        }
    }

    void writeBack() {
        ASSERT_FALSE(general_.storePage().keepFocus);
        ASSERT_FALSE(calibration_.storePage().keepFocus);
        ASSERT_FALSE(motors_.storePage().keepFocus);
        checkGeneral();
        checkCalibration();
        // The records edited, and one that never is.
        for (std::size_t i = 0; i < kEditedRecords; ++i) checkMotor(i);
        checkMotor(kMotorCount - 1);
    }

    void save() {
        writeBack();
        CConfigDataBank back;
        back.resetToDefaults();
        NoQuestions quiet;
        ASSERT_TRUE(loadConfigData(back, buildConfigFile(store_), quiet, true, true));
        for (StructureKind kind :
             {StructureKind::Public, StructureKind::Private, StructureKind::Motor})
            for (std::size_t i = 0; i < recordCount(kind); ++i) {
                const auto a = store_.recordBytes(kind, i), b = back.recordBytes(kind, i);
                ASSERT_TRUE(std::equal(a.begin(), a.end(), b.begin(), b.end()));
            }
    }

    void checkGeneral() {
        for (const Spec& s : kGeneral) {
            EXPECT_TRUE(shows(text(s.id), store_.publicConfig, s))
                << text(s.id) << " for " << stored(store_.publicConfig, s) << " in " << s.id;
            if (!touched_.count("public " + std::to_string(s.offset))) {
                EXPECT_EQ(bytesAt(store_.publicConfig, s.offset, s.u16 ? 2 : 4),
                          bytesAt(initial_, s.offset, s.u16 ? 2 : 4));
            }
        }
        for (const TelemetryBox& b : telemetryBoxes())
            EXPECT_EQ(general_.checked(b.id),
                      ((store_.publicConfig.telemetryMask >> b.bit) & 1) != 0);
    }

    void checkCalibration() {
        const std::string& t = calibration_.text();
        const std::string report = buildCalibrationReport(store_.privateConfig, false);
        PrivateConfig typed = store_.privateConfig, printed = store_.privateConfig;
        const CalibrationScan shown = scanCalibrationReport(t, typed);
        const CalibrationScan holds = scanCalibrationReport(report, printed);
        ASSERT_EQ(shown.values.size(), holds.values.size());
        for (std::size_t i = 0; i < shown.values.size(); ++i) {
            const CalibrationValue& v = shown.values[i];
            const CalibrationValue& h = holds.values[i];
            const std::string token = t.substr(v.begin, v.end - v.begin);
            const auto exact = bytesAt(store_.privateConfig, v.offset, v.size);
            // A number not shown as the store's value prints holds what the scan reads from it.
            if (token != report.substr(h.begin, h.end - h.begin)) {
                EXPECT_EQ(exact, bytesAt(typed, v.offset, v.size)) << token;
            }
            if (!touched_.count("private " + std::to_string(v.offset))) {
                EXPECT_EQ(exact, bytesAt(initialPrivate_, v.offset, v.size)) << token;
            }
        }
    }

    void checkMotor(std::size_t record) {
        const MotorConfig& m = store_.motor[record];
        CConfigMotor& page = motors_.page(record);
        const std::string key = "motor " + std::to_string(record) + " ";
        for (const Spec& s : kMotor) {
            EXPECT_TRUE(shows(page.text(s.id), m, s))
                << page.text(s.id) << " for " << stored(m, s) << " in " << s.id;
            const bool bldcRange = page.motorType() == 0 && (s.id == kMinId || s.id == kMaxId);
            if (bldcRange) {
                EXPECT_EQ(stored(m, s), 0.0);
            }
            if (!bldcRange && !touched_.count(key + std::to_string(s.offset))) {
                EXPECT_EQ(bytesAt(m, s.offset, s.u16 ? 2 : 4),
                          bytesAt(initialMotor_[record], s.offset, s.u16 ? 2 : 4));
            }
        }
        EXPECT_EQ(page.motorType(), m.motorType);
        EXPECT_EQ(page.checked(kIgnoreHalls), m.ignoreHallsSensorless != 0);
        EXPECT_EQ(page.checked(kEncoderReversed), m.encoderReversed != 0);
        EXPECT_EQ(page.text(kDescription), descriptionText(m));
        // The thermistor pair: shown as stored, or as the texts read.
        const double ro = m.thermistorRinf / std::exp(-m.thermistorBeta / kThermistorReferenceK);
        if (page.text(kRo) != formatNumber(ro, NumberFormat::Exp4) ||
            page.text(kBeta) != formatNumber(m.thermistorBeta, NumberFormat::Exp4)) {
            const auto shownRo = parseNumber(page.text(kRo));
            const auto shownBeta = parseNumber(page.text(kBeta));
            ASSERT_TRUE(shownRo && shownBeta);
            EXPECT_EQ(+m.thermistorBeta, static_cast<float>(*shownBeta));
            EXPECT_EQ(+m.thermistorRinf,
                      static_cast<float>(*shownRo * std::exp(-*shownBeta / kThermistorReferenceK)));
        }
        if (!touched_.count(key + "thermistor")) {
            EXPECT_EQ(+m.thermistorRinf, +initialMotor_[record].thermistorRinf);
        }
    }

    std::mt19937 rng_;
    NoQuestions ui_;
    CConfigDataBank store_;
    CConfig general_;
    CConfigCal calibration_;
    CConfigMotorTabs motors_;
    PublicConfig initial_{};
    PrivateConfig initialPrivate_{};
    std::array<MotorConfig, kMotorCount> initialMotor_{};
    std::map<int, std::string> firstGeneral_;
    std::string firstReport_;
    std::set<std::string> touched_;
};

TEST(PagesModel, WhatAWriteBackStoresIsWhatThePagesShow) {
    constexpr std::uint32_t kSequences = 1000;
    constexpr int kSteps = 12;
    for (std::uint32_t seed = 1; seed <= kSequences; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Sequence sequence(seed);
        for (int i = 0; i < kSteps && !::testing::Test::HasFailure(); ++i) sequence.step();
        if (::testing::Test::HasFailure()) break;
    }
}

}  // namespace
}  // namespace qv
