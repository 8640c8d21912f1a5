// The main window's status bar: its texts, and what the logic tells it about logs, transfers,
// silence and a lost device.
#include <gtest/gtest.h>

#include "app/status_bar.h"
#include "app/transfer_report.h"
#include "app_rig.h"

namespace qv {
namespace {

using test::DialogRig;

std::tm at(int h, int m, int s) {
    std::tm t{};
    t.tm_hour = h;
    t.tm_min = m;
    t.tm_sec = s;
    return t;
}

// Every field distinct, so that a swap shows.
StatusFacts everything() {
    StatusFacts f;
    f.interfaceAddress = 0x0302000A;  // 10.0.2.3
    f.udpPort = 4877;
    f.busId = 0x004272656E6C6F77;
    f.portOpen = true;
    f.tcpPeer = 0x1401A8C0;  // 192.168.1.20
    f.telemetryLog = LogFacts{"/data/QVlog_2015-03-02_14-03-07.csv", 12345};
    f.logPeriodTicks = 5;
    f.rawLog = LogFacts{"canlog_2015-03-02_14-03-09.csv", 16'900'000};
    TransferOutcome o;
    o.kind = TransferKind::Upload;
    o.base = 0x400;
    o.ok = true;
    o.at = at(14, 2, 11);
    f.lastTransfer = o;
    f.lostDevice = DeviceNote{"0x420 qvm7 serial 77", at(9, 8, 7)};
    return f;
}

TEST(StatusBarText, EveryFactInItsPlace) {
    const StatusBarText t = statusBarText(everything());
    EXPECT_EQ(t.link,
              "Bridge network: interface 10.0.2.3, port 4877, bus 0x004272656E6C6F77 | "
              "Multicast joined, TCP connected to 192.168.1.20");
    EXPECT_EQ(t.logs,
              "Telemetry log: QVlog_2015-03-02_14-03-07.csv, 12.3 kB, every 1 s | "
              "Raw CAN log: canlog_2015-03-02_14-03-09.csv, 16.9 MB");
    EXPECT_EQ(t.logPaths,
              "Telemetry log: /data/QVlog_2015-03-02_14-03-07.csv\n"
              "Raw CAN log: canlog_2015-03-02_14-03-09.csv");
    EXPECT_EQ(t.activity, "Upload to 0x400 done 14:02:11 | Lost 0x420 qvm7 serial 77 at 09:08:07");
}

TEST(StatusBarText, NothingGoingOnIsSaidSo) {
    StatusFacts f;
    f.udpPort = 4876;
    const StatusBarText t = statusBarText(f);
    EXPECT_EQ(t.link,
              "Bridge network: default interface, port 4876, bus 0x0000000000000000 | "
              "CAN port not open");
    EXPECT_EQ(t.logs, "No log being written");
    EXPECT_EQ(t.activity, "No configuration transfer yet");
    f.bridgeSilentSince = at(23, 59, 58);
    f.silentDevice = DeviceNote{"0x400 qvm40 serial 5", at(1, 2, 3)};
    f.logPeriodTicks = 1;
    f.telemetryLog = LogFacts{"a.csv", 999};
    EXPECT_EQ(statusBarText(f).activity,
              "No frames from the bridge since 23:59:58 | Nothing from 0x400 qvm40 serial 5 since "
              "01:02:03");
    EXPECT_EQ(statusBarText(f).logs, "Telemetry log: a.csv, 999 B, every 0.2 s");
    f.logPeriodTicks = 50;
    f.telemetryLog->bytes = 1'250'000'000;
    EXPECT_EQ(statusBarText(f).logs, "Telemetry log: a.csv, 1.25 GB, every 10 s");
}

TEST(StatusBarText, TransferResults) {
    struct Case {
        TransferKind kind;
        std::int32_t base;
        bool ok, verified, declined;
        const char* message;
        const char* text;
    };
    const Case cases[] = {
        {TransferKind::Download, 0x400, true, false, false, "",
         "Download from 0x400 done 14:02:11"},
        {TransferKind::Upload, 0x7C0, true, true, false, "", "Upload to 0x7C0 verified 14:02:11"},
        {TransferKind::Reset, 0x020, true, false, false, "", "Reset of 0x020 sent 14:02:11"},
        {TransferKind::Download, 0x400, false, false, false,
         "Public config size\r\nmismatch\r\n\r\n",
         "Download from 0x400 failed 14:02:11: Public config size mismatch"},
        {TransferKind::Upload, -1, false, false, false, "No controller is selected.",
         "Upload failed 14:02:11: No controller is selected."},
        {TransferKind::Upload, 0x400, false, false, true, "Overwrite config?",
         "Upload to 0x400 not done 14:02:11: declined \"Overwrite config?\""},
        {TransferKind::Reset, 0x400, false, false, false, "", "Reset of 0x400 failed 14:02:11"},
    };
    for (const Case& c : cases) {
        TransferOutcome o;
        o.kind = c.kind;
        o.base = c.base;
        o.ok = c.ok;
        o.verified = c.verified;
        o.declined = c.declined;
        o.message = c.message;
        o.at = at(14, 2, 11);
        EXPECT_EQ(transferText(o), c.text);
    }
}

// The box that ended a job is kept: an error or a warning, or a question answered No or
// Cancel; information and questions answered Yes or OK are passed on and forgotten.
TEST(ReportingInteraction, KeepsTheBoxThatEndedTheJob) {
    test::ScriptedUi inner;
    ReportingInteraction reporter(inner);
    auto box = [](const char* text, MessageIcon icon, MessageButtons buttons) {
        MessageBoxRequest r;
        r.text = text;
        r.icon = icon;
        r.buttons = buttons;
        return r;
    };
    reporter.messageBox(box("Flash failed", MessageIcon::Error, MessageButtons::Ok));
    reporter.messageBox(box("newer version", MessageIcon::Information, MessageButtons::Ok));
    inner.answers = {MessageAnswer::Yes, MessageAnswer::Cancel};
    reporter.messageBox(box("Upload anyway?", MessageIcon::Question, MessageButtons::YesNo));
    EXPECT_EQ(reporter.report().message, "Flash failed");
    EXPECT_FALSE(reporter.report().declined);
    EXPECT_EQ(reporter.messageBoxWithDetails(
                  box("Overwrite config?", MessageIcon::Question, MessageButtons::OkCancel), "d"),
              MessageAnswer::Cancel);
    EXPECT_EQ(reporter.report().message, "Overwrite config?");
    EXPECT_TRUE(reporter.report().declined);
    EXPECT_EQ(inner.messages.size(), 4u);
    reporter.clear();
    EXPECT_EQ(reporter.report().message, "");
}

class StatusDialog : public ::testing::Test {
  protected:
    CQVDrvCtrlsDlg& start() {
        auto& dlg = rig.make();
        rig.announce(0x400, "KX01", 123456);
        dlg.onTimer();
        return dlg;
    }
    DialogRig rig;
};

TEST_F(StatusDialog, TheLastTransferWithItsDeviceResultAndTime) {
    auto& dlg = start();
    EXPECT_EQ(dlg.statusText().activity, "No configuration transfer yet");
    ASSERT_TRUE(dlg.startConfigurationJob({TransferDirection::Upload, kDownloadAll, 0}));
    ASSERT_TRUE(rig.deliverTransferDone());
    EXPECT_EQ(dlg.statusText().activity, "Upload to 0x400 done 14:03:07");
    rig.transfer.report.verified = true;  // the controller's configuration read back
    ASSERT_TRUE(dlg.startConfigurationJob({TransferDirection::Upload, kDownloadAll, 0}));
    ASSERT_TRUE(rig.deliverTransferDone());
    EXPECT_EQ(dlg.statusText().activity, "Upload to 0x400 verified 14:03:07");

    rig.transfer.succeed = false;
    rig.transfer.report = {"Timed out waiting for the controller", false, false};
    rig.clock.local.tm_sec = 9;
    ASSERT_TRUE(dlg.startConfigurationJob({TransferDirection::Download, kDownloadAll, 3}));
    ASSERT_TRUE(rig.deliverTransferDone());
    EXPECT_EQ(dlg.statusText().activity,
              "Download from 0x400 failed 14:03:09: Timed out waiting for the controller");
    EXPECT_EQ(rig.view.status.activity, dlg.statusText().activity);

    // A tool opened at once, without a transfer, leaves the last result as it was.
    dlg.onTransferDone(kActionOpenControls, false);
    EXPECT_EQ(dlg.statusText().activity,
              "Download from 0x400 failed 14:03:09: Timed out waiting for the controller");
}

TEST_F(StatusDialog, TheLogsWhileTheyAreWritten) {
    auto& dlg = start();
    EXPECT_EQ(dlg.statusText().logs, "No log being written");
    dlg.onCommand(kCmdUpdate1s);
    dlg.onCommand(kCmdLogStartStop);
    ASSERT_TRUE(rig.deliverTransferDone());  // the public structure, for the drive setpoints
    for (int t = 0; t < 10; ++t) dlg.onTimer();
    rig.clock.ms += 5000;  // the rows reach the disk
    dlg.onTimer();
    const std::string& logs = dlg.statusText().logs;
    EXPECT_EQ(logs.rfind("Telemetry log: QVlog_2015-03-02_14-03-07.csv, ", 0), 0u) << logs;
    EXPECT_TRUE(logs.ends_with("B, every 1 s")) << logs;
    EXPECT_EQ(dlg.statusText().logPaths,
              "Telemetry log: " + rig.dir.file("QVlog_2015-03-02_14-03-07.csv"));
    dlg.onCommand(kCmdLogStartStop);
    EXPECT_EQ(dlg.statusText().logs, "No log being written");
}

// Greyed values and the device named: a device that falls silent, then leaves the list, and a
// bridge from which nothing comes.
TEST_F(StatusDialog, SilenceAndLossGreyThePanelAndAreNamed) {
    auto& dlg = start();
    rig.frame(0x402, test::floats(48.5f, 2.0f));
    dlg.onTimer();
    const TelemetryPanel& panel = dlg.monitor().panel();
    EXPECT_FALSE(panel.cell(1000).stale);
    EXPECT_EQ(panel.cell(1000).text, "48.50 V");

    rig.clock.local.tm_sec = 20;
    // The bridge's status keeps coming, the device says nothing.
    for (int t = 0; t < Monitor::kSilentTicks; ++t) {
        rig.bridgeStatus(500);
        dlg.onTimer();
    }
    EXPECT_TRUE(panel.cell(1000).stale);
    EXPECT_EQ(panel.cell(1000).text, "48.50 V");  // the last value, greyed
    EXPECT_FALSE(panel.cell(kStatusLineCell).stale);
    EXPECT_EQ(dlg.statusText().activity, "Nothing from 0x400 qvm40 serial 123456 since 14:03:07");

    for (int t = 0; t < 24; ++t) dlg.onTimer();  // two purges
    EXPECT_FALSE(dlg.monitor().selected().selected);
    EXPECT_EQ(panel.cell(1000).text, "0 V");
    EXPECT_TRUE(panel.cell(1000).stale);
    EXPECT_EQ(dlg.statusText().activity,
              "No frames from the bridge since 14:03:20 | Lost 0x400 qvm40 serial 123456 at "
              "14:03:20");

    // It comes back: live again, and the loss is forgotten.
    rig.announce(0x400, "KX01", 123456);
    dlg.onTimer();
    EXPECT_FALSE(panel.cell(1000).stale);
    EXPECT_EQ(dlg.statusText().activity, "No configuration transfer yet");
}

}  // namespace
}  // namespace qv
