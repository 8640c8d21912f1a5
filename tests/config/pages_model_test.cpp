// Model-based test of the three kinds of page (General, Calibration, Motor): seeded random
// sequences of fills, edits (new values, reverts to what the page first showed, the number shown
// retyped as another text, check boxes, motor types), write backs and saves. After every write
// back the store decodes to exactly what the pages show, values nobody edited keep their exact
// bits, a BLDC record holds the 0 its page shows, and a save holds what the store holds.
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
using NF = NumberFormat;

struct NoQuestions : UserInteraction {
    MessageAnswer messageBox(const MessageBoxRequest& r) override {
        ADD_FAILURE() << r.text;
        return r.defaultAnswer;
    }
    std::optional<std::string> fileDialog(const FileDialogRequest&) override { return {}; }
};

// A number field as the pages' tables give it.
struct Spec {
    int id;
    std::size_t offset;
    NF format;
    double min, max;
    double scale = 1;  // shown = stored x scale
    bool u16 = false;
};
#define QV_P(f) offsetof(PublicConfig, f)
#define QV_M(f) offsetof(MotorConfig, f)
const Spec kGeneral[] = {
    {kSineCurrentLimit, QV_P(sineCurrentLimit), NF::Rounded2, 0, 700},
    {kSpeedLimit, QV_P(speedLimit), NF::Rounded2, 0, 12000},
    {kIdcLimit, QV_P(busCurrentLimit), NF::Rounded2, 0, 500},
    {kMinBusVoltage, QV_P(minBusVoltage), NF::Rounded2, 0, 1000},
    {kVehicleMass, QV_P(vehicleMass), NF::Rounded2, 0, 2000},
    {kActiveMotor, QV_P(activeMotor), NF::Integer, 0, 9, 1, true},
    {kTyreDiameter, QV_P(tyreDiameter), NF::Rounded4, 0, 1000},
};
const Spec kMotor[] = {
    {kPolePairs, QV_M(polePairs), NF::Integer, 0, 65535, 1, true},
    {kCutoutTemp, QV_M(cutoutTemp), NF::Float, -50, 200},
    {kEngageFreq, QV_M(engageFreq), NF::Fixed2, 0, 50},
    {kTempScale, QV_M(tempScale), NF::Fixed4, 0, 5},
    {kRotorResistance, QV_M(rotorResistance), NF::Float, 0, 500, 1e3},
    {kMinId, QV_M(minId), NF::Float, -300, 300},
    {kMaxId, QV_M(maxId), NF::Float, 0, 300},
    {kEncoderCount, QV_M(encoderCount), NF::Integer, 0, 10000, 1, true},
};
constexpr std::size_t kRecords = 3;  // motor records edited (all ten are filled and stored)

template <typename R>
std::vector<std::uint8_t> bytesAt(const R& r, std::size_t at, std::size_t n) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&r) + at;
    return {p, p + n};
}
template <typename R>
double stored(const R& r, const Spec& s) {
    const auto b = bytesAt(r, s.offset, s.u16 ? 2 : 4);
    std::uint16_t u;
    float f;
    std::memcpy(s.u16 ? static_cast<void*>(&u) : &f, b.data(), b.size());
    return s.u16 ? u : f;
}
template <typename R>
void put(R& r, const Spec& s, double v) {
    const auto u = static_cast<std::uint16_t>(v);
    const auto f = static_cast<float>(v);
    std::memcpy(reinterpret_cast<unsigned char*>(&r) + s.offset,
                s.u16 ? static_cast<const void*>(&u) : &f, s.u16 ? 2 : 4);
}
// The page shows the stored value: as it displays, or as a text that reads as exactly it.
template <typename R>
bool shows(const std::string& text, const R& r, const Spec& s) {
    const double v = stored(r, s);
    const auto typed = parseNumber(text);
    return text == formatNumber(v * s.scale, s.format) ||
           (typed && static_cast<float>(*typed / s.scale) == static_cast<float>(v));
}

class Sequence {
  public:
    explicit Sequence(std::uint32_t seed) : rng_(seed) {
        store_.resetToDefaults();
        for (const Spec& s : kGeneral) put(store_.publicConfig, s, random(s) / s.scale);
        PrivateConfig scan = store_.privateConfig;
        for (const auto& v : scanCalibrationReport(report(), scan).values)
            if (v.size == 4 && v.offset != offsetof(PrivateConfig, serialNumber)) {
                const float f = static_cast<float>(uniform(-2, 1200) * uniform(0, 1));
                std::memcpy(reinterpret_cast<unsigned char*>(&store_.privateConfig) + v.offset, &f,
                            4);
            }
        for (MotorConfig& m : store_.motor) {
            for (const Spec& s : kMotor) put(m, s, random(s) / s.scale);
            m.motorType = static_cast<std::uint16_t>(pick(3));
            m.encoderReversed = static_cast<std::uint16_t>(pick(2));
        }
        initialPublic_ = store_.publicConfig;
        initialPrivate_ = store_.privateConfig;
        initialMotor_ = store_.motor;
        fill();
        firstReport_ = calibration_.text();
    }

    void step() {
        switch (pick(10)) {
            case 0:
                return fill();
            case 1:
            case 2:
                return editGeneral();
            case 3:
            case 4:
                return editCalibration();
            case 5:
            case 6:
                return editMotor();
            case 7:
            case 8:
                return writeBack();
            default:
                return save();
        }
    }

  private:
    std::size_t pick(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
    }
    double uniform(double a, double b) { return std::uniform_real_distribution<>(a, b)(rng_); }
    double random(const Spec& s) {
        return s.u16 ? std::floor(uniform(s.min, std::min(s.max, 2e4))) : uniform(s.min, s.max);
    }
    std::string report() const { return buildCalibrationReport(store_.privateConfig, false); }
    // The same number as another text: a zero in front of its digits.
    static std::string zeroMore(std::string t) {
        return t.insert(!t.empty() && (t[0] == '-' || t[0] == '+') ? 1 : 0, "0");
    }
    // Another value, what the page first showed, or the number shown as another text.
    std::string newText(const std::string& shown, const std::string& first, const Spec& s) {
        if (pick(3) == 0) return first;
        if (pick(2) == 0) return zeroMore(shown);
        char text[64];
        std::snprintf(text, sizeof text, "%.*f", s.u16 ? 0 : static_cast<int>(pick(6)), random(s));
        return text;
    }

    void fill() {
        const std::int32_t type = std::array{0x4002, 0x4000, 0x4001}[pick(3)];
        general_.fillPage(type);
        calibration_.fillPage(type);
        motors_.fillPage(type);
    }
    std::string text(int id) const {
        return id == kActiveMotor || id == kTyreDiameter ? motors_.text(id) : general_.text(id);
    }

    void editGeneral() {
        const Spec& s = kGeneral[pick(std::size(kGeneral))];
        touched_.insert("public " + std::to_string(s.offset));
        const auto t = newText(text(s.id), formatNumber(stored(initialPublic_, s), s.format), s);
        if (s.id == kActiveMotor || s.id == kTyreDiameter)
            motors_.editText(s.id, t);
        else
            general_.editText(s.id, t);
    }

    void editCalibration() {
        std::string t = calibration_.text();
        PrivateConfig scratch{};
        const auto now = scanCalibrationReport(t, scratch).values;
        const auto first = scanCalibrationReport(firstReport_, scratch).values;
        const std::size_t i = pick(now.size());
        const CalibrationValue& v = now[i];
        touched_.insert("private " + std::to_string(v.offset));
        std::string typed = firstReport_.substr(first[i].begin, first[i].end - first[i].begin);
        if (pick(3) != 0) typed = zeroMore(t.substr(v.begin, v.end - v.begin));
        if (pick(3) == 0 && v.size == 4 && v.offset != offsetof(PrivateConfig, serialNumber)) {
            char text[64];
            std::snprintf(text, sizeof text, pick(2) ? "%.*f" : "%.*e", static_cast<int>(pick(7)),
                          uniform(-5, 2000));
            typed = text;
        }
        calibration_.editText(t.replace(v.begin, v.end - v.begin, typed));
    }

    void editMotor() {
        const std::size_t record = pick(kRecords);
        CConfigMotor& page = motors_.page(record);
        const std::string key = "motor " + std::to_string(record) + " ";
        const Spec& s = kMotor[pick(std::size(kMotor))];
        switch (pick(3)) {
            case 0:
                if (!page.enabled(s.id)) return;
                touched_.insert(key + std::to_string(s.offset));
                page.editText(
                    s.id,
                    newText(page.text(s.id),
                            formatNumber(stored(initialMotor_[record], s) * s.scale, s.format), s));
                return;
            case 1:
                touched_.insert(key + "reversed");
                page.setChecked(kEncoderReversed, pick(2) != 0);
                return;
            default:
                touched_.insert(key + std::to_string(QV_M(minId)));
                touched_.insert(key + std::to_string(QV_M(maxId)));
                page.selectMotorType(static_cast<int>(pick(3)));
                return;
        }
    }

    void writeBack() {
        ASSERT_FALSE(general_.storePage().keepFocus);
        ASSERT_FALSE(calibration_.storePage().keepFocus);
        ASSERT_FALSE(motors_.storePage().keepFocus);
        for (const Spec& s : kGeneral) {
            EXPECT_TRUE(shows(text(s.id), store_.publicConfig, s)) << text(s.id);
            if (!touched_.count("public " + std::to_string(s.offset))) {
                EXPECT_EQ(stored(store_.publicConfig, s), stored(initialPublic_, s));
            }
        }
        checkCalibration();
        for (std::size_t i : {std::size_t{0}, std::size_t{1}, kRecords - 1, kMotorCount - 1})
            checkMotor(i);
    }

    void checkCalibration() {
        const std::string& t = calibration_.text();
        const std::string held = report();
        PrivateConfig typed = store_.privateConfig, scratch = store_.privateConfig;
        const auto shown = scanCalibrationReport(t, typed).values;
        const auto holds = scanCalibrationReport(held, scratch).values;
        ASSERT_EQ(shown.size(), holds.size());
        for (std::size_t i = 0; i < shown.size(); ++i) {
            const CalibrationValue &v = shown[i], &h = holds[i];
            const auto token = t.substr(v.begin, v.end - v.begin);
            const auto exact = bytesAt(store_.privateConfig, v.offset, v.size);
            // Not shown as the stored value prints: the store holds the number as read.
            if (token != held.substr(h.begin, h.end - h.begin)) {
                EXPECT_EQ(exact, bytesAt(typed, v.offset, v.size)) << token;
            }
            if (!touched_.count("private " + std::to_string(v.offset))) {
                EXPECT_EQ(exact, bytesAt(initialPrivate_, v.offset, v.size)) << token;
            }
        }
    }

    void checkMotor(std::size_t record) {
        const MotorConfig& m = store_.motor[record];
        const CConfigMotor& page = motors_.page(record);
        const std::string key = "motor " + std::to_string(record) + " ";
        for (const Spec& s : kMotor) {
            EXPECT_TRUE(shows(page.text(s.id), m, s)) << page.text(s.id) << " in " << s.id;
            const bool bldcRange = page.motorType() == 0 && (s.id == kMinId || s.id == kMaxId);
            if (bldcRange) {
                EXPECT_EQ(stored(m, s), 0.0);
            }
            if (!bldcRange && !touched_.count(key + std::to_string(s.offset))) {
                EXPECT_EQ(stored(m, s), stored(initialMotor_[record], s));
            }
        }
        EXPECT_EQ(page.motorType(), m.motorType);
        EXPECT_EQ(page.checked(kEncoderReversed), m.encoderReversed != 0);
    }

    void save() {
        writeBack();
        CConfigDataBank back;
        NoQuestions quiet;
        ASSERT_TRUE(loadConfigData(back, buildConfigFile(store_), quiet, true, true));
        for (StructureKind kind :
             {StructureKind::Public, StructureKind::Private, StructureKind::Motor})
            for (std::size_t i = 0; i < recordCount(kind); ++i) {
                const auto a = store_.recordBytes(kind, i), b = back.recordBytes(kind, i);
                ASSERT_TRUE(std::equal(a.begin(), a.end(), b.begin(), b.end()));
            }
    }

    std::mt19937 rng_;
    NoQuestions ui_;
    CConfigDataBank store_;
    CConfig general_{store_, ui_};
    CConfigCal calibration_{store_, ui_};
    CConfigMotorTabs motors_{store_, ui_};
    PublicConfig initialPublic_{};
    PrivateConfig initialPrivate_{};
    std::array<MotorConfig, kMotorCount> initialMotor_{};
    std::string firstReport_;
    std::set<std::string> touched_;
};

TEST(PagesModel, WhatAWriteBackStoresIsWhatThePagesShow) {
    for (std::uint32_t seed = 1; seed <= 1000 && !::testing::Test::HasFailure(); ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Sequence sequence(seed);
        for (int i = 0; i < 12 && !::testing::Test::HasFailure(); ++i) sequence.step();
    }
}

}  // namespace
}  // namespace qv
