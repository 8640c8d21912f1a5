// Opening the Controls window (WM_TRANSFER_DONE action 1) and a message box shown inside the
// tick.
#include <gtest/gtest.h>

#include "app/drive_hooks.h"
#include "app_rig.h"

namespace qv {
namespace {

class ShowRecorder : public test::RecordingDrive {
  public:
    bool showControls(const ControlsShowRequest& r) override {
        requests.push_back(r);
        return accept;
    }
    std::vector<ControlsShowRequest> requests;
    bool accept = true;
};

struct OpenRig {
    OpenRig() : use(rig, drive) {
        rig.make();
        rig.announce(0x440, "KX02", 765432);
        rig.dialog->onTimer();
        rig.store.setValid(StructureKind::Public, true);
        rig.store.publicConfig.speedLimit = 4321.0f;
        rig.store.publicConfig.driverControlsBaseAddress = 0x560;
    }
    test::DialogRig rig;
    ShowRecorder drive;
    test::DialogRig::DriveOverride use;
};

TEST(ControlsOpen, TheControlsGetTheSelectedDeviceAndThePublicRecord) {
    OpenRig o;
    o.rig.dialog->onCommand(kCmdControls);
    ASSERT_EQ(o.drive.requests.size(), 1u);
    const ControlsShowRequest& r = o.drive.requests[0];
    EXPECT_EQ(r.device, (DriveTarget{0x440, 765432, 0x0100007F, 0x4003}));
    EXPECT_EQ(r.speedLimit, 4321.0f);
    EXPECT_EQ(r.driverControlsBase, 0x560u);
    EXPECT_EQ(r.connection, 1u);
    EXPECT_TRUE(o.rig.tool(Tool::Controls).visible);
    EXPECT_TRUE(o.rig.tool(Tool::Controls).enabled);

    // A later connection is told apart.
    o.rig.dialog->onCommand(kCmdReconnect);
    o.rig.announce(0x440, "KX02", 765432);
    o.rig.dialog->onTimer();
    o.rig.store.setValid(StructureKind::Public, true);
    o.rig.dialog->onCommand(kCmdControls);
    ASSERT_EQ(o.drive.requests.size(), 2u);
    EXPECT_EQ(o.drive.requests[1].connection, 2u);
}

TEST(ControlsOpen, RefusedControlsLeaveTheWindowHiddenAndTheCheckAsItWas) {
    OpenRig o;
    o.drive.accept = false;
    o.rig.frame(0x561, test::floats(0.0f, 0.0f));  // another node's drive command
    for (int t = 0; t < 2; ++t) o.rig.dialog->onTimer();
    ASSERT_TRUE(o.rig.dialog->monitor().otherDriverControlsSeen());
    const int countdown = o.rig.dialog->slowCountdown();
    o.rig.dialog->onCommand(kCmdControls);
    EXPECT_EQ(o.drive.requests.size(), 1u);
    EXPECT_FALSE(o.rig.tool(Tool::Controls).visible);
    EXPECT_FALSE(o.rig.tool(Tool::Controls).enabled);
    EXPECT_EQ(o.rig.dialog->slowCountdown(), countdown);
    EXPECT_TRUE(o.rig.dialog->monitor().otherDriverControlsSeen());
}

// Choosing Tools > Controls again while the window is open must neither postpone its check nor
// forget another driver-controls node it has just heard.
TEST(ControlsOpen, OpeningAnOpenWindowChangesNothing) {
    OpenRig o;
    o.rig.dialog->onCommand(kCmdControls);
    for (int t = 0; t < 3; ++t) o.rig.dialog->onTimer();
    o.rig.frame(0x562, test::floats(0.0f, 1.0f));
    o.rig.dialog->onTimer();
    ASSERT_TRUE(o.rig.dialog->monitor().otherDriverControlsSeen());
    const int countdown = o.rig.dialog->slowCountdown();
    o.rig.dialog->onCommand(kCmdControls);
    EXPECT_EQ(o.drive.requests.size(), 1u);
    EXPECT_EQ(o.rig.dialog->slowCountdown(), countdown);
    EXPECT_TRUE(o.rig.dialog->monitor().otherDriverControlsSeen());
}

// An upload or a reset changes or restarts the controller being driven: the drive stops first.
// A download does not touch it.
TEST(ControlsOpen, AResetStopsTheDriveADownloadDoesNot) {
    OpenRig o;
    o.rig.store.setValid(StructureKind::Public, false);
    o.drive.events.clear();
    o.rig.dialog->onCommand(kCmdControls);  // downloads first
    ASSERT_TRUE(o.rig.deliverTransferDone());
    EXPECT_TRUE(o.rig.tool(Tool::Controls).visible);
    EXPECT_EQ(o.drive.events, std::vector<std::string>{});
    o.rig.ui.answers = {MessageAnswer::Yes};  // to "Reset the controller ...?"
    o.rig.dialog->onCommand(kCmdResetController);
    EXPECT_EQ(o.drive.events, std::vector<std::string>{"stop"});
    ASSERT_TRUE(o.rig.deliverTransferDone());
    EXPECT_EQ(o.rig.transfer.takeCalls(), (std::vector<std::string>{"download 1", "reset"}));
}

// The check's message box runs the event loop, which fires the timer: those ticks are skipped,
// not run inside the one that shows the box.
TEST(ControlsOpen, TicksDuringAMessageBoxOfTheTickAreSkipped) {
    test::DialogRig rig;
    struct TickingUi : test::ScriptedUi {
        MessageAnswer messageBox(const MessageBoxRequest& r) override {
            if (during) during();
            return ScriptedUi::messageBox(r);
        }
        std::function<void()> during;
    } controlsUi;
    CControls controls(
        controlsUi, [](const CanFrame&) {}, kAppCaption);
    DriveCommandHooks hooks(controls, rig.port);
    test::DialogRig::DriveOverride use(rig, hooks);
    auto& dlg = rig.make();
    rig.announce(0x440, "KX01", 9);
    dlg.onTimer();
    rig.store.setValid(StructureKind::Public, true);
    rig.store.publicConfig.driverControlsBaseAddress = 0x500;
    dlg.onCommand(kCmdControls);
    for (int t = 0; t < 6; ++t) dlg.onTimer();
    ASSERT_TRUE(controls.live());

    int nested = 0;
    int purgeDuring = -1;
    controlsUi.during = [&] {
        const int purge = dlg.purgeCountdown();
        for (; nested < 3; ++nested) dlg.onTimer();
        purgeDuring = dlg.purgeCountdown() - purge;
    };
    rig.frame(0x501, test::floats(0.0f, 0.0f));
    for (int t = 0; t < 6 && controls.visible(); ++t) dlg.onTimer();
    EXPECT_FALSE(controls.visible());
    EXPECT_EQ(nested, 3);
    EXPECT_EQ(purgeDuring, 0);
    EXPECT_EQ(controlsUi.takeMessages(), std::vector<std::string>{kOtherSourceMessage});
    const int purge = dlg.purgeCountdown();
    dlg.onTimer();  // the next tick after the box runs again
    EXPECT_EQ(dlg.purgeCountdown(), purge - 1);
}

}  // namespace
}  // namespace qv
