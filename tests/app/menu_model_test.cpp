#include "app/menu_model.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(MenuModel, ToolMenusGreyTogetherButConfigurationAndARunningLogStay) {
    MenuModel m;
    EXPECT_TRUE(m.item(kCmdUpdate02s).checked);
    EXPECT_FALSE(m.item(kCmdViewLog).enabled);
    EXPECT_FALSE(m.item(kCmdEraseLog).enabled);

    m.setLogging(true, true);
    m.enableToolMenus(false, true);
    for (int id : {kCmdControls, kCmdDuvodaRezir, kCmdParamExtract, kCmdImExtract, kCmdTelemetry,
                   kCmdResetController, kCmdLoadFactoryFile, kCmdCommissioningAssistant})
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
