// Menu commands, the tool windows and WM_TRANSFER_DONE.
#include <gtest/gtest.h>

#include <fstream>

#include "app_rig.h"
#include "config/config_file.h"

namespace qv {
namespace {

using test::DialogRig;

// A rig with one device selected (0x400, serial 111).
struct Selected : DialogRig {
    explicit Selected(bool toolsAvailable = true) : DialogRig(toolsAvailable) {
        make();
        announce(0x400, "KX01", 111);
        dialog->onTimer();
    }
    void holdAll() {
        store.setValid(StructureKind::Public, true);
        store.setValid(StructureKind::Private, true);
        store.setValid(StructureKind::Motor, true);
    }
    bool shown(Tool t) { return tool(t).visible && tool(t).enabled; }
    std::string configFile() {
        CConfigDataBank source;
        const auto bytes = buildConfigFile(source);
        const std::string path = dir.file("saved.cfg");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }
};

TEST(ToolsCommands, TelemetryLeavesOtherWindowsAloneAndOthersCloseIt) {
    Selected rig;
    rig.holdAll();
    rig.dialog->onCommand(kCmdControls);
    ASSERT_TRUE(rig.shown(Tool::Controls));
    rig.dialog->onCommand(kCmdTelemetry);
    EXPECT_TRUE(rig.shown(Tool::Controls));
    EXPECT_TRUE(rig.shown(Tool::Telemetry));
    EXPECT_TRUE(rig.dialog->monitor().telemetryWindow().rawLog().isOpen());
    EXPECT_TRUE(std::filesystem::exists(rig.dir.file("canlog_2015-03-02_14-03-07.csv")));

    rig.dialog->onCommand(kCmdDuvodaRezir);  // all held: opens at once, closes the others
    EXPECT_TRUE(rig.shown(Tool::DuvodaRezir));
    EXPECT_EQ(rig.tool(Tool::DuvodaRezir).raised, 1);
    EXPECT_FALSE(rig.tool(Tool::Controls).visible);
    EXPECT_FALSE(rig.tool(Tool::Telemetry).visible);
    EXPECT_FALSE(rig.tool(Tool::Telemetry).enabled);
    EXPECT_FALSE(rig.dialog->monitor().telemetryWindow().rawLog().isOpen());
    EXPECT_TRUE(rig.transfer.takeCalls().empty());
}

// Plot Telemetry and Bus Monitor open beside the tools and stay when a tool opens; they follow
// the tick while shown; the tick records every frame it takes with its time of arrival, also the
// extended ones the decoder never sees.
TEST(ToolsCommands, MonitorWindowsStayBesideTheToolsAndFollowTheTick) {
    struct Ticked : test::FakeWindow {
        Ticked() : FakeWindow("ticked") {}
    };
    struct FakeTick : TickWindow {
        Ticked w;
        int ticks = 0;
        void show() override { w.show(); }
        void hide() override { w.hide(); }
        void setEnabled(bool e) override { w.setEnabled(e); }
        bool isVisible() const override { return w.isVisible(); }
        bool isEnabled() const override { return w.isEnabled(); }
        void raise() override { w.raise(); }
        ScreenPoint position() const override { return w.position(); }
        void moveTo(ScreenPoint p) override { w.moveTo(p); }
        void onTick() override { ++ticks; }
    } plot, bus;
    Selected rig;
    rig.holdAll();
    rig.dialog->addTickWindow(kCmdPlotTelemetry, plot);
    rig.dialog->addTickWindow(kCmdBusMonitor, bus);
    rig.dialog->onCommand(kCmdPlotTelemetry);
    EXPECT_TRUE(plot.w.visible && plot.w.enabled);
    EXPECT_FALSE(bus.w.visible);
    rig.dialog->onCommand(kCmdDuvodaRezir);
    EXPECT_TRUE(plot.w.visible);
    const std::uint64_t before = rig.dialog->monitor().busMonitor().framesRecorded();
    rig.frame(0x402, CanFrame::Data{0, 0, 0xC0, 0x42, 0, 0, 0, 0});  // 96 V
    rig.frame(0x1ABCDE01, CanFrame::Data{});
    const int ticks = plot.ticks;
    rig.dialog->onTimer();
    EXPECT_EQ(plot.ticks, ticks + 1);
    EXPECT_EQ(bus.ticks, 0);
    EXPECT_EQ(rig.dialog->monitor().busMonitor().framesRecorded(), before + 2);
    const RecordedSeries* volts = rig.dialog->monitor().recorder().find(1000);
    ASSERT_EQ(volts->samples.size(), 1u);
    EXPECT_EQ(volts->samples.value(0), 96.0f);
    EXPECT_GT(rig.dialog->monitor().recorder().originNs(), 0);
    rig.dialog->onCancel();
    EXPECT_FALSE(plot.w.visible);
}

TEST(ToolsCommands, TelemetryCancelClosesItsRawLog) {
    Selected rig;
    rig.dialog->onCommand(kCmdTelemetry);
    rig.frame(0x123, {1, 2, 3, 4, 5, 6, 7, 8});
    rig.dialog->onTimer();
    rig.dialog->onTelemetryCancel();
    EXPECT_FALSE(rig.tool(Tool::Telemetry).visible);
    EXPECT_FALSE(rig.dialog->monitor().telemetryWindow().rawLog().isOpen());
    std::ifstream in(rig.dir.file("canlog_2015-03-02_14-03-07.csv"));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line.substr(line.find(',')), ", 291, 1, 2, 3, 4, 5, 6, 7, 8 ");
}

// Controls needs the public structure only; the commissioning tools need all three.
TEST(ToolsCommands, ToolsDownloadWhatTheyMissAndOpenOnlyOnSuccess) {
    Selected rig;
    rig.store.setValid(StructureKind::Public, true);
    rig.dialog->onCommand(kCmdControls);
    EXPECT_TRUE(rig.shown(Tool::Controls));
    EXPECT_TRUE(rig.transfer.takeCalls().empty());

    rig.transfer.succeed = false;
    rig.dialog->onCommand(kCmdDuvodaRezir);
    EXPECT_EQ(rig.dialog->transferJob().action, kActionOpenDuvodaRezir);
    EXPECT_EQ(rig.dialog->transferJob().mask, kDownloadAll);
    ASSERT_TRUE(rig.deliverTransferDone());
    EXPECT_EQ(rig.transfer.takeCalls(), std::vector<std::string>{"download -1"});
    EXPECT_FALSE(rig.tool(Tool::DuvodaRezir).visible);
    EXPECT_TRUE(rig.shown(Tool::Controls));  // a failed download closes nothing

    rig.transfer.succeed = true;
    rig.dialog->onCommand(kCmdImExtract);
    ASSERT_TRUE(rig.deliverTransferDone());
    EXPECT_TRUE(rig.shown(Tool::ImExtraction));
    EXPECT_FALSE(rig.tool(Tool::Controls).visible);
}

// Downloads wait at a gate the test opens.
class GatedTransfer : public test::FakeTransfer {
  public:
    using FakeTransfer::FakeTransfer;
    bool download(std::int32_t mask) override {
        std::unique_lock l(mutex);
        cv.wait(l, [&] { return open; });
        return FakeTransfer::download(mask);
    }
    void release() {
        {
            std::lock_guard l(mutex);
            open = true;
        }
        cv.notify_all();
    }
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
};

TEST(ToolsCommands, ASecondTransferWaitsForTheFirst) {
    DialogRig rig;
    GatedTransfer gated(rig.store);
    rig.transferOverride = &gated;
    rig.make();
    rig.announce(0x400, "KX01", 111);
    rig.dialog->onTimer();
    rig.dialog->onCommand(kCmdParamExtract);
    EXPECT_TRUE(rig.dialog->transferRunning());
    rig.dialog->onCommand(kCmdDuvodaRezir);
    EXPECT_EQ(rig.ui.takeMessages(), std::vector<std::string>{kTransferBusyText});
    gated.release();
    ASSERT_TRUE(rig.deliverTransferDone());
    EXPECT_TRUE(rig.tool(Tool::PmExtraction).visible);
    EXPECT_FALSE(rig.tool(Tool::DuvodaRezir).visible);
    EXPECT_EQ(gated.takeCalls(), std::vector<std::string>{"download -1"});
}

TEST(ToolsCommands, UnbuiltToolsAndTransfersSayTheyAreNotAvailable) {
    Selected rig(false);
    rig.dialog->onCommand(kCmdControls);
    rig.dialog->onCommand(kCmdConfiguration);
    EXPECT_EQ(rig.ui.takeMessages(),
              (std::vector<std::string>{"Controls is not available in this version yet.",
                                        "Configuration is not available in this version yet."}));
    EXPECT_FALSE(rig.tool(Tool::Controls).visible);
    EXPECT_TRUE(rig.transfer.takeCalls().empty());
    rig.dialog->onCommand(kCmdTelemetry);  // built here
    EXPECT_TRUE(rig.shown(Tool::Telemetry));

    Selected built;
    built.transfer.isAvailable = false;
    built.dialog->onCommand(kCmdDuvodaRezir);
    built.dialog->onCommand(kCmdResetController);
    EXPECT_EQ(built.ui.takeMessages(),
              (std::vector<std::string>{kTransferUnavailableText, kTransferUnavailableText}));
    EXPECT_FALSE(built.dialog->transferRunning());
}

// Tools > Reset Controller names the device and waits for Yes: nothing reaches the transfer or
// the bus before, nothing at all after No (the default), or when the device went meanwhile.
TEST(ToolsCommands, ResetControllerAsksFirstAndOnlyYesResets) {
    Selected rig;
    rig.ui.onQuestion = [&](const MessageBoxRequest& r) {
        EXPECT_EQ(r.caption, "Reset Controller");
        EXPECT_EQ(r.text,
                  "Reset the controller 0x400 qvm40 serial 111?\r\n\r\nIt restarts at once and "
                  "stops driving the motor, even while it turns.");
        EXPECT_EQ(r.buttons, MessageButtons::YesNo);
        EXPECT_EQ(r.defaultAnswer, MessageAnswer::No);
        EXPECT_FALSE(rig.dialog->transferRunning());
        EXPECT_TRUE(rig.transfer.takeCalls().empty());
        std::lock_guard l(rig.client.mutex);
        EXPECT_TRUE(rig.client.sent.empty() && rig.client.queued.empty());
        for (const std::string& c : rig.client.calls) EXPECT_NE(c.rfind("connectTcp", 0), 0u) << c;
    };
    rig.ui.answers = {MessageAnswer::No};
    rig.dialog->onCommand(kCmdResetController);
    EXPECT_EQ(rig.ui.requests.size(), 1u);
    EXPECT_FALSE(rig.dialog->transferRunning());

    rig.ui.answers = {MessageAnswer::Yes};
    rig.dialog->onCommand(kCmdResetController);
    ASSERT_TRUE(rig.deliverTransferDone());
    EXPECT_EQ(rig.transfer.takeCalls(), std::vector<std::string>{"reset"});
    EXPECT_EQ(rig.ui.requests.size(), 2u);

    // Another device chosen while the question waited: its Yes was not meant for this one.
    rig.announce(0x200, "KX02", 222);
    rig.dialog->onTimer();
    rig.ui.onQuestion = [&](const MessageBoxRequest&) { rig.dialog->onDeviceSelected(0); };
    rig.ui.answers = {MessageAnswer::Yes};
    rig.dialog->onCommand(kCmdResetController);
    EXPECT_FALSE(rig.dialog->transferRunning());
    EXPECT_TRUE(rig.transfer.takeCalls().empty());
}

TEST(ToolsCommands, ConfigurationWithoutADeviceLoadsAFileAndNeverDownloads) {
    DialogRig rig;
    rig.make();
    rig.ui.fileAnswers.push_back(std::nullopt);  // cancelled
    rig.dialog->onCommand(kCmdConfiguration);
    ASSERT_EQ(rig.ui.dialogs.size(), 1u);
    EXPECT_FALSE(rig.ui.dialogs[0].save);
    EXPECT_EQ(rig.ui.dialogs[0].filter, "Config (*.cfg)|*.cfg|All files (*.*)|*.*||");
    EXPECT_EQ(rig.dialog->monitor().selected().base, -2);  // automatic selection off
    EXPECT_FALSE(rig.tool(Tool::Configuration).visible);

    // A device heard now is listed but not selected.
    rig.announce(0x400, "KX01", 111);
    rig.dialog->onTimer();
    EXPECT_FALSE(rig.dialog->monitor().selected().selected);
    EXPECT_TRUE(rig.transfer.takeCalls().empty());
}

TEST(ToolsCommands, ConfigurationWithShiftDeselectsThenOpensTheLoadedFile) {
    Selected rig;
    rig.tool(Tool::Configuration).visible = rig.tool(Tool::Configuration).enabled = true;
    rig.ui.fileAnswers.push_back(rig.configFile());
    rig.dialog->onCommand(kCmdConfiguration, true);
    EXPECT_EQ(rig.dialog->monitor().selected().base, -2);
    EXPECT_FALSE(rig.dialog->monitor().selected().selected);
    EXPECT_EQ(rig.ui.dialogs.size(), 1u);
    EXPECT_TRUE(rig.transfer.takeCalls().empty());
    EXPECT_TRUE(rig.store.isValid(StructureKind::Public));
    // Already open: it stays and shows the file just loaded.
    EXPECT_TRUE(rig.shown(Tool::Configuration));
    EXPECT_EQ(rig.tool(Tool::Configuration).refreshed, 1);
}

TEST(ToolsCommands, ConfigurationWithADeviceDownloadsAllThenOpens) {
    Selected rig;
    rig.dialog->onCommand(kCmdConfiguration);
    ASSERT_TRUE(rig.deliverTransferDone());
    EXPECT_EQ(rig.transfer.takeCalls(), std::vector<std::string>{"download -1"});
    EXPECT_TRUE(rig.shown(Tool::Configuration));
    EXPECT_EQ(rig.tool(Tool::Configuration).refreshed, 1);
    EXPECT_TRUE(rig.ui.dialogs.empty());
}

TEST(FileCommands, FactoryFileIsUploadedWithoutShiftAndOnlyShownWithIt) {
    Selected rig;
    rig.ui.fileAnswers.push_back(rig.configFile());
    rig.dialog->onCommand(kCmdLoadFactoryFile);
    ASSERT_TRUE(rig.deliverTransferDone());
    EXPECT_EQ(rig.transfer.takeCalls(), std::vector<std::string>{"upload"});
    EXPECT_FALSE(rig.tool(Tool::Configuration).visible);
    EXPECT_EQ(rig.tool(Tool::Configuration).refreshed, 0);
    // An open Configuration window shows the file it now holds.
    rig.tool(Tool::Configuration).visible = true;
    rig.ui.fileAnswers.push_back(rig.configFile());
    rig.dialog->onCommand(kCmdLoadFactoryFile);
    ASSERT_TRUE(rig.deliverTransferDone());
    EXPECT_EQ(rig.tool(Tool::Configuration).refreshed, 1);
    rig.transfer.takeCalls();
    rig.tool(Tool::Configuration).visible = false;

    rig.ui.fileAnswers.push_back(rig.configFile());
    rig.dialog->onCommand(kCmdLoadFactoryFile, true);
    EXPECT_EQ(rig.tool(Tool::Configuration).selectedPage, 1);
    EXPECT_TRUE(rig.shown(Tool::Configuration));
    EXPECT_TRUE(rig.transfer.takeCalls().empty());
}

TEST(FileCommands, ReconnectEmptiesTheListAndClosesTheTools) {
    Selected rig;
    rig.holdAll();
    rig.dialog->onCommand(kCmdControls);
    ASSERT_TRUE(rig.shown(Tool::Controls));
    rig.drive.events.clear();  // selecting the device stopped the drive too
    rig.dialog->onCommand(kCmdReconnect);
    EXPECT_EQ(rig.drive.events, std::vector<std::string>{"stop"});
    EXPECT_TRUE(rig.view.rows.empty());
    EXPECT_FALSE(rig.tool(Tool::Controls).visible);
    EXPECT_FALSE(rig.store.isValid(StructureKind::Public));
    EXPECT_FALSE(rig.dialog->menus().item(kCmdControls).enabled);
    EXPECT_EQ(rig.dialog->monitor().selected().base, -1);
    EXPECT_TRUE(rig.timer.active);
    EXPECT_EQ(rig.timer.starts, 2);
    // The next device found is selected again, on a new connection.
    rig.announce(0x200, "KX02", 5);
    rig.dialog->onTimer();
    EXPECT_EQ(rig.dialog->monitor().selected().base, 0x200);
    rig.dialog->onTransferDone(kActionOpenControls, false);
    rig.dialog->onTimer();
    EXPECT_EQ(rig.drive.last.connection, 2u);

    rig.client.failOpen = true;
    rig.dialog->onCommand(kCmdReconnect);
    EXPECT_EQ(rig.ui.takeMessages(), std::vector<std::string>{"Could not open a CAN port"});
    EXPECT_FALSE(rig.timer.active);
}

TEST(TransferDone, ActionsOpenTheirWindowsUnlessFailed) {
    struct Case {
        std::int32_t action;
        Tool tool;
    };
    for (const Case c :
         {Case{1, Tool::Controls}, Case{2, Tool::Configuration}, Case{5, Tool::ImExtraction},
          Case{7, Tool::PmExtraction}, Case{9, Tool::DuvodaRezir}}) {
        Selected rig;
        rig.dialog->onCommand(kCmdTelemetry);
        rig.dialog->onTransferDone(c.action, true);
        EXPECT_FALSE(rig.tool(c.tool).visible) << c.action;
        EXPECT_TRUE(rig.shown(Tool::Telemetry)) << c.action;
        rig.dialog->onTransferDone(c.action, false);
        EXPECT_TRUE(rig.shown(c.tool)) << c.action;
        EXPECT_FALSE(rig.tool(Tool::Telemetry).visible) << c.action;
        // Already enabled: nothing closes, nothing reopens.
        rig.dialog->onTransferDone(c.action, false);
        EXPECT_EQ(rig.tool(c.tool).raised, 1) << c.action;
    }
}

TEST(TransferDone, RefreshLogStartAndNothingActions) {
    Selected rig;
    rig.dialog->onTransferDone(kActionOpenConfiguration, false);
    rig.dialog->onTransferDone(kActionRefreshConfiguration, false);
    EXPECT_EQ(rig.tool(Tool::Configuration).refreshed, 2);
    EXPECT_TRUE(rig.shown(Tool::Configuration));
    rig.dialog->onTransferDone(kActionRefreshConfiguration, true);
    EXPECT_FALSE(rig.tool(Tool::Configuration).visible);

    rig.dialog->onTransferDone(kActionLogStart, false);
    EXPECT_EQ(rig.dialog->monitor().fallbackDriverControlsBase(), -3);
    rig.dialog->onTransferDone(kActionLogStart, true);
    EXPECT_EQ(rig.dialog->monitor().fallbackDriverControlsBase(), 0x500);

    rig.dialog->onTransferDone(kActionNone, false);
    rig.dialog->onTransferDone(99, false);
    for (auto& t : rig.tools) EXPECT_FALSE(t->visible);
}

// After a tool's upload the controller hears, a second later, which tool is open.
TEST(TransferDone, UploadOfAToolSelectsTheToolAgain) {
    Selected rig;
    rig.dialog->onTransferDone(kActionSelectDuvodaRezir, true);  // runs whether failed or not
    ASSERT_TRUE(test::eventually([&] {
        std::lock_guard l(rig.client.mutex);
        return !rig.client.calls.empty() && rig.client.calls.back() == "closeTcp";
    }));
    std::lock_guard l(rig.client.mutex);
    const std::vector<std::string> tail(rig.client.calls.end() - 3, rig.client.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"connectTcp 1039 3", "flush", "closeTcp"}));
    ASSERT_EQ(rig.client.queued.size(), 1u);
    EXPECT_EQ(rig.client.queued[0].identifier(), 0x40Fu);
    EXPECT_EQ(rig.client.queued[0].data(), (CanFrame::Data{0, 0, 0, 0, 1, 0, 0, 0}));
}

TEST(TransferDone, ProgressGoesToTheProgressWindowOnlyWhileEnabled) {
    Selected rig;
    rig.dialog->onCanTransfer(140);
    rig.tool(Tool::TransferProgress).enabled = true;
    rig.dialog->onCanTransfer(140);
    rig.dialog->onCanTransfer(96);
    EXPECT_EQ(rig.tool(Tool::TransferProgress).progress, 236);
}

// Quitting asks first while configuration changes were neither written nor saved, whether in the
// store or still on the Configuration window's pages; the answer No keeps the program running.
TEST(FileCommands, ExitAsksBeforeUnsavedConfigurationChangesAreLost) {
    Selected rig;
    const std::string question =
        "The configuration holds changes that were neither written to a controller nor saved to a "
        "file.\r\n\r\nQuit and lose them?";
    rig.store.publicConfig.speedLimit = 1234.0f;
    rig.ui.answers = {MessageAnswer::No};
    rig.dialog->onCommand(kCmdExit);
    EXPECT_EQ(rig.ui.takeMessages(), std::vector<std::string>{question});
    EXPECT_FALSE(rig.view.ended);

    rig.store.markSaved();  // saved to a file, say
    rig.tool(Tool::Configuration).unsavedEdits = true;
    rig.ui.answers = {MessageAnswer::No};
    rig.dialog->onCommand(kCmdExit);
    EXPECT_EQ(rig.ui.takeMessages(), std::vector<std::string>{question});
    EXPECT_FALSE(rig.view.ended);

    rig.ui.answers = {MessageAnswer::Yes};
    rig.dialog->onCommand(kCmdExit);
    EXPECT_EQ(rig.ui.takeMessages().size(), 1u);
    EXPECT_TRUE(rig.view.ended);
}

// Choosing another device drops what was held for the previous one in one step: no tool may
// upload one controller's configuration to another, nor a question count an older version.
TEST(DeviceSelection, AnotherDeviceClearsTheHeldConfiguration) {
    Selected rig;
    rig.announce(0x440, "KX02", 222);
    rig.dialog->onTimer();
    rig.holdAll();
    rig.store.markModified(StructureKind::Motor);
    rig.store.heldVersion = 201;
    rig.store.publicConfig.speedLimit = 4321.0f;
    rig.dialog->onDeviceSelected(1);
    ASSERT_EQ(rig.dialog->monitor().selected().base, 0x440);
    for (StructureKind k : {StructureKind::Public, StructureKind::Private, StructureKind::Motor}) {
        EXPECT_FALSE(rig.store.isValid(k));
        EXPECT_FALSE(rig.store.isModified(k));
    }
    EXPECT_EQ(rig.store.heldVersion, 0);
    EXPECT_EQ(+rig.store.publicConfig.speedLimit, 4321.0f);  // the records themselves stay
}

}  // namespace
}  // namespace qv
