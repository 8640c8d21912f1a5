// Decoding of every telemetry message and the panel texts, colours, captions and enabled cells.
#include <gtest/gtest.h>

#include "config/config_data_bank.h"
#include "monitor/monitor.h"
#include "monitor_test_support.h"

namespace qv {
namespace {

using test::bytes;
using test::floats;
using test::identification;

const std::string kDeg =
    "\xC2\xB0"
    "C";

class Panel : public ::testing::Test {
  protected:
    // A device of `type` at 0x400, selected, with one status message for `activeMotor`.
    void select(std::uint32_t typeCode, std::uint16_t activeMotor = 1) {
        if (typeCode == 0x4002)
            m.handleFrame(0x400, 0, identification("KX01", 5));
        else
            m.handleFrame(0x400, 0, identification(typeCode, 5));
        status(bytes({0, 0, 0, 0, static_cast<std::uint8_t>(activeMotor),
                      static_cast<std::uint8_t>(activeMotor >> 8), 0, 0}));
    }
    void status(const CanFrame::Data& d) { m.handleFrame(0x401, 0, d); }
    void frame(std::uint32_t offset, const CanFrame::Data& d) {
        m.handleFrame(0x400 + offset, 0, d);
    }
    const PanelChanges& refresh() { return m.refreshPanel(); }
    const CellState& cell(int id) { return m.panel().cell(id); }
    const std::string& text(int id) { return m.panel().cell(id).text; }
    const std::string& caption(int id) { return m.panel().caption(id); }

    CConfigDataBank store;
    Monitor m{store};
};

TEST_F(Panel, StatusFrameNamesLimitsAndErrorsHighestFirst) {
    select(0x4002);
    status(bytes({0x05, 0x00, 0x21, 0x02, 12, 0, 0, 3}));
    refresh();
    EXPECT_EQ(text(1003), "vel, PWM");
    EXPECT_EQ(text(1004), "OVSPD, CFG, HWOC");
    EXPECT_EQ(cell(1004).background, kErrorRed);
    EXPECT_EQ(text(1177), "12");
    EXPECT_EQ(text(1179), "0 ");
    EXPECT_EQ(cell(1179).background, kButtonFace);
    EXPECT_EQ(text(1178), "3 ");
    EXPECT_EQ(cell(1178).background, kWarningOrange);
    EXPECT_EQ(m.values().activeMotor, 12);
    EXPECT_EQ(m.values().limitFlags, 0x5);
    EXPECT_EQ(m.values().errorFlags, 0x221);

    // Only bits above the named ones: empty names; no errors: normal background.
    status(bytes({0x80, 0xFF, 0, 0, 0, 0, 0, 0}));
    refresh();
    EXPECT_EQ(text(1003), "");
    EXPECT_EQ(text(1004), "");
    EXPECT_EQ(cell(1004).background, kButtonFace);
}

TEST_F(Panel, ActiveMotorShowsItsNameOnlyWhenTheMotorRecordsAreHeld) {
    setDescription(store.motor[2], "Hub motor");
    select(0x4002, 2);
    refresh();
    EXPECT_EQ(text(1177), "2");  // motor records not valid
    store.setValid(StructureKind::Motor, true);
    status(bytes({0, 0, 0, 0, 2, 0, 0, 0}));
    refresh();
    EXPECT_EQ(text(1177), "2: Hub motor");
    status(bytes({0, 0, 0, 0, 12, 0, 0, 0}));
    refresh();
    EXPECT_EQ(text(1177), "12");
}

TEST_F(Panel, EveryOffsetIsDecodedIntoItsOwnMember) {
    select(0x4002);
    frame(0x02, floats(96.5f, 12.25f));
    frame(0x03, floats(1500.0f, 10.0f));
    frame(0x04, floats(21.0f, 22.0f));
    frame(0x05, floats(31.0f, 32.0f));
    frame(0x06, floats(41.0f, 42.0f));
    frame(0x07, floats(51.0f, 99.0f));
    frame(0x08, floats(61.0f, 62.0f));
    frame(0x09, floats(71.0f, 72.0f));
    frame(0x0A, floats(0.81f, 82.0f));
    frame(0x0B, floats(91.0f, 92.0f));
    frame(0x0C, floats(101.0f, 102.0f));
    frame(0x0D, floats(111.0f, 112.0f));
    frame(0x0E, floats(1234.5f, 3.75f));
    frame(0x17, floats(4.5f, 0.0f));
    const TelemetryValues& v = m.values();
    EXPECT_EQ(v.busVoltage, 96.5f);
    EXPECT_EQ(v.busCurrent, 12.25f);
    EXPECT_EQ(v.motorVelocity, 1500.0f);
    EXPECT_EQ(v.vehicleVelocity, 10.0f);
    EXPECT_EQ(v.phaseBCurrent, 21.0f);
    EXPECT_EQ(v.phaseCCurrent, 22.0f);
    EXPECT_EQ(v.outputVoltageQ, 31.0f);
    EXPECT_EQ(v.outputVoltageD, 32.0f);
    EXPECT_EQ(v.outputCurrentQ, 41.0f);
    EXPECT_EQ(v.outputCurrentD, 42.0f);
    EXPECT_EQ(v.backEmf, 51.0f);
    EXPECT_EQ(v.hiddenVoltage, 61.0f);
    EXPECT_EQ(v.rail15V, 62.0f);
    EXPECT_EQ(v.rail1V9, 71.0f);
    EXPECT_EQ(v.rail3V3, 72.0f);
    EXPECT_EQ(v.ratio0A, 0.81f);
    EXPECT_EQ(v.speedRpm0A, 82.0f);
    EXPECT_EQ(v.motorTemperature, 91.0f);
    EXPECT_EQ(v.phaseATemperature, 92.0f);
    EXPECT_EQ(v.dspTemperature, 101.0f);
    EXPECT_EQ(v.phaseBTemperature, 102.0f);
    EXPECT_EQ(v.hiddenTemperature, 111.0f);
    EXPECT_EQ(v.phaseCTemperature, 112.0f);
    EXPECT_EQ(v.odometer, 1234.5f);
    EXPECT_EQ(v.busCharge, 3.75f);
    EXPECT_EQ(v.slipSpeed, 4.5f);

    refresh();
    EXPECT_EQ(text(1000), "96.50 V");
    EXPECT_EQ(text(1001), "12.25 A");
    EXPECT_EQ(text(1133), "1182 W");
    EXPECT_EQ(text(1006), "1500 rpm");
    EXPECT_EQ(text(1028), "36.0 kph");
    EXPECT_EQ(text(1022), "21.00 A");
    EXPECT_EQ(text(1007), "22.00 A");
    EXPECT_EQ(text(1015), "32.00 V");
    EXPECT_EQ(text(1016), "31.00 V");
    EXPECT_EQ(text(1017), "42.00 A");
    EXPECT_EQ(text(1025), "41.00 A");
    EXPECT_EQ(text(1023), "51.00 V");
    EXPECT_EQ(text(1199), "61.00 V");
    EXPECT_EQ(text(1011), "62.00 V");
    EXPECT_EQ(text(1013), "71.00 V");
    EXPECT_EQ(text(1014), "72.00 V");
    EXPECT_EQ(text(1018), "91.0 " + kDeg);
    EXPECT_EQ(text(1009), "92.0 " + kDeg);
    EXPECT_EQ(text(1008), "101.0 " + kDeg);
    EXPECT_EQ(text(1019), "102.0 " + kDeg);
    EXPECT_EQ(text(1200), "111.0 " + kDeg);
    EXPECT_EQ(text(1020), "112.0 " + kDeg);
    EXPECT_EQ(text(1030), "1.23 km");
    EXPECT_EQ(text(1031), "3.75 Ah");
    EXPECT_EQ(text(1032), "4.50 Hz");
    EXPECT_FALSE(cell(1199).visible);
    EXPECT_FALSE(cell(1200).visible);
    EXPECT_FALSE(cell(1029).enabled);
}

TEST_F(Panel, OnlyWhatChangedIsReported) {
    select(0x4002);
    refresh();
    frame(0x02, floats(96.5f, 1.0f));
    PanelChanges c = refresh();
    EXPECT_EQ(c.cells, (std::vector<int>{1000, 1001, 1133}));
    // The same values again: nothing to repaint.
    frame(0x02, floats(96.5f, 1.0f));
    EXPECT_TRUE(refresh().empty());
    frame(0x02, floats(96.5f, 2.0f));
    c = refresh();
    EXPECT_EQ(c.cells, (std::vector<int>{1001, 1133}));
}

TEST_F(Panel, FramesOfOtherDevicesAndWithoutSelectionChangeNothing) {
    m.handleFrame(0x402, 0, floats(50.0f, 1.0f));  // nothing selected yet
    select(0x4002);
    m.handleFrame(0x202, 0, floats(70.0f, 1.0f));  // another base
    m.handleFrame(0x3F2, 0, floats(70.0f, 1.0f));  // below the base
    EXPECT_EQ(m.values().busVoltage, 0.0f);
}

TEST_F(Panel, IsolatedChargerModeCaptionsAndCells) {
    select(0x4000, 0);
    frame(0x05, floats(100.0f, 380.0f));  // q = out voltage, d = snubber capacitor
    frame(0x04, floats(1.0f, 2.5f));
    frame(0x05, floats(100.0f, 380.0f));
    frame(0x06, floats(40.0f, 0.5f));
    frame(0x0E, floats(10.0f, 1.5f));
    refresh();
    EXPECT_EQ(caption(1210), "Bus Volt");
    EXPECT_EQ(caption(1211), "-");
    EXPECT_EQ(caption(1212), "Out Curr (DC)");
    EXPECT_EQ(caption(1213), "-");
    EXPECT_EQ(caption(1214), "Out Volt(cap/out)");
    EXPECT_EQ(caption(1215), "NoLoad err/Duty");
    EXPECT_EQ(caption(1216), "-");
    EXPECT_EQ(caption(1219), "-");
    EXPECT_EQ(caption(1220), "C / B Temp");
    EXPECT_EQ(caption(1222), "Veh kWh");
    for (int id : {1030, 1018, 1028, 1032, 1001, 1006, 1023}) EXPECT_FALSE(cell(id).enabled) << id;
    EXPECT_EQ(text(1133), "250 W");  // phase C current x output voltage q
    EXPECT_EQ(text(1017), "0.50 V");
    EXPECT_EQ(text(1025), "40.00 %");
    EXPECT_EQ(text(1031), "1.50");

    // Active motor 1: motor mode of a charger.
    status(bytes({0, 0, 0, 0, 1, 0, 0, 0}));
    refresh();
    EXPECT_EQ(caption(1210), "BusV/phA Irms");
    EXPECT_EQ(caption(1212), "phC/phB (Irms)");
    EXPECT_EQ(caption(1213), "Motor BEMF (d/q)");
    EXPECT_EQ(caption(1222), "Odo / Bus Ah");
    for (int id : {1030, 1018, 1028, 1032, 1001, 1006, 1023}) EXPECT_TRUE(cell(id).enabled) << id;
}

TEST_F(Panel, GridTieChargerModeCaptionsCellsAndPower) {
    select(0x4001, 0);
    frame(0x02, floats(400.0f, 0.7f));
    frame(0x03, floats(50.0f, 0.0f));
    frame(0x06, floats(10.0f, 1.0f));
    frame(0x07, floats(230.0f, 0.0f));
    refresh();
    EXPECT_EQ(caption(1210), "Bus Volt/Grid OK");
    EXPECT_EQ(caption(1211), "Grid Frequency");
    EXPECT_EQ(caption(1212), "RMS Current C/B");
    EXPECT_EQ(caption(1213), "Grid Voltage (rms)");
    EXPECT_EQ(caption(1214), "Grid Voltage (d/q)");
    EXPECT_EQ(caption(1215), "Grid Current (d/q)");
    EXPECT_EQ(caption(1216), "-");
    EXPECT_EQ(caption(1219), "-");
    EXPECT_EQ(caption(1222), "Grid kWh");
    for (int id : {1030, 1018, 1028, 1032}) EXPECT_FALSE(cell(id).enabled) << id;
    for (int id : {1001, 1006, 1023}) EXPECT_TRUE(cell(id).enabled) << id;
    EXPECT_EQ(text(1001), "TRUE");
    EXPECT_EQ(text(1006), "50.00 Hz");
    EXPECT_EQ(text(1133), "6900 W");  // output current q x back-EMF x 3, not bus V x I
    frame(0x02, floats(400.0f, 0.5f));
    refresh();
    EXPECT_EQ(text(1001), "FALSE");
    EXPECT_EQ(text(1133), "6900 W");

    status(bytes({0, 0, 0, 0, 3, 0, 0, 0}));
    refresh();
    EXPECT_EQ(caption(1213), "GT PhA (V)");
    EXPECT_EQ(caption(1214), "GT PhB/C (V)");
    EXPECT_EQ(caption(1211), "Velocity");
}

TEST_F(Panel, SmallControllerHasNoPhaseCAndBTemperatures) {
    select(0x4003);
    refresh();
    EXPECT_EQ(caption(1220), "-");
    EXPECT_FALSE(cell(1020).enabled);
    EXPECT_FALSE(cell(1019).enabled);
    EXPECT_EQ(caption(1210), "Bus Volt/Curr");
}

TEST_F(Panel, LosingTheDeviceResetsTheCellsToTheirZeroTexts) {
    select(0x4002);
    status(bytes({0, 0, 1, 0, 0, 0, 2, 0}));
    frame(0x0B, floats(40.0f, 41.0f));
    refresh();
    EXPECT_EQ(cell(1004).background, kErrorRed);
    m.purgeDeviceList();
    const DeviceListResult r = m.purgeDeviceList();
    EXPECT_TRUE(r.telemetryReset);
    refresh();
    EXPECT_EQ(text(1018), "0 " + kDeg);
    EXPECT_EQ(text(1179), "0");
    EXPECT_EQ(cell(1179).background, kButtonFace);
    EXPECT_EQ(text(1004), "");
    EXPECT_EQ(cell(1004).background, kButtonFace);
    EXPECT_EQ(text(1000), "0 V");
    EXPECT_EQ(text(1028), "0 kph");
    EXPECT_EQ(m.values().motorTemperature, 40.0f);  // the values stay
}

TEST_F(Panel, ClicksAskForTheCellsMessage) {
    EXPECT_FALSE(m.remoteRequestFor(1000));  // no device
    select(0x4002);
    EXPECT_EQ(m.remoteRequestFor(1000), 0x402u);
    EXPECT_EQ(m.remoteRequestFor(1004), 0x401u);
    EXPECT_EQ(m.remoteRequestFor(1028), 0x403u);
    EXPECT_EQ(m.remoteRequestFor(1199), 0x408u);
    EXPECT_EQ(m.remoteRequestFor(1020), 0x40Du);
    EXPECT_EQ(m.remoteRequestFor(1032), 0x417u);
    EXPECT_FALSE(m.remoteRequestFor(1177));
    EXPECT_FALSE(m.remoteRequestFor(1029));
}

TEST_F(Panel, DriveCommandsOfAnotherNode) {
    store.publicConfig.driverControlsBaseAddress = 0x500;
    // Not valid yet: nothing seen.
    m.handleFrame(0x501, 0, floats(100.0f, 0.5f));
    EXPECT_FALSE(m.otherDriverControlsSeen());
    // Valid configuration, no device selected: seen, setpoints not captured.
    store.setValid(StructureKind::Public, true);
    m.handleFrame(0x501, 0, floats(100.0f, 0.5f));
    EXPECT_TRUE(m.otherDriverControlsSeen());
    EXPECT_EQ(m.values().velocitySetpoint, 0.0f);
    m.clearOtherDriverControlsSeen();
    select(0x4002);
    m.handleFrame(0x502, 0, floats(7.0f, 8.0f));
    EXPECT_TRUE(m.otherDriverControlsSeen());
    EXPECT_EQ(m.values().miscSetpoint, 7.0f);
    EXPECT_EQ(m.values().busCurrentSetpoint, 8.0f);
    m.handleFrame(0x501, 0, floats(100.0f, 0.5f));
    EXPECT_EQ(m.values().velocitySetpoint, 100.0f);
    EXPECT_EQ(m.values().currentSetpoint, 0.5f);
    // While our own Controls window is shown, its setpoints are not overwritten.
    m.setControlsVisible(true);
    m.handleFrame(0x501, 0, floats(1.0f, 0.1f));
    EXPECT_EQ(m.values().velocitySetpoint, 100.0f);
}

TEST_F(Panel, FallbackDriverControlsBaseCapturesWithoutDetecting) {
    select(0x4002);
    m.setFallbackDriverControlsBase(0x500);
    m.handleFrame(0x501, 0, floats(300.0f, 0.25f));
    EXPECT_EQ(m.values().velocitySetpoint, 300.0f);
    EXPECT_EQ(m.values().currentSetpoint, 0.25f);
    EXPECT_FALSE(m.otherDriverControlsSeen());
}

}  // namespace
}  // namespace qv
