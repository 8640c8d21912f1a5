#include "app/app_options.h"

#include <gtest/gtest.h>

#include <fstream>

#include "app_rig.h"
#include "link/net/socket.h"
#include "link/platform/settings_store.h"

namespace qv {
namespace {

TEST(AppOptions, EveryOptionAndItsErrors) {
    AppOptions o;
    EXPECT_EQ(parseAppOptions({"--interface", "127.0.0.1", "--port", "5001", "--screenshot",
                               "a.png", "--screenshot-after", "1.5", "--quit-after", "4", "--stats",
                               "s.txt", "--screenshot-window", "monitor"},
                              o),
              std::nullopt);
    EXPECT_EQ(o.interfaceAddress, net::parseIPv4("127.0.0.1"));
    EXPECT_EQ(o.port, 5001);
    EXPECT_EQ(o.screenshotPath, "a.png");
    EXPECT_DOUBLE_EQ(o.screenshotAfterSeconds, 1.5);
    EXPECT_EQ(o.quitAfterSeconds, 4.0);
    EXPECT_EQ(o.statsPath, "s.txt");
    EXPECT_EQ(o.screenshotWindow, "monitor");

    AppOptions d;
    EXPECT_EQ(parseAppOptions({}, d), std::nullopt);
    EXPECT_DOUBLE_EQ(d.screenshotAfterSeconds, 3.0);
    EXPECT_FALSE(d.quitAfterSeconds);
    EXPECT_EQ(d.screenshotWindow, "main");
    AppOptions w;
    EXPECT_EQ(parseAppOptions({"--screenshot-window", "nope"}, w),
              "invalid value for --screenshot-window: nope (one of main, telemetry, plot, monitor, "
              "configuration, controls, duvodarezir, paramextract, imextract, commission)");

    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--port", "0"},
                                                {"--port", "65536"},
                                                {"--port", "-1"},
                                                {"--interface", "256.0.0.1"},
                                                {"--quit-after", "x"},
                                                {"--quit-after", "-2"},
                                                {"--screenshot-after", "nan"},
                                                {"--screenshot"},
                                                {"--bogus"},
                                                {"extra"}}) {
        AppOptions e;
        EXPECT_TRUE(parseAppOptions(bad, e).has_value()) << bad[0];
    }
}

TEST(AppOptions, OverridesTakePrecedenceOverTheStore) {
    test::TempDir dir;
    const std::string path = dir.file("settings.ini");
    std::ofstream(path) << "[SOFTWARE\\Brenlow\\CanBridgeConfig]\nport=4999\nbusId=0x1234\n";
    const SettingsStore store(path);
    AppOptions none;
    EXPECT_EQ(bridgeSettingsFor(none, store).port, 4999);
    AppOptions o;
    ASSERT_EQ(parseAppOptions({"--port", "5050", "--interface", "127.0.0.1"}, o), std::nullopt);
    const BridgeSettings s = bridgeSettingsFor(o, store);
    EXPECT_EQ(s.port, 5050);
    EXPECT_EQ(s.busId, 0x1234u);
    EXPECT_EQ(s.interfaceAddress, *net::parseIPv4("127.0.0.1"));
    EXPECT_NE(s.mask, 0u);
}

}  // namespace
}  // namespace qv
