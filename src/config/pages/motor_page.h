#pragma once
// The "Motor" tab: CConfigMotorTabs with the two public fields that concern every motor (active
// motor, tyre diameter) above ten CConfigMotor pages, one per motor record. The values the
// commissioning tools measure are shown read-only; the hall table as a list. Same conventions
// as the general page: fill never marks anything modified, every edit marks the motor
// structure (or, for the two public fields, the public one) modified, store checks and writes
// back, and nothing moves while a transfer runs. The description is shown as UTF-8 and stored
// as Windows-1252, at most 19 characters of that set.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/user_interaction.h"
#include "config/config_data_bank.h"
#include "config/pages/page_fields.h"

namespace qv {

namespace motor_id {
inline constexpr int kDescription = 1084;
inline constexpr int kPolePairs = 1086;
inline constexpr int kCutoutTemp = 1093;
inline constexpr int kRampTemp = 1094;
inline constexpr int kEngageFreq = 1178;
inline constexpr int kDisengageFreq = 1179;
inline constexpr int kIgnoreHalls = 1180;
inline constexpr int kTempScale = 1087;
inline constexpr int kTempOffset = 1088;
inline constexpr int kRo = 1089;
inline constexpr int kBeta = 1090;
inline constexpr int kLineResistance = 1095;  // read-only, mOhm
inline constexpr int kLineInductance = 1096;  // read-only, uH
inline constexpr int kSpeedConstant = 1097;   // read-only
inline constexpr int kPhaseSequence = 1098;   // disabled check box
inline constexpr int kHallList = 1170;
inline constexpr int kMotorType = 1188;
inline constexpr int kRotorResistance = 1099;  // mOhm
inline constexpr int kRotorInductance = 1100;  // uH
inline constexpr int kMinId = 1101;
inline constexpr int kMaxId = 1102;
inline constexpr int kEncoderCount = 1103;
inline constexpr int kEncoderReversed = 1104;
inline constexpr int kMinIdLabel = 1192;
inline constexpr int kMaxIdLabel = 1191;
inline constexpr int kEngageLabel = 1229;
inline constexpr int kDisengageLabel = 1230;
inline constexpr int kActiveMotor = 1078;  // on CConfigMotorTabs, with spin button 1028
inline constexpr int kTyreDiameter = 1068;
}  // namespace motor_id

inline constexpr double kThermistorReferenceK = 298.15;  // 25 degrees C
inline constexpr std::size_t kDescriptionLimit = kDescriptionSize - 1;

// One line of the hall list: "%3.0f° %s=>%s" with the angle in degrees, the predecessor
// state and the state, each as three binary digits.
std::string hallLine(const MotorConfig& motor, int state);

class CConfigMotor {
  public:
    CConfigMotor(CConfigDataBank& store, std::size_t record, UserInteraction& ui,
                 std::string caption = kDefaultPageCaption);

    bool fillPage(std::int32_t deviceType);
    // Writes every field whose control does not show what the record holds.
    FieldCheck storePage();
    // A write back would change the record.
    bool differsFromStore() const;

    bool editText(int id, std::string text);
    bool setChecked(int id, bool checked);
    bool selectMotorType(int type);  // 0 BLDC, 1 Induction, 2 IPM
    FieldCheck leaveField(int id);

    std::size_t record() const { return record_; }
    std::string text(int id) const;
    bool checked(int id) const;
    int motorType() const { return motorType_; }
    std::string label(int id) const;
    // The tool tip of field `id`: its range and unit ("" for a field without a check).
    std::string hint(int id) const;
    // Whether the control takes input now (1099 to 1102 follow the motor type).
    bool enabled(int id) const;
    static bool readOnly(int id);
    static bool visible(int id);  // 1091 and 1092 are hidden
    const std::vector<std::string>& hallLines() const { return hall_; }
    static const std::vector<std::string>& motorTypes();

  private:
    bool blocked() const;
    MotorConfig& motor() { return store_.motor[record_]; }
    const MotorConfig& motor() const { return store_.motor[record_]; }
    std::optional<std::string> checkDescription() const;
    // What the record holds, as the page shows it.
    std::string storedText(int id) const;
    bool storedCheck(int id) const;
    bool thermistorDiffers() const;

    CConfigDataBank& store_;
    std::size_t record_;
    UserInteraction& ui_;
    std::string caption_;
    NumberFields numbers_;
    std::map<int, std::string> texts_;  // description, Ro, ß
    std::map<int, bool> checks_;
    int motorType_ = 0;
    std::int32_t deviceType_ = 0;
    std::vector<std::string> hall_;
};

class CConfigMotorTabs {
  public:
    CConfigMotorTabs(CConfigDataBank& store, UserInteraction& ui,
                     std::string caption = kDefaultPageCaption);

    // The two public fields, then the ten pages.
    // The tool tip of field `id` (active motor, tyre diameter).
    std::string hint(int id) const;
    bool fillPage(std::int32_t deviceType);
    FieldCheck storePage();
    bool differsFromStore() const;

    // 1078 and 1068; marks the public structure modified.
    bool editText(int id, std::string text);
    FieldCheck leaveField(int id);
    std::string text(int id) const;

    CConfigMotor& page(std::size_t record) { return *pages_.at(record); }
    static std::string tabLabel(std::size_t record) { return std::to_string(record); }
    static constexpr int kMinimumTabWidth = 30;

  private:
    CConfigDataBank& store_;
    UserInteraction& ui_;
    std::string caption_;
    NumberFields numbers_;
    std::array<std::unique_ptr<CConfigMotor>, kMotorCount> pages_;
};

}  // namespace qv
