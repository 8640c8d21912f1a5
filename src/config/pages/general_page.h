#pragma once
// CConfig, the "General" page of the Configuration window: the public structure's limits, CAN
// settings and telemetry selection, and the controller's identification. Fill copies the store
// into the page's controls without marking anything modified; every edit of the user marks the
// public structure modified; store checks every field and writes back the accepted ones. The
// widget shows text(), checked(), label() and forwards the user's input by control id.
//
// While a transfer runs the page neither fills from the store nor changes it: every call that
// would returns false and leaves the page as it was.
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/user_interaction.h"
#include "config/config_data_bank.h"
#include "config/pages/hex_edit.h"
#include "config/pages/page_fields.h"

namespace qv {

namespace general_id {
inline constexpr int kSineCurrentLimit = 1059;
inline constexpr int kSixStepCurrentLimit = 1060;
inline constexpr int kSpeedLimit = 1061;
inline constexpr int kIdcLimit = 1062;
inline constexpr int kPhaseCLimit = 1063;
inline constexpr int kMaxBusVoltage = 1064;
inline constexpr int kMinBusVoltage = 1066;
inline constexpr int kHardCurrentLimit = 1069;  // read-only, always 0
inline constexpr int kVehicleMass = 1074;
inline constexpr int kSensorlessAccelRate = 1075;  // hidden, with its label 1189
inline constexpr int kSerialNumber = 1073;         // read-only
inline constexpr int kFirmwareVersion = 1070;      // read-only
inline constexpr int kDspHardwareVersion = 1076;   // read-only
inline constexpr int kCanId = 1071;
inline constexpr int kDriverControlsCanId = 1072;
inline constexpr int kBmsMasterCanId = 1077;
inline constexpr int kListenForBms = 1167;
inline constexpr int kCanBaudRate = 1150;
inline constexpr int kFanSpeeds = 1160;  // telemetry box that is not shown
inline constexpr int kSlipSpeed = 1166;
}  // namespace general_id

// The CAN identifier rule: a multiple of 0x20, at most 0x7C0 (which itself passes).
inline constexpr std::uint32_t kMaxCanBase = 0x7C0;
inline constexpr std::uint32_t kCanBaseStep = 0x20;
bool canIdentifierAllowed(std::uint64_t value);
// The value "Yes" puts in place of one that breaks the rule.
std::uint32_t fixCanIdentifier(std::uint64_t value);
MessageBoxRequest canIdentifierQuestion();
MessageBoxRequest canBaudMessage();

struct TelemetryBox {
    int id;
    int bit;
};
// The telemetry check boxes and the bit of `telemetryMask` each one stands for.
const std::vector<TelemetryBox>& telemetryBoxes();

class CConfig {
  public:
    // `caption` is the caption of the framework's validation boxes.
    CConfig(CConfigDataBank& store, UserInteraction& ui, std::string caption = kDefaultPageCaption);

    // Controls from the store; labels by the selected device type.
    bool fillPage(std::int32_t deviceType);
    // Checks every field, then writes the accepted ones into the store: every field whose
    // control does not show what the store holds. `keepFocus` is set, with the first refused
    // field in `focusId`, when a field kept its stored value.
    FieldCheck storePage();
    // A write back would change the store (the page holds edits not yet stored).
    bool differsFromStore() const;

    // The user's input. Each marks the public structure modified.
    bool editText(int id, std::string text);
    bool setChecked(int id, bool checked);
    bool selectBaud(int index);  // -1: no selection
    // A field lost the focus: its check, with the question or message it asks.
    FieldCheck leaveField(int id);

    std::string text(int id) const;
    bool checked(int id) const;
    int baudSelection() const { return baud_; }
    std::string label(int id) const;
    // The tool tip of field `id`: its range and unit ("" for a field without a check).
    std::string hint(int id) const;
    // Every text label `id` takes over the device types (a window sizes its column by them).
    static std::vector<std::string> labelVariants(int id);
    const CHexEdit& hexEdit(int id) const { return identifiers_.at(id).edit; }
    static bool visible(int id);
    static const std::vector<std::string>& baudRates();

  private:
    struct Identifier {
        CHexEdit edit;
    };

    bool blocked() const;
    void markModified();
    std::uint32_t storedIdentifier(int id) const;
    // What the store holds, as the page shows it.
    std::string storedIdentifierText(int id) const;
    bool storedCheck(int id) const;
    int storedBaud() const;
    bool identifierDiffers(int id) const;
    bool boxesDiffer() const;
    void writeIdentifier(int id, std::uint32_t value);
    // The identifier rule for one control; false when the value stays refused.
    bool checkIdentifier(int id);

    CConfigDataBank& store_;
    UserInteraction& ui_;
    std::string caption_;
    NumberFields numbers_;
    std::map<int, Identifier> identifiers_;
    std::map<int, bool> checks_;
    int baud_ = -1;
    std::map<int, std::string> readOnly_;
    std::int32_t deviceType_ = 0;
};

}  // namespace qv
