#include "app/menu_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv {
namespace {

// The menu bar's shape as the window builds it, item by item.
TEST(MenuModel, LayoutListsEveryMenuInOrder) {
    std::vector<std::string> seen;
    for (const MenuEntry& e : mainMenuLayout())
        seen.push_back(std::to_string(e.level) + ":" + e.text + ":" + std::to_string(e.id));
    const std::vector<std::string> expected = {"0:&File:0",
                                               "1:Re-Connect to Bridge:32802",
                                               "1:Load Factory File...:32799",
                                               "1:Exit:2",
                                               "0:&Tools:0",
                                               "1:Controls:32771",
                                               "1:Configuration...:32772",
                                               "1:DuvodaRezir:32773",
                                               "1:ParamExtract:32774",
                                               "1:ImExtract:32798",
                                               "1:Telemetry:32797",
                                               "1:Reset Controller:32800",
                                               "0:&Log:0",
                                               "1:Start...:32775",
                                               "1:&Update:0",
                                               "2:0.2s:32791",
                                               "2:1s:32792",
                                               "2:10s:32793",
                                               "0:&ELog:0",
                                               "1:View Log:32787",
                                               "1:Erase Log:32786",
                                               "0:&Help:0",
                                               "1:About:16"};
    EXPECT_EQ(seen, expected);
}

TEST(MenuModel, ToolMenusGreyTogetherButConfigurationAndARunningLogStay) {
    MenuModel m;
    EXPECT_TRUE(m.item(kCmdUpdate02s).checked);
    EXPECT_FALSE(m.item(kCmdViewLog).enabled);
    EXPECT_FALSE(m.item(kCmdEraseLog).enabled);

    m.setLogging(true, true);
    m.enableToolMenus(false, true);
    for (int id : {kCmdControls, kCmdDuvodaRezir, kCmdParamExtract, kCmdImExtract, kCmdTelemetry,
                   kCmdResetController, kCmdLoadFactoryFile})
        EXPECT_FALSE(m.item(id).enabled) << id;
    EXPECT_TRUE(m.item(kCmdConfiguration).enabled);
    EXPECT_TRUE(m.item(kCmdLogStartStop).enabled);
    EXPECT_EQ(m.item(kCmdLogStartStop).text, "Stop");

    // Stopping with no device selected greys Start... at once.
    m.setLogging(false, false);
    EXPECT_EQ(m.item(kCmdLogStartStop).text, "Start...");
    EXPECT_FALSE(m.item(kCmdLogStartStop).enabled);
    m.enableToolMenus(true, false);
    EXPECT_TRUE(m.item(kCmdLogStartStop).enabled);
    EXPECT_FALSE(m.item(kCmdViewLog).enabled);
}

TEST(MenuModel, OneLogPeriodChecked) {
    MenuModel m;
    const unsigned before = m.revision();
    m.checkLogPeriod(kCmdUpdate10s);
    EXPECT_FALSE(m.item(kCmdUpdate02s).checked);
    EXPECT_FALSE(m.item(kCmdUpdate1s).checked);
    EXPECT_TRUE(m.item(kCmdUpdate10s).checked);
    EXPECT_NE(m.revision(), before);
    EXPECT_EQ(logPeriodTicksOf(kCmdUpdate02s), 1);
    EXPECT_EQ(logPeriodTicksOf(kCmdUpdate1s), 5);
    EXPECT_EQ(logPeriodTicksOf(kCmdUpdate10s), 50);
    EXPECT_EQ(logPeriodTicksOf(kCmdControls), 0);
}

}  // namespace
}  // namespace qv
