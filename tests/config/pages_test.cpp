// The Configuration window's pages without widgets: fill and store, the checks and their texts,
// the CAN identifier rule, labels by device and motor type, the telemetry boxes, the thermistor
// pair, the hall list and the motor selector.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <regex>

#include "config/config_transfer.h"
#include "config/pages/calibration_page.h"
#include "config/pages/general_page.h"
#include "config/pages/motor_page.h"
#include "config/pages/motor_selector.h"

namespace qv {
namespace {

using namespace general_id;
using namespace motor_id;

class PageUi : public UserInteraction {
  public:
    std::deque<MessageAnswer> answers;
    std::vector<MessageBoxRequest> shown;
    MessageAnswer messageBox(const MessageBoxRequest& r) override {
        shown.push_back(r);
        if (r.buttons == MessageButtons::Ok) return MessageAnswer::Ok;
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question " << r.text;
            return r.defaultAnswer;
        }
        const MessageAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<std::string> fileDialog(const FileDialogRequest&) override {
        return std::nullopt;
    }
};

template <typename T>
std::vector<std::uint8_t> bytesOf(const T& v) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
    return {p, p + sizeof(T)};
}

// A store whose every field holds a value of its own, several of them not what the pages print.
void fillDistinct(CConfigDataBank& s) {
    s.resetToDefaults();
    PublicConfig& p = s.publicConfig;
    p.activeMotor = 3;
    p.sineCurrentLimit = 123.456f;
    p.speedLimit = 4321.5f;
    p.busCurrentLimit = 99.99f;
    p.phaseCTempLimit = 88.125f;
    p.maxBusVoltage = 151.0f;
    p.minBusVoltage = 11.5f;
    p.tyreDiameter = 0.56789f;
    p.canBaudIndex = 2;
    p.canBaseAddress = 0x440;
    p.driverControlsBaseAddress = 0x520;
    p.vehicleMass = 777.7f;
    p.sensorlessAccelRate = 1.25f;
    p.telemetryMask = 0xFFFF5F55u;
    p.sixStepCurrentLimit = 101.0f;
    p.bmsMasterCanId = 0x260;
    p.listenForBms = 1;
    PrivateConfig& c = s.privateConfig;
    c.serialNumber = 654321;
    c.baseVoltage = 1000.04f;
    c.busCapacitance = 0.00081234f;
    c.rail15V = {2.1234567f, 0.00012345678f};
    c.dspTempCoeff[2] = 1.5e-7f;
    c.controllerKiFactor = 0.123456f;
    for (std::size_t i = 0; i < kMotorCount; ++i) {
        MotorConfig& m = s.motor[i];
        m.polePairs = static_cast<std::uint16_t>(4 + i);
        m.lineResistance = 0.0692f + 0.001f * static_cast<float>(i);
        m.lineInductance = 1.234567e-7f;
        m.speedConstant = 0.123456f;
        m.cutoutTemp = 91.23456f;
        m.rampTemp = 70.5f;
        m.tempScale = 1.00001f;
        m.tempOffset = -0.25f;
        m.thermistorRinf = 0.0761234f;
        m.thermistorBeta = 3987.65f;
        m.engageFreq = 2.555f;
        m.motorType = static_cast<std::uint16_t>(i % 3);
        m.rotorResistance = 0.0123456f;
        m.rotorInductance = 3.3e-4f;
        // A BLDC record shows no Id range: its page shows and stores 0.
        m.minId = m.motorType == 0 ? 0.0f : -12.5f;
        m.maxId = m.motorType == 0 ? 0.0f : 33.3f;
        m.encoderCount = 4096;
        m.encoderReversed = 1;
        setDescription(m, "Motor " + std::to_string(i));
    }
    s.readOnly = {152, 3, 4711};
}

struct Pages : ::testing::Test {
    Pages() { fillDistinct(store); }
    CConfigDataBank store;
    PageUi ui;
};

TEST_F(Pages, FillThenStoreLeavesTheStoreAndTheFlagsAsTheyWere) {
    store.markModified(StructureKind::Private);  // one set, two clear
    const auto before = std::make_tuple(bytesOf(store.publicConfig), bytesOf(store.privateConfig),
                                        bytesOf(store.motor));
    CConfig general(store, ui);
    CConfigCal calibration(store, ui);
    CConfigMotorTabs motors(store, ui);
    ASSERT_TRUE(general.fillPage(0x4002));
    ASSERT_TRUE(calibration.fillPage(0x4002));
    ASSERT_TRUE(motors.fillPage(0x4002));
    EXPECT_FALSE(general.storePage().keepFocus);
    EXPECT_FALSE(calibration.storePage().keepFocus);
    EXPECT_FALSE(motors.storePage().keepFocus);
    EXPECT_EQ(std::make_tuple(bytesOf(store.publicConfig), bytesOf(store.privateConfig),
                              bytesOf(store.motor)),
              before);
    EXPECT_FALSE(store.isModified(StructureKind::Public));
    EXPECT_TRUE(store.isModified(StructureKind::Private));
    EXPECT_FALSE(store.isModified(StructureKind::Motor));
    EXPECT_TRUE(ui.shown.empty());
    // What the pages show: numbers rounded to two decimals, identifiers in hexadecimal.
    EXPECT_EQ(general.text(kSineCurrentLimit), "123.46");
    EXPECT_EQ(general.text(kCanId), "0x440");
    EXPECT_EQ(general.text(kFirmwareVersion), "v1.52 (4711)");
    EXPECT_EQ(general.text(kSerialNumber), "654321");
    EXPECT_EQ(general.text(kHardCurrentLimit), "0");
    EXPECT_EQ(general.baudSelection(), 2);
    EXPECT_EQ(motors.text(kActiveMotor), "3");
    EXPECT_EQ(motors.text(kTyreDiameter), "0.5679");
}

TEST_F(Pages, AnEditMarksItsStructureAndTheStoreTakesIt) {
    CConfig general(store, ui);
    general.fillPage(0);
    ASSERT_TRUE(general.editText(kSpeedLimit, "6000.5"));
    EXPECT_TRUE(store.isModified(StructureKind::Public));
    EXPECT_FALSE(general.storePage().keepFocus);
    EXPECT_FLOAT_EQ(+store.publicConfig.speedLimit, 6000.5f);
    EXPECT_FLOAT_EQ(+store.publicConfig.sineCurrentLimit, 123.456f);  // untouched, not rounded

    CConfigMotorTabs motors(store, ui);
    motors.fillPage(0);
    ASSERT_TRUE(motors.page(2).editText(kCutoutTemp, "95"));
    EXPECT_TRUE(store.isModified(StructureKind::Motor));
    motors.storePage();
    EXPECT_FLOAT_EQ(+store.motor[2].cutoutTemp, 95.0f);
    EXPECT_FLOAT_EQ(+store.motor[1].cutoutTemp, 91.23456f);
}

TEST_F(Pages, RangeChecksUseTheFrameworkTextsWithTheirNumbers) {
    CConfig general(store, ui);
    general.fillPage(0);
    general.editText(kSineCurrentLimit, "701");
    EXPECT_TRUE(general.leaveField(kSineCurrentLimit).keepFocus);
    general.editText(kSineCurrentLimit, "12a");
    EXPECT_TRUE(general.leaveField(kSineCurrentLimit).keepFocus);
    general.editText(kSineCurrentLimit, " 700 ");
    EXPECT_FALSE(general.leaveField(kSineCurrentLimit).keepFocus);
    ASSERT_EQ(ui.shown.size(), 2u);
    EXPECT_EQ(ui.shown[0].text, "Please enter a number between 0 and 700.");
    EXPECT_EQ(ui.shown[0].icon, MessageIcon::Warning);
    EXPECT_EQ(ui.shown[1].text, "Please enter a number.");

    // A refused field keeps its stored value; the others are written.
    general.editText(kVehicleMass, "2000.5");
    general.editText(kMaxBusVoltage, "200");
    const FieldCheck stored = general.storePage();
    EXPECT_TRUE(stored.keepFocus);
    EXPECT_EQ(stored.focusId, kVehicleMass);
    EXPECT_EQ(ui.shown.back().text, "Please enter a number between 0 and 2000.");
    EXPECT_FLOAT_EQ(+store.publicConfig.vehicleMass, 777.7f);
    EXPECT_FLOAT_EQ(+store.publicConfig.maxBusVoltage, 200.0f);
    EXPECT_FLOAT_EQ(+store.publicConfig.sineCurrentLimit, 700.0f);

    CConfigMotorTabs motors(store, ui);
    motors.fillPage(0);
    motors.editText(kActiveMotor, "10");
    EXPECT_TRUE(motors.leaveField(kActiveMotor).keepFocus);
    EXPECT_EQ(ui.shown.back().text, "Please enter an integer between 0 and 9.");
    motors.page(1).editText(kMinId, "-300.5");
    EXPECT_TRUE(motors.page(1).leaveField(kMinId).keepFocus);
    EXPECT_EQ(ui.shown.back().text, "Please enter a number between -300 and 300.");
    motors.page(1).editText(kPolePairs, "70000");
    EXPECT_TRUE(motors.page(1).leaveField(kPolePairs).keepFocus);
    EXPECT_EQ(ui.shown.back().text, "Please enter an integer between 0 and 65535.");
}

TEST_F(Pages, CanIdentifierRuleFixesCancelsAndChecksTheWholeValue) {
    CConfig general(store, ui);
    general.fillPage(0);
    auto leaveWith = [&](const std::string& text, std::optional<MessageAnswer> answer) {
        ui.shown.clear();
        general.editText(kCanId, text);
        if (answer) ui.answers.push_back(*answer);
        return general.leaveField(kCanId);
    };
    leaveWith("0x401", MessageAnswer::Yes);
    EXPECT_EQ(general.text(kCanId), "0x400");
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text,
              "Standard CAN address must be less than 0x7C0\r\nand have 0x20 as a factor. Fix?");
    EXPECT_EQ(ui.shown[0].caption, "CAN Address");
    EXPECT_EQ(ui.shown[0].buttons, MessageButtons::YesNoCancel);
    leaveWith("0x800", MessageAnswer::Yes);
    EXPECT_EQ(general.text(kCanId), "0x7C0");
    leaveWith("1060", MessageAnswer::Yes);  // decimal 0x424
    EXPECT_EQ(general.text(kCanId), "0x420");
    leaveWith("0x401", MessageAnswer::Cancel);
    EXPECT_EQ(general.text(kCanId), "0x440");  // the stored address
    EXPECT_TRUE(leaveWith("0x401", MessageAnswer::No).keepFocus);
    EXPECT_EQ(general.text(kCanId), "0x401");
    // 0x10400 is not 0x400: it is asked about, and Yes gives the largest address.
    leaveWith("0x10400", MessageAnswer::Yes);
    EXPECT_EQ(general.text(kCanId), "0x7C0");
    leaveWith("99999999999", MessageAnswer::Yes);
    EXPECT_EQ(general.text(kCanId), "0x7C0");
    for (const char* fine : {"0x7C0", "0", "0x0", "1984"}) {
        EXPECT_FALSE(leaveWith(fine, std::nullopt).keepFocus) << fine;
        EXPECT_TRUE(ui.shown.empty()) << fine;
    }

    // A value that was never checked on leaving its field is checked on store too.
    general.editText(kBmsMasterCanId, "0x10260");
    ui.answers.push_back(MessageAnswer::No);
    const FieldCheck stored = general.storePage();
    EXPECT_TRUE(stored.keepFocus);
    EXPECT_EQ(stored.focusId, kBmsMasterCanId);
    EXPECT_EQ(+store.publicConfig.bmsMasterCanId, 0x260u);
    EXPECT_EQ(+store.publicConfig.canBaseAddress, 1984u);
}

TEST_F(Pages, BaudSelectionIsRequired) {
    CConfig general(store, ui);
    general.fillPage(0);
    EXPECT_EQ(CConfig::baudRates().at(5), "1000 kbps");
    ASSERT_TRUE(general.selectBaud(-1));
    general.leaveField(kCanBaudRate);
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, "Must select one of the provided options");
    EXPECT_EQ(ui.shown[0].caption, "CAN Baud");
    EXPECT_EQ(general.baudSelection(), 2);  // the stored rate again
    general.selectBaud(5);
    general.storePage();
    EXPECT_EQ(+store.publicConfig.canBaudIndex, 5u);
}

TEST_F(Pages, IsolatedChargerRelabelsButStoresTheSameFields) {
    CConfig general(store, ui);
    general.fillPage(0x4000);
    EXPECT_EQ(general.label(1223), "Output Current Limit (A)");
    EXPECT_EQ(general.label(1225), "Output Voltage Limit (V)");
    EXPECT_EQ(general.label(1165), "*Veh kWh");
    EXPECT_EQ(general.label(1152), "*Errors/Limiters");
    EXPECT_EQ(general.label(1166), "Slip Speed");
    general.editText(kSineCurrentLimit, "42");
    general.storePage();
    EXPECT_FLOAT_EQ(+store.publicConfig.sineCurrentLimit, 42.0f);
    general.fillPage(0x4001);
    EXPECT_EQ(general.label(1223), "Grid Draw Limit (Arms)");
    general.fillPage(0x4002);
    EXPECT_EQ(general.label(1223), "Sine Current Limit (Arms)");
    EXPECT_FALSE(CConfig::visible(kSensorlessAccelRate));
    EXPECT_FALSE(CConfig::visible(kFanSpeeds));

    CConfigMotorTabs motors(store, ui);
    motors.fillPage(0x4000);
    EXPECT_EQ(motors.page(0).label(kEngageLabel), "NoLoad_ctl incr gain");
    motors.fillPage(0x4001);
    EXPECT_EQ(motors.page(0).label(kDisengageLabel), "Max Grid Freq (Hz)");
}

TEST_F(Pages, TelemetryBoxesEachStandForOneBit) {
    store.publicConfig.telemetryMask = 0xFFFFFFFFu;
    CConfig general(store, ui);
    general.fillPage(0);
    ASSERT_TRUE(general.checked(kSlipSpeed));
    general.setChecked(kSlipSpeed, false);
    general.storePage();
    EXPECT_EQ(+store.publicConfig.telemetryMask, 0xFF7FFFFFu);
    // Boxes follow their bits; bits that have no box are set on every store.
    store.publicConfig.telemetryMask = 0x00000006u;
    general.fillPage(0);
    EXPECT_TRUE(general.checked(1152));
    EXPECT_TRUE(general.checked(1153));
    EXPECT_FALSE(general.checked(1154));
    general.setChecked(1154, true);
    general.storePage();
    EXPECT_EQ(+store.publicConfig.telemetryMask, 0xFF7F800Fu);
}

TEST(HexEdit, FollowsItsTextAndConvertsBothWays) {
    CHexEdit e;
    e.setText("31");
    EXPECT_FALSE(e.isHex());
    EXPECT_EQ(e.colours(), kDecimalColours);
    e.convert();
    EXPECT_EQ(e.text(), "0x1F");
    EXPECT_TRUE(e.isHex());
    EXPECT_EQ(e.colours(), (HexEditColours{{74, 115, 132}, {219, 247, 220}}));
    e.convert();
    EXPECT_EQ(e.text(), "31");
    e.setText("1F");  // a letter makes it hexadecimal without a prefix
    EXPECT_EQ(e.getValue(), 31u);
    e.setText("12z");
    EXPECT_EQ(e.getValue(), 12u);
    e.setText("zz");
    EXPECT_EQ(e.getValue(), 0u);
    e.setValue(0x7C0);
    EXPECT_EQ(e.text(), "0x7C0");
}

TEST(HexEdit, KeyboardFilterKeepsANumberAndItsPrefix) {
    CHexEdit e;
    e.setText("0");
    EXPECT_EQ(e.filterChar('X', 1, 1), 'x');
    EXPECT_EQ(e.filterChar('a', 1, 1), 'A');
    EXPECT_FALSE(e.filterChar('g', 1, 1));
    EXPECT_FALSE(e.filterChar('-', 1, 1));
    e.setText("0x40");
    EXPECT_FALSE(e.filterChar('5', 1, 1));  // inside the prefix
    EXPECT_FALSE(e.filterChar('5', 0, 0));
    EXPECT_EQ(e.filterChar('5', 2, 2), '5');
    EXPECT_EQ(e.filterChar('5', 0, 4), '5');  // replacing all of it
    EXPECT_FALSE(e.filterChar('x', 3, 3));    // no second x
    EXPECT_FALSE(e.mayRemove(1, 1, true));    // backspace after the 0
    EXPECT_FALSE(e.mayRemove(0, 0, false));   // delete before it
    EXPECT_FALSE(e.mayRemove(0, 1, false));
    EXPECT_TRUE(e.mayRemove(0, 2, false));  // the whole prefix may go
    EXPECT_TRUE(e.mayRemove(2, 2, true));   // backspace after the x
    EXPECT_TRUE(e.canPaste("1f", 4, 4));
    EXPECT_FALSE(e.canPaste("0x1", 4, 4));
    EXPECT_EQ(CHexEdit::normaliseClipboard("0X1fx"), "0x1Fx");
}

TEST(HexEdit, ContextMenuFollowsItsRules) {
    CHexEdit e;
    e.setText("0x40");
    auto menu = e.contextMenu(true, false, 0, 1, std::string("12"));
    ASSERT_EQ(menu.size(), 10u);
    EXPECT_EQ(menu[0].text, "&Undo");
    EXPECT_TRUE(menu[0].enabled);
    EXPECT_FALSE(menu[2].enabled);  // Cut of the prefix's 0 alone
    EXPECT_TRUE(menu[3].enabled);   // Copy
    EXPECT_FALSE(menu[4].enabled);  // "12" over the 0 would break the prefix
    EXPECT_FALSE(menu[5].enabled);
    EXPECT_TRUE(menu[7].enabled);  // Select All
    EXPECT_EQ(menu[9].text, "Con&vert");
    EXPECT_TRUE(menu[9].enabled);
    menu = e.contextMenu(true, true, 2, 4, std::nullopt);
    EXPECT_FALSE(menu[0].enabled);
    EXPECT_FALSE(menu[2].enabled);
    EXPECT_TRUE(menu[3].enabled);
    EXPECT_FALSE(menu[4].enabled);
    e.setText("0x");
    EXPECT_FALSE(e.contextMenu(false, false, 0, 2, std::nullopt)[9].enabled);
    EXPECT_FALSE(e.contextMenu(false, false, 0, 2, std::nullopt)[7].enabled);  // all selected
}

TEST_F(Pages, LineResistanceShowsInMilliohmAndComesBackExact) {
    store.motor[0].lineResistance = 0.0692f;
    store.motor[0].lineInductance = 6.48e-5f;
    CConfigMotorTabs motors(store, ui);
    motors.fillPage(0);
    EXPECT_EQ(motors.page(0).text(kLineResistance), "69.2000");
    EXPECT_EQ(motors.page(0).text(kLineInductance), "64.8000");
    EXPECT_TRUE(CConfigMotor::readOnly(kLineResistance));
    EXPECT_FALSE(motors.page(0).editText(kLineResistance, "1"));
    motors.storePage();
    EXPECT_EQ(+store.motor[0].lineResistance, 0.0692f);
    EXPECT_EQ(+store.motor[0].lineInductance, 6.48e-5f);
}

TEST_F(Pages, BldcShowsNoIdRangeAndChoosingItZeroesIt) {
    store.motor[1].motorType = 1;
    store.motor[1].minId = 3.0f;
    store.motor[1].maxId = 20.0f;
    CConfigMotorTabs motors(store, ui);
    motors.fillPage(0);
    CConfigMotor& page = motors.page(1);
    EXPECT_EQ(page.label(kMinIdLabel), "Min Id (Apk)");
    EXPECT_EQ(page.label(kMaxIdLabel), "Max Id (Apk)");
    EXPECT_TRUE(page.enabled(kRotorResistance));
    ASSERT_TRUE(page.selectMotorType(0));
    EXPECT_EQ(page.label(kMinIdLabel), "-");
    EXPECT_EQ(page.label(kMaxIdLabel), "-");
    EXPECT_FALSE(page.enabled(kRotorResistance));
    EXPECT_FALSE(page.enabled(kMaxId));
    EXPECT_EQ(page.text(kMinId), "0");
    EXPECT_TRUE(store.isModified(StructureKind::Motor));
    motors.storePage();
    EXPECT_EQ(+store.motor[1].motorType, 0);
    EXPECT_EQ(+store.motor[1].minId, 0.0f);
    EXPECT_EQ(+store.motor[1].maxId, 0.0f);
    page.fillPage(0);
    page.selectMotorType(2);
    EXPECT_EQ(page.label(kMinIdLabel), "Id0 (A)");
    EXPECT_EQ(page.label(kMaxIdLabel), "Id m (A/Atot)");
}

TEST_F(Pages, ThermistorPairStoresBetaAndRinfTogetherOrNeither) {
    MotorConfig& m = store.motor[0];
    m.thermistorBeta = 4200.0f;
    m.thermistorRinf = static_cast<float>(100000.0 * std::exp(-4200.0 / 298.15));
    CConfigMotorTabs motors(store, ui);
    motors.fillPage(0);
    CConfigMotor& page = motors.page(0);
    EXPECT_EQ(page.text(kRo), "1.0000e+05");
    EXPECT_EQ(page.text(kBeta), "4.2000e+03");
    page.editText(kBeta, "3950");
    motors.storePage();
    EXPECT_EQ(+m.thermistorBeta, 3950.0f);
    EXPECT_EQ(+m.thermistorRinf, static_cast<float>(100000.0 * std::exp(-3950.0 / 298.15)));

    const float beta = m.thermistorBeta, rinf = m.thermistorRinf;
    page.fillPage(0);
    page.editText(kBeta, "39.5e");
    page.editText(kRo, "2e5");
    motors.storePage();
    EXPECT_EQ(+m.thermistorBeta, beta);
    EXPECT_EQ(+m.thermistorRinf, rinf);
}

TEST_F(Pages, DescriptionTakesAtMost19Characters) {
    CConfigMotorTabs motors(store, ui);
    motors.fillPage(0);
    CConfigMotor& page = motors.page(4);
    page.editText(kDescription, "12345678901234567890");
    EXPECT_TRUE(page.leaveField(kDescription).keepFocus);
    EXPECT_EQ(ui.shown.back().text, "Please enter no more than 19 characters.");
    EXPECT_TRUE(motors.storePage().keepFocus);
    EXPECT_EQ(store.motorDescription(4), "Motor 4");
    page.editText(kDescription, "1234567890123456789");
    EXPECT_FALSE(motors.storePage().keepFocus);
    EXPECT_EQ(store.motorDescription(4), "1234567890123456789");
}

TEST(HallList, ShowsAngleAndTheStateItComesFrom) {
    CConfigDataBank store;
    store.resetToDefaults();
    EXPECT_EQ(hallLine(store.motor[0], 1), " 60\xC2\xB0 101=>001");
    EXPECT_EQ(hallLine(store.motor[0], 0), "360\xC2\xB0 000=>000");
    EXPECT_EQ(hallLine(store.motor[0], 4), "300\xC2\xB0 110=>100");
    PageUi ui;
    CConfigMotor page(store, 0, ui);
    page.fillPage(0);
    EXPECT_EQ(page.hallLines().size(), 8u);
}

TEST(MotorSelector, ListsEveryRecordAndGivesMinusOneForNoChoice) {
    CConfigDataBank store;
    store.resetToDefaults();
    setDescription(store.motor[7], "Hub");
    int result = 99;
    CMotorSelector selector(store, &result);
    ASSERT_EQ(selector.lines().size(), 10u);
    EXPECT_EQ(selector.lines()[0], "0  DOZAZ surface");
    EXPECT_EQ(selector.lines()[7], "7  Hub");
    selector.ok();
    EXPECT_EQ(result, -1);
    selector.select(7);
    selector.ok();
    EXPECT_EQ(result, 7);
    selector.cancel();
    EXPECT_EQ(result, -1);
    selector.select(12);
    selector.ok();
    EXPECT_EQ(result, -1);
}

TEST_F(Pages, CalibrationKeepsUntouchedValuesExactAndReadsEdits) {
    CConfigCal page(store, ui);
    ASSERT_TRUE(page.fillPage(0x4000));
    EXPECT_NE(page.text().find("Output Voltage,"), std::string::npos);
    std::string text = page.text();
    const auto at = text.find("Base Current (A),");
    const auto end = text.find("\r\n", at);
    text.replace(at, end - at, "Base Current (A),  612.5");
    ASSERT_TRUE(page.editText(text));
    EXPECT_TRUE(store.isModified(StructureKind::Private));
    ASSERT_FALSE(page.storePage().keepFocus);
    EXPECT_EQ(+store.privateConfig.baseCurrent, 612.5f);
    EXPECT_EQ(+store.privateConfig.baseVoltage, 1000.04f);        // printed as 1000.0
    EXPECT_EQ(+store.privateConfig.busCapacitance, 0.00081234f);  // printed as 8.123e-04
    EXPECT_EQ(+store.privateConfig.rail15V.offset, 0.00012345678f);
    page.editText("Serial Nr, 123456");
    page.storePage();
    EXPECT_EQ(+store.privateConfig.serialNumber, 123456u);
    EXPECT_EQ(+store.privateConfig.baseCurrent, 612.5f);
}

// A number the scan cannot read whole ("6o0.0" reads as 6) is never stored silently: the user is
// told which lines, and nothing is stored unless confirmed. Well-formed text asks nothing.
TEST_F(Pages, CalibrationAsksBeforeStoringLinesItCannotReadWhole) {
    CConfigCal page(store, ui);
    page.fillPage(0);
    const std::string report = page.text();
    std::string text = report;
    for (const auto& [label, typed] :
         {std::pair{"Base Current (A),", "6o0.0"}, std::pair{"Controller Ki Factor,", "1.5 2"}}) {
        const auto at = text.find(label);
        text.replace(at, text.find("\r\n", at) - at, std::string(label) + "  " + typed);
    }
    page.editText(text);
    ui.answers = {MessageAnswer::No, MessageAnswer::Yes};
    const PrivateConfig before = store.privateConfig;
    EXPECT_TRUE(page.storePage().keepFocus);
    EXPECT_EQ(bytesOf(store.privateConfig), bytesOf(before));
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].caption, "Calibration");
    EXPECT_EQ(ui.shown[0].defaultAnswer, MessageAnswer::No);
    EXPECT_NE(ui.shown[0].text.find("\r\n\r\nLine 3: Base Current (A),  6o0.0\r\nLine 46: "
                                    "Controller Ki Factor,  1.5 2\r\n"),
              std::string::npos)
        << ui.shown[0].text;
    // Confirmed: stored as read, and the same text is not asked about again.
    EXPECT_FALSE(page.storePage().keepFocus);
    EXPECT_EQ(+store.privateConfig.baseCurrent, 6.0f);
    EXPECT_FALSE(page.storePage().keepFocus);
    // A report cut after a line, or with single spaces, reads cleanly.
    page.editText(report.substr(0, report.find("Check observer")));
    EXPECT_FALSE(page.storePage().keepFocus);
    page.editText("Serial Nr, 777\r\nBase Voltage (V), 999.5");
    EXPECT_FALSE(page.storePage().keepFocus);
    EXPECT_EQ(+store.privateConfig.baseVoltage, 999.5f);
    EXPECT_EQ(ui.shown.size(), 2u);
}

// Descriptions are Windows-1252 in the record, and so in files: characters are counted, not
// bytes, and a character that set does not have is refused with a message that names it.
TEST_F(Pages, DescriptionIsStoredAsWindows1252) {
    CConfigMotorTabs motors(store, ui);
    motors.fillPage(0);
    CConfigMotor& page = motors.page(1);
    // 19 characters, "Motor µ" and the euro sign (0x80) among them.
    const std::string typed =
        "Motor \xC2\xB5\xE2\x82\xAC"
        "1234567890A";
    page.editText(kDescription, typed);
    EXPECT_FALSE(motors.storePage().keepFocus);
    EXPECT_EQ(store.motorDescription(1),
              "Motor \xB5\x80"
              "1234567890A");
    page.fillPage(0);
    EXPECT_EQ(page.text(kDescription), typed);
    EXPECT_EQ(CMotorSelector(store, nullptr).lines()[1], "1  " + typed);
    page.editText(kDescription, "Motor \xE2\x9C\x93");  // a check mark
    EXPECT_TRUE(page.leaveField(kDescription).keepFocus);
    EXPECT_EQ(ui.shown.back().text,
              "The character \"\xE2\x9C\x93\" cannot be stored: the controller keeps its texts "
              "in the Windows-1252 character set, which does not have it.");
    EXPECT_TRUE(motors.storePage().keepFocus);
    EXPECT_EQ(store.motorDescription(1),
              "Motor \xB5\x80"
              "1234567890A");
}

TEST_F(Pages, NothingMovesWhileATransferRuns) {
    CConfig general(store, ui);
    CConfigMotorTabs motors(store, ui);
    CConfigCal calibration(store, ui);
    general.fillPage(0);
    motors.fillPage(0);
    const auto before = bytesOf(store.publicConfig);
    {
        TransferScope running(store);
        EXPECT_FALSE(general.fillPage(0));
        EXPECT_FALSE(general.editText(kSpeedLimit, "1"));
        EXPECT_FALSE(general.setChecked(kSlipSpeed, false));
        EXPECT_TRUE(general.storePage().keepFocus);
        EXPECT_FALSE(motors.editText(kActiveMotor, "1"));
        EXPECT_FALSE(motors.page(0).selectMotorType(1));
        EXPECT_FALSE(calibration.fillPage(0));
        EXPECT_FALSE(calibration.editText("Serial Nr, 1"));
    }
    EXPECT_EQ(bytesOf(store.publicConfig), before);
    EXPECT_FALSE(store.isModified(StructureKind::Public));
    EXPECT_FALSE(store.isModified(StructureKind::Motor));
    EXPECT_TRUE(general.editText(kSpeedLimit, "1"));
}

// Every number field's tool tip comes from the table its check uses: the range it names is the
// range the check lets through (its ends pass, a step beyond them does not), and its unit is
// the one the field's label shows for the device and motor type.
std::string exactly(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.12g", v);
    return text;
}

template <typename Page>
void expectHintsMatchChecks(Page& page, const std::vector<int>& ids, PageUi& ui) {
    const std::regex range(R"(^(An integer from )?(-?[0-9.e+]+) to (-?[0-9.e+]+)(?: (.+))?$)");
    for (const int id : ids) {
        const std::string hint = page.hint(id);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(hint, m, range)) << id << ": " << hint;
        const double lo = std::stod(m[2]), hi = std::stod(m[3]);
        const double step = m[1].matched ? 1.0 : std::max(0.01, std::fabs(hi) * 1e-6);
        for (const double v : {lo, hi})
            ASSERT_TRUE(page.editText(id, exactly(v)) && !page.leaveField(id).keepFocus)
                << id << " " << v;
        for (const double v : {lo - step, hi + step}) {
            page.editText(id, exactly(v));
            EXPECT_TRUE(page.leaveField(id).keepFocus) << id << " " << v;
        }
        EXPECT_NE(ui.shown.back().text.find(exactly(hi)), std::string::npos)
            << ui.shown.back().text;
    }
}

TEST_F(Pages, ToolTipsGiveTheRangeTheCheckUsesAndTheUnitOfTheLabel) {
    CConfig general(store, ui);
    general.fillPage(0);
    const std::vector<int> generalIds = {
        kSineCurrentLimit, kSixStepCurrentLimit, kSpeedLimit,  kIdcLimit,           kPhaseCLimit,
        kMaxBusVoltage,    kMinBusVoltage,       kVehicleMass, kSensorlessAccelRate};
    expectHintsMatchChecks(general, generalIds, ui);
    EXPECT_EQ(general.hint(kSpeedLimit), "0 to 12000 RPM");
    EXPECT_EQ(general.hint(kPhaseCLimit),
              "0 to 150 \xC2\xB0"
              "C");
    EXPECT_EQ(general.hint(kSensorlessAccelRate), "0 to 100");
    EXPECT_EQ(general.hint(kCanId), "A multiple of 0x20 from 0 to 0x7C0 (decimal or 0x hex)");
    EXPECT_EQ(general.hint(kSerialNumber), "");
    general.fillPage(0x4000);  // the isolated charger's labels, and units
    EXPECT_EQ(general.hint(kSpeedLimit), "0 to 12000 V");
    EXPECT_EQ(general.hint(kSineCurrentLimit), "0 to 700 A");

    CConfigMotorTabs motors(store, ui);
    motors.fillPage(0);
    expectHintsMatchChecks(motors, {kActiveMotor, kTyreDiameter}, ui);
    EXPECT_EQ(motors.hint(kActiveMotor), "An integer from 0 to 9");
    EXPECT_EQ(motors.hint(kTyreDiameter), "0 to 1000 m");
    CConfigMotor& motor = motors.page(1);  // an induction motor
    expectHintsMatchChecks(motor, {kPolePairs, kMinId, kMaxId, kEncoderCount}, ui);
    EXPECT_EQ(motor.hint(kMinId), "-300 to 300 Apk");
    EXPECT_EQ(motor.hint(kRotorResistance), "A number, in mR");
    EXPECT_EQ(motor.hint(kCutoutTemp),
              "A number, in \xC2\xB0"
              "C");
    EXPECT_EQ(motor.hint(kEngageFreq), "A number, in Hz");
    EXPECT_EQ(motor.hint(kDescription), "At most 19 characters");
    motor.selectMotorType(2);
    EXPECT_EQ(motor.hint(kMaxId), "0 to 300 A/Atot");
    motors.fillPage(0x4001);
    EXPECT_EQ(motors.page(1).hint(kEngageFreq), "A number, in Hz");
    motors.fillPage(0x4000);
    EXPECT_EQ(motors.page(1).hint(kEngageFreq), "A number");
}

}  // namespace
}  // namespace qv
