// Start-up, the tick and its countdowns, the queue drain and shutdown of the main window.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app_rig.h"
#include "link/platform/settings_store.h"

namespace qv {
namespace {

using test::DialogRig;
using test::floats;

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream s(text);
    for (std::string l; std::getline(s, l);) out.push_back(l);
    return out;
}

TEST(MainDialogStart, WithoutNetworkTheMessageComesOnceAndNoTimerRuns) {
    DialogRig rig;
    rig.client.failOpen = true;
    rig.make();
    EXPECT_EQ(rig.ui.takeMessages(), std::vector<std::string>{"Could not open a CAN port"});
    EXPECT_FALSE(rig.timer.active);
    EXPECT_EQ(rig.timer.starts, 0);
    // Usable offline: Configuration... stays, the device tools are greyed.
    EXPECT_TRUE(rig.dialog->menus().item(kCmdConfiguration).enabled);
    EXPECT_FALSE(rig.dialog->menus().item(kCmdControls).enabled);
    EXPECT_FALSE(rig.dialog->menus().item(kCmdLogStartStop).enabled);
}

TEST(MainDialogStart, OpensThePortStartsTheTimerAndPlacesTheWindows) {
    DialogRig rig;
    {
        SettingsStore s(rig.dir.file("settings.ini"));
        s.setValue(kWindowPositionsKey, "MainDlg(X)", "33");
        s.setValue(kWindowPositionsKey, "MainDlg(Y)", "44");
        s.setValue(kWindowPositionsKey, "TelemDlg(X)", "555");
        s.setValue(kWindowPositionsKey, "TelemDlg(Y)", "66");
        s.setValue(kWindowPositionsKey, "CtrlDlg(X)", "-5");
        s.setValue(kWindowPositionsKey, "CtrlDlg(Y)", "10");
        ASSERT_TRUE(s.save());
    }
    rig.make();
    EXPECT_TRUE(rig.ui.takeMessages().empty());
    EXPECT_TRUE(rig.timer.active);
    EXPECT_EQ(rig.timer.period, 200);
    EXPECT_EQ(rig.mainWindow.at, (ScreenPoint{33, 44}));
    EXPECT_EQ(rig.tool(Tool::Telemetry).at, (ScreenPoint{555, 66}));
    EXPECT_EQ(rig.tool(Tool::Controls).at, (ScreenPoint{250, 10}));
    EXPECT_EQ(rig.tool(Tool::Configuration).at, (ScreenPoint{250, 10}));
    EXPECT_EQ(rig.tool(Tool::TransferProgress).at, (ScreenPoint{-1, -1}));  // has no position
    EXPECT_EQ(rig.dialog->monitor().panel().cell(1000).text, "0 V");
}

// Resizable windows keep their sizes, fixed ones only their corners; a window registered later
// is placed at once and saved with the others, or when it is forgotten.
TEST(MainDialogStart, SizesAndRegisteredWindowsAreKept) {
    DialogRig rig;
    {
        SettingsStore s(rig.dir.file("settings.ini"));
        for (const char* stem : {"CfgDlg", "CtrlDlg", "PlotDlg"}) {
            s.setValue(kWindowPositionsKey, std::string(stem) + "(X)", "77");
            s.setValue(kWindowPositionsKey, std::string(stem) + "(Y)", "88");
            s.setValue(kWindowPositionsKey, std::string(stem) + "(W)", "640");
            s.setValue(kWindowPositionsKey, std::string(stem) + "(H)", "480");
        }
        ASSERT_TRUE(s.save());
    }
    rig.tool(Tool::Configuration).size = WindowSize{300, 200};
    auto& dlg = rig.make();
    EXPECT_EQ(rig.tool(Tool::Configuration).size, (WindowSize{640, 480}));
    EXPECT_EQ(rig.tool(Tool::Controls).size, std::nullopt);
    EXPECT_EQ(rig.tool(Tool::Controls).at, (ScreenPoint{77, 88}));
    test::FakeWindow plot("Plot"), busMonitor("Bus monitor");
    plot.size = WindowSize{1, 1};
    dlg.keepWindowPlace("PlotDlg", plot, {250, 10});
    dlg.keepWindowPlace("BusMonDlg", busMonitor, {250, 10});
    EXPECT_EQ(plot.at, (ScreenPoint{77, 88}));
    EXPECT_EQ(plot.size, (WindowSize{640, 480}));
    EXPECT_EQ(busMonitor.at, (ScreenPoint{250, 10}));

    busMonitor.at = {5, 6};
    dlg.forgetWindowPlace(busMonitor);
    EXPECT_EQ(
        SettingsStore(rig.dir.file("settings.ini")).value(kWindowPositionsKey, "BusMonDlg(Y)"),
        "6");
    rig.tool(Tool::Configuration).size = WindowSize{700, 500};
    plot.at = {9, 8};
    dlg.onCommand(kCmdExit);
    const SettingsStore s(rig.dir.file("settings.ini"));
    EXPECT_EQ(s.value(kWindowPositionsKey, "CfgDlg(W)"), "700");
    EXPECT_EQ(s.value(kWindowPositionsKey, "CfgDlg(H)"), "500");
    EXPECT_EQ(s.value(kWindowPositionsKey, "PlotDlg(X)"), "9");
    EXPECT_EQ(s.value(kWindowPositionsKey, "PlotDlg(W)"), "640");
    EXPECT_EQ(s.value(kWindowPositionsKey, "BusMonDlg(X)"), "5");
}

// Escape, the close box and Exit: tools hidden, port closed, all seven positions written.
TEST(MainDialogShutdown, CancelSavesEveryPositionAndClosesThePort) {
    DialogRig rig;
    auto& dlg = rig.make();
    rig.mainWindow.at = {101, 102};
    int n = 0;
    for (auto& t : rig.tools) t->at = {300 + n, 400 + n}, ++n;
    rig.tool(Tool::Telemetry).visible = rig.tool(Tool::Telemetry).enabled = true;
    dlg.onOk();  // Enter does nothing
    EXPECT_FALSE(rig.view.ended);
    dlg.onCommand(kCmdExit);
    EXPECT_TRUE(rig.view.ended);
    EXPECT_FALSE(rig.timer.active);
    EXPECT_FALSE(rig.port.isOpen());
    EXPECT_FALSE(rig.tool(Tool::Telemetry).visible);
    const SettingsStore s(rig.dir.file("settings.ini"));
    EXPECT_EQ(s.value(kWindowPositionsKey, "MainDlg(X)"), "101");
    EXPECT_EQ(s.value(kWindowPositionsKey, "MainDlg(Y)"), "102");
    EXPECT_EQ(s.value(kWindowPositionsKey, "CfgDlg(X)"), "300");
    EXPECT_EQ(s.value(kWindowPositionsKey, "PhSenseDlg(X)"), "301");
    EXPECT_EQ(s.value(kWindowPositionsKey, "CtrlDlg(X)"), "302");
    EXPECT_EQ(s.value(kWindowPositionsKey, "PmExtractDlg(Y)"), "403");
    EXPECT_EQ(s.value(kWindowPositionsKey, "ImExtractDlg(X)"), "304");
    EXPECT_EQ(s.value(kWindowPositionsKey, "TelemDlg(Y)"), "405");
    // Later ticks and commands do nothing.
    dlg.onTimer();
    dlg.onCommand(kCmdReconnect);
    EXPECT_FALSE(rig.port.isOpen());
}

TEST(MainDialogTick, FirstDeviceIsSelectedAndConfiguresTheStream) {
    DialogRig rig;
    auto& dlg = rig.make();
    rig.announce(0x400, "KX01", 111);
    rig.announce(0x080, "KX02", 222);
    dlg.onTimer();
    ASSERT_EQ(rig.view.rows.size(), 2u);
    EXPECT_EQ(rig.view.rows[0], "0x080   qvm7   0000222");
    EXPECT_EQ(rig.view.selectedRow, 1u);
    EXPECT_EQ(dlg.monitor().selected().base, 0x400);
    EXPECT_EQ(rig.port.bridgeAddress(), 0x0100007Fu);
    EXPECT_TRUE(dlg.menus().item(kCmdControls).enabled);
    EXPECT_TRUE(dlg.menus().item(kCmdLogStartStop).enabled);
}

// The purge runs every 12th tick after the drain: a device heard once goes at the second purge
// after it, and an announcement queued for the purge tick keeps it.
TEST(MainDialogTick, PurgeEveryTwelveTicksAfterTheDrain) {
    DialogRig rig;
    auto& dlg = rig.make();
    rig.announce(0x400, "KX01", 111);
    rig.announce(0x200, "KX01", 222);
    dlg.onTimer();  // tick 1
    rig.tool(Tool::Telemetry).visible = rig.tool(Tool::Telemetry).enabled = true;
    for (int t = 2; t <= 23; ++t) dlg.onTimer();
    EXPECT_EQ(rig.view.rows.size(), 2u);
    EXPECT_EQ(dlg.purgeCountdown(), 1);
    rig.announce(0x400, "KX01", 111);  // queued for the tick of the second purge
    dlg.onTimer();                     // tick 24: 0x200 goes, 0x400 stays selected
    ASSERT_EQ(rig.view.rows.size(), 1u);
    EXPECT_EQ(rig.view.rows[0].substr(0, 5), "0x400");
    EXPECT_TRUE(dlg.monitor().selected().selected);
    EXPECT_TRUE(rig.tool(Tool::Telemetry).visible);  // no hideAllTools
    EXPECT_EQ(dlg.purgeCountdown(), 12);
}

TEST(MainDialogTick, SelectedDeviceLostClosesToolsAndGreysMenus) {
    DialogRig rig;
    auto& dlg = rig.make();
    rig.announce(0x400, "KX01", 111);
    dlg.onTimer();
    rig.tool(Tool::Controls).visible = rig.tool(Tool::Controls).enabled = true;
    for (int t = 0; t < 24; ++t) dlg.onTimer();
    EXPECT_EQ(rig.drive.events.back(), "stop");
    EXPECT_TRUE(rig.view.rows.empty());
    EXPECT_FALSE(rig.tool(Tool::Controls).visible);
    EXPECT_FALSE(rig.tool(Tool::Controls).enabled);
    EXPECT_FALSE(dlg.menus().item(kCmdControls).enabled);
    EXPECT_FALSE(dlg.monitor().selected().selected);
}

// Steps 3 and 5: the drive command every tick while Controls is shown, the periodic check
// every sixth tick after it, both only with the public structure (driver-controls base) held.
TEST(MainDialogTick, DriveCommandAndPeriodicCheckFollowTheirCountdowns) {
    DialogRig rig;
    auto& dlg = rig.make();
    rig.announce(0x400, "KX01", 111);
    dlg.onTimer();
    dlg.onCommand(kCmdControls);  // downloads the public structure first
    ASSERT_TRUE(rig.deliverTransferDone());
    ASSERT_TRUE(rig.tool(Tool::Controls).visible);
    for (int t = 0; t < 3; ++t) dlg.onTimer();
    rig.tool(Tool::Controls).enabled = false;
    rig.drive.events.clear();
    dlg.onCommand(kCmdControls);  // held now: opens at once and restarts the countdown
    EXPECT_EQ(dlg.slowCountdown(), 6);
    for (int t = 0; t < 12; ++t) dlg.onTimer();
    std::vector<std::string> expected;
    for (int t = 1; t <= 12; ++t) {
        expected.push_back("drive");
        if (t % 6 == 0) expected.push_back("check(no other)");
    }
    EXPECT_EQ(rig.drive.events, expected);

    // The context says what the drive may do: this device, this connection, the public
    // structure held.
    EXPECT_TRUE(rig.drive.last.portOpen);
    EXPECT_EQ(rig.drive.last.connection, 1u);
    ASSERT_TRUE(rig.drive.last.selectedDevice);
    EXPECT_EQ(rig.drive.last.selectedDevice->base, 0x400);
    EXPECT_EQ(rig.drive.last.selectedDevice->serial, 111u);
    EXPECT_TRUE(rig.drive.last.publicConfigValid);

    // Another node's drive command at DC + 1: the drive hears of it, the check is told so.
    rig.drive.events.clear();
    rig.store.publicConfig.driverControlsBaseAddress = 0x500;
    rig.frame(0x501, floats(100.0f, 0.5f));
    for (int t = 0; t < 6; ++t) dlg.onTimer();
    EXPECT_EQ(rig.drive.events, (std::vector<std::string>{
                                    "drive(other)", "drive(other)", "drive(other)", "drive(other)",
                                    "drive(other)", "drive(other)", "check(other)"}));

    // Hidden Controls: neither runs.
    rig.drive.events.clear();
    dlg.onCommand(kCmdControls);  // held structure: opens again at once, clears the flag
    rig.tool(Tool::Controls).visible = false;
    for (int t = 0; t < 12; ++t) {
        rig.announce(0x400, "KX01", 111);
        dlg.onTimer();
    }
    EXPECT_TRUE(rig.drive.events.empty());
}

TEST(MainDialogTick, NoPeriodicCheckCountdownWithoutThePublicStructure) {
    DialogRig rig;
    auto& dlg = rig.make();
    for (int t = 0; t < 10; ++t) dlg.onTimer();
    EXPECT_EQ(dlg.slowCountdown(), 6);
    rig.store.setValid(StructureKind::Public, true);
    for (int t = 0; t < 4; ++t) dlg.onTimer();
    EXPECT_EQ(dlg.slowCountdown(), 2);
}

// Step 1 comes before the drain: a row shows what the values held before this tick's frames.
// Device 0x400 selected, then Log > Start... with no configuration download available.
struct LoggingRig : DialogRig {
    LoggingRig() {
        transfer.isAvailable = false;
        make();
        announce(0x400, "KX01", 111);
        dialog->onTimer();
        dialog->onCommand(kCmdLogStartStop);
    }
    const std::string path = dir.file("QVlog_2015-03-02_14-03-07.csv");
};

TEST(MainDialogTick, LogRowIsWrittenBeforeTheDrainAtItsPeriod) {
    LoggingRig rig;
    CQVDrvCtrlsDlg& dlg = *rig.dialog;
    ASSERT_TRUE(dlg.telemetryLog().logging());
    EXPECT_EQ(dlg.menus().item(kCmdLogStartStop).text, "Stop");
    EXPECT_EQ(dlg.monitor().fallbackDriverControlsBase(), 0x500);  // no download available

    rig.frame(0x402, floats(50.0f, 2.0f));
    dlg.onTimer();  // row with bus voltage 0, then the frame
    dlg.onTimer();  // row with 50
    dlg.onCommand(kCmdUpdate1s);
    EXPECT_EQ(dlg.logPeriodTicks(), 5);
    for (int t = 0; t < 10; ++t) dlg.onTimer();  // the countdown reloads with 1 once, then 5
    dlg.onCommand(kCmdLogStartStop);
    EXPECT_EQ(dlg.menus().item(kCmdLogStartStop).text, "Start...");

    const auto rows = lines(readFile(rig.path));
    ASSERT_EQ(rows.size(), 1u + 2u + 2u);  // header, two rows, then two at the 1 s period
    EXPECT_EQ(rows[0].substr(0, 12), "Time, Errors");
    const auto busVoltage = [](const std::string& row) {  // the eighth column
        std::size_t at = 0;
        for (int i = 0; i < 7; ++i) at = row.find(", ", at) + 2;
        return row.substr(at, row.find(',', at) - at);
    };
    EXPECT_EQ(busVoltage(rows[1]), "0.000000");
    EXPECT_EQ(busVoltage(rows[2]), "50.000000");
}

TEST(MainDialogTick, LogThatCannotBeWrittenIsReportedOnceAndStops) {
    LoggingRig rig;
    CQVDrvCtrlsDlg& dlg = *rig.dialog;
    ASSERT_TRUE(dlg.telemetryLog().logging());
    std::filesystem::remove(rig.path);
    for (int t = 0; t < 10; ++t) {
        rig.clock.ms += 200;
        dlg.onTimer();
    }
    const auto messages = rig.ui.takeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_FALSE(dlg.telemetryLog().logging());
    EXPECT_EQ(dlg.menus().item(kCmdLogStartStop).text, "Start...");
}

TEST(MainDialogTick, BusLoadUsesTheFramesOfTheLastFiveTicks) {
    DialogRig rig;
    auto& dlg = rig.make();
    rig.bridgeStatus(500);
    for (int t = 0; t < 5; ++t) {
        for (int i = 0; i < 200; ++i) rig.frame(0x123, {});
        dlg.onTimer();
    }
    EXPECT_EQ(dlg.monitor().panel().cell(1202).text, "CAN BUS loading is 24.00%");
}

// A queue longer than one tick can take in its budget is finished at the next tick.
class SteppingClock : public test::FakeClock {
  public:
    double nowMs() const override { return stepped += 1.0; }
    mutable double stepped = 0;
};

TEST(MainDialogTick, DrainStopsAtItsBudgetAndResumesNextTick) {
    DialogRig rig;
    SteppingClock clock;
    rig.clockOverride = &clock;
    rig.make();
    for (int i = 0; i < 5000; ++i) rig.frame(0x123, {});
    rig.dialog->onTimer();
    EXPECT_EQ(rig.dialog->drainsCut(), 1u);
    const std::size_t left = rig.port.queuedPackets();
    EXPECT_GT(left, 0u);
    EXPECT_LT(left, 5000u);
    for (int t = 0; t < 10 && rig.port.queuedPackets() > 0; ++t) rig.dialog->onTimer();
    EXPECT_EQ(rig.port.queuedPackets(), 0u);
}

TEST(MainDialogTick, ClickOnAValueCellSendsItsRemoteRequest) {
    DialogRig rig;
    auto& dlg = rig.make();
    dlg.onCellClicked(1000);  // no device yet
    rig.announce(0x400, "KX01", 111);
    dlg.onTimer();
    dlg.onCellClicked(1000);
    dlg.onCellClicked(1032);
    dlg.onCellClicked(1209);  // a caption: nothing
    const auto sent = rig.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].identifier(), 0x402u);
    EXPECT_TRUE(sent[0].remote());
    EXPECT_EQ(sent[0].length(), 8);
    EXPECT_EQ(sent[1].identifier(), 0x417u);
}

}  // namespace
}  // namespace qv
