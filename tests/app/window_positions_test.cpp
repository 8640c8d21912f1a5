#include "app/window_positions.h"

#include <gtest/gtest.h>

#include <fstream>

#include "app_rig.h"
#include "link/platform/settings_store.h"

namespace qv {
namespace {

constexpr WorkArea kScreen{0, 0, 1920, 1040};

// Given stored pairs that differ in every window
SettingsStore storeWithDistinctPositions(const test::TempDir& dir) {
    SettingsStore s(dir.file("settings.ini"));
    for (std::size_t i = 0; i < kPlacedWindowCount; ++i) {
        const std::string stem = positionValueStem(static_cast<PlacedWindow>(i));
        s.setValue(kWindowPositionsKey, stem + "(X)", std::to_string(100 + 10 * i));
        s.setValue(kWindowPositionsKey, stem + "(Y)", std::to_string(200 + 10 * i));
    }
    return s;
}

TEST(WindowPositions, MissingKeyGivesTheDefaults) {
    test::TempDir dir;
    const WindowPositions p = restoreWindowPositions(SettingsStore(dir.file("none.ini")), kScreen);
    EXPECT_EQ(p[0], (ScreenPoint{10, 10}));
    for (std::size_t i = 1; i < kPlacedWindowCount; ++i) EXPECT_EQ(p[i], (ScreenPoint{250, 10}));
}

TEST(WindowPositions, StoredPairsAreTakenInTheirOrder) {
    test::TempDir dir;
    const WindowPositions p = restoreWindowPositions(storeWithDistinctPositions(dir), kScreen);
    for (std::size_t i = 0; i < kPlacedWindowCount; ++i)
        EXPECT_EQ(p[i],
                  (ScreenPoint{static_cast<int>(100 + 10 * i), static_cast<int>(200 + 10 * i)}))
            << positionValueStem(static_cast<PlacedWindow>(i));
    EXPECT_STREQ(positionValueStem(PlacedWindow::Controls), "CtrlDlg");
    EXPECT_STREQ(positionValueStem(PlacedWindow::DuvodaRezir), "PhSenseDlg");
    EXPECT_STREQ(positionValueStem(PlacedWindow::Telemetry), "TelemDlg");
}

// One bad pair puts that window at its default; the others keep their stored place.
TEST(WindowPositions, BadPairsFallBackOneByOne) {
    test::TempDir dir;
    SettingsStore s = storeWithDistinctPositions(dir);
    s.setValue(kWindowPositionsKey, "MainDlg(X)", "-5");  // off the left edge
    s.setValue(kWindowPositionsKey, "MainDlg(Y)", "10");
    s.setValue(kWindowPositionsKey, "CtrlDlg(X)", "1920");             // equal to the width
    s.setValue(kWindowPositionsKey, "CfgDlg(Y)", "\"120\"");           // not a number
    s.setValue(kWindowPositionsKey, "PmExtractDlg(Y)", "1040");        // equal to the height
    s.setValue(kWindowPositionsKey, "ImExtractDlg(X)", "4294967291");  // -5 as a 32-bit value
    s.setValue(kWindowPositionsKey, "TelemDlg(X)", "99999999999");     // beyond 32 bits
    const WindowPositions p = restoreWindowPositions(s, kScreen);
    EXPECT_EQ(p[0], (ScreenPoint{10, 10}));
    EXPECT_EQ(p[1], (ScreenPoint{250, 10}));
    EXPECT_EQ(p[2], (ScreenPoint{250, 10}));
    EXPECT_EQ(p[3], (ScreenPoint{130, 230}));
    EXPECT_EQ(p[4], (ScreenPoint{250, 10}));
    EXPECT_EQ(p[5], (ScreenPoint{250, 10}));
    EXPECT_EQ(p[6], (ScreenPoint{250, 10}));
}

TEST(WindowPositions, LastPixelInsideIsTakenAndAMissingHalfIsNot) {
    test::TempDir dir;
    SettingsStore s(dir.file("settings.ini"));
    s.setValue(kWindowPositionsKey, "MainDlg(X)", "1919");
    s.setValue(kWindowPositionsKey, "MainDlg(Y)", "0x40F");  // 1039
    s.setValue(kWindowPositionsKey, "CtrlDlg(X)", "300");    // no Y
    const WindowPositions p = restoreWindowPositions(s, kScreen);
    EXPECT_EQ(p[0], (ScreenPoint{1919, 1039}));
    EXPECT_EQ(p[1], (ScreenPoint{250, 10}));
}

// A size comes back when both halves are numbers from 1 to the work area's extent.
TEST(WindowPositions, SizesAreCheckedAgainstTheWorkArea) {
    test::TempDir dir;
    const std::string path = dir.file("settings.ini");
    ASSERT_TRUE(saveWindowPlaces(path, {{"PlotDlg", {{30, 40}, WindowSize{1920, 1040}}},
                                        {"BusMonDlg", {{50, 60}, std::nullopt}}}));
    SettingsStore s(path);
    EXPECT_EQ(restoreWindowPlace(s, "PlotDlg", {1, 2}, kScreen),
              (WindowPlace{{30, 40}, WindowSize{1920, 1040}}));
    EXPECT_EQ(restoreWindowPlace(s, "BusMonDlg", {1, 2}, kScreen), (WindowPlace{{50, 60}, {}}));
    EXPECT_FALSE(s.value(kWindowPositionsKey, "BusMonDlg(W)"));
    for (const auto& [w, h] :
         {std::pair{"1921", "10"}, std::pair{"0", "10"}, std::pair{"10", "1041"},
          std::pair{"10", "-3"}, std::pair{"10", "x"}}) {
        s.setValue(kWindowPositionsKey, "PlotDlg(W)", w);
        s.setValue(kWindowPositionsKey, "PlotDlg(H)", h);
        EXPECT_EQ(restoreWindowPlace(s, "PlotDlg", {1, 2}, kScreen).size, std::nullopt) << w << h;
    }
}

// Saving keeps the bridge settings of the same file, and a negative X does not come back.
TEST(WindowPositions, SaveKeepsOtherKeysAndRoundTrips) {
    test::TempDir dir;
    const std::string path = dir.file("settings.ini");
    {
        std::ofstream out(path);
        out << "[SOFTWARE\\Brenlow\\CanBridgeConfig]\nport=5000\n";
    }
    WindowPositions p = defaultPositions();
    p[0] = {-5, 40};
    p[6] = {700, 33};
    ASSERT_TRUE(saveWindowPositions(path, p));
    const SettingsStore back(path);
    EXPECT_EQ(back.readUint32(kBridgeSettingsKey, "port"), 5000u);
    EXPECT_EQ(back.value(kWindowPositionsKey, "MainDlg(X)"), "4294967291");
    const WindowPositions q = restoreWindowPositions(back, kScreen);
    EXPECT_EQ(q[0], (ScreenPoint{10, 10}));
    EXPECT_EQ(q[6], (ScreenPoint{700, 33}));
}

}  // namespace
}  // namespace qv
