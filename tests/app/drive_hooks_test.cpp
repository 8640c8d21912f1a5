// The tick's drive hooks on the drive controls' classes, through the real tick.
#include "app/drive_hooks.h"

#include <gtest/gtest.h>

#include "app_rig.h"

namespace qv {
namespace {

TEST(DriveCommandHooks, TheTickSendsTheDriveCommandOnlyWhileTheControlsAreLive) {
    test::DialogRig rig;
    test::ScriptedUi controlsUi;
    std::vector<CanFrame> windowFrames;
    CControls controls(
        controlsUi, [&](const CanFrame& f) { windowFrames.push_back(f); }, "qvConfig");
    DriveCommandHooks hooks(controls, rig.port);
    test::DialogRig::DriveOverride use(rig, hooks);
    auto& dlg = rig.make();
    rig.announce(0x400, "KX01", 111);
    dlg.onTimer();
    rig.store.setValid(StructureKind::Public, true);
    rig.store.publicConfig.driverControlsBaseAddress = 0x500;
    rig.tool(Tool::Controls).visible = rig.tool(Tool::Controls).enabled = true;

    ASSERT_TRUE(controls.show({DriveTarget{0x400, 111, 0x0100007F, 0x4002}, 3000.0f, 0x500, 1}));
    dlg.onTimer();  // shown but not checked yet: nothing
    EXPECT_TRUE(rig.sent().empty());
    for (int t = 0; t < 6; ++t) dlg.onTimer();  // the periodic check makes the controls live
    EXPECT_EQ(windowFrames.size(), 2u);         // take-over notice and bus-current command
    ASSERT_TRUE(controls.live());
    const auto sent = rig.sent();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().identifier(), 0x501u);
    EXPECT_FALSE(sent.back().remote());

    // Re-connect stops the drive: the window closes and nothing more goes out.
    dlg.onCommand(kCmdReconnect);
    EXPECT_FALSE(controls.visible());
    const std::size_t before = rig.sent().size();
    rig.tool(Tool::Controls).visible = true;
    for (int t = 0; t < 3; ++t) dlg.onTimer();
    EXPECT_EQ(rig.sent().size(), before);
}

}  // namespace
}  // namespace qv
