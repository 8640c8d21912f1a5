// qvconfig against the simulator over loopback: in process (the real windows and the real
// bridge client, clicked with Qt Test), and the program itself on the offscreen platform.
#include <gtest/gtest.h>

#include <QListWidget>
#include <cstdlib>
#include <fstream>

#include "link/platform/settings_store.h"
#include "sim/probe.h"
#include "sim/world.h"
#include "support/loopback.h"
#include "support/ports.h"
#include "support/process.h"
#include "ui_rig.h"

namespace qv {
namespace {

sim::Options twoControllersAndACharger(std::uint16_t port) {
    sim::Options o;
    o.port = port;
    o.seed = 3;
    o.devices.push_back(sim::parseDevice("0x400:123456:KX01"));
    o.devices.push_back(sim::parseDevice("0x200:654321:KX02"));
    o.devices.push_back(sim::parseDevice("0x600:777:0x4000"));
    return o;
}

TEST(EndToEndUi, DevicesListedLiveTelemetryAndARemoteRequestReachesTheSimulator) {
    const std::uint16_t port = test::freePort();
    sim::BackgroundWorld world(twoControllersAndACharger(port));
    test::UiRig rig(test::loopbackSettings(port));
    QListWidget* list = rig.window->deviceList();
    ASSERT_TRUE(rig.waitUntil([&] { return list->count() == 3; }));
    EXPECT_EQ(list->item(0)->text(), "0x200   qvm7   0654321");
    EXPECT_EQ(list->item(1)->text(), "0x400   qvm40  0123456");
    EXPECT_EQ(list->item(2)->text(), "0x600   ecISO  0000777");
    EXPECT_EQ(list->currentRow(), 1);  // the first one heard
    EXPECT_EQ(rig.logic().monitor().selected().base, 0x400);

    // Within a second the cells show the simulator's values (bus near 96 V).
    ASSERT_TRUE(rig.waitUntil(
        [&] {
            const QString t = rig.cell(1000)->text();
            return t.endsWith(" V") && t != "0 V" && t.left(t.size() - 2).toDouble() > 80;
        },
        1000));
    EXPECT_TRUE(rig.waitUntil(
        [&] {
            return rig.cell(1018)->text() != QString::fromUtf8(
                                                 "0 \xC2\xB0"
                                                 "C");
        },
        1000));
    EXPECT_TRUE(
        rig.cell(1202)->text().startsWith("CAN BUS loading is ") ||
        rig.waitUntil([&] { return rig.cell(1202)->text().startsWith("CAN BUS loading"); }, 2000));

    sim::Probe probe(port, kDefaultBusId, 0x5EED);
    const std::uint64_t before = world.world().stats().bridge.framesFromClients;
    QTest::mouseClick(rig.cell(1006), Qt::LeftButton);
    const auto request = probe.waitFor(
        [](const CanPacket& p) { return p.frame.remote() && p.frame.identifier() == 0x403; }, 2000);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->frame.length(), 8);
    EXPECT_TRUE(test::eventually(
        [&] { return world.world().stats().bridge.framesFromClients == before + 1; }));
}

#ifdef QV_CONFIG_PATH
// The program as a newcomer runs it: offscreen, a screenshot, then the normal shutdown.
TEST(EndToEndProgram, ScreenshotAndQuitAfterOnTheOffscreenPlatform) {
    const std::uint16_t port = test::freePort();
    sim::BackgroundWorld world(twoControllersAndACharger(port));
    test::TempDir dir;
    const std::string settings = dir.file("settings.ini");
    const std::string shot = dir.file("main.png");
    setenv("QV_SETTINGS_FILE", settings.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const test::ProcessResult r =
        test::runProcess(QV_CONFIG_PATH,
                         {"--interface", "127.0.0.1", "--port", std::to_string(port),
                          "--screenshot", shot, "--screenshot-after", "1.5", "--quit-after", "2"},
                         20000);
    unsetenv("QV_SETTINGS_FILE");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("screenshot of the main window saved to " + shot), std::string::npos)
        << r.out;
    std::ifstream png(shot, std::ios::binary);
    char magic[8] = {};
    png.read(magic, 8);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");
    // Shut down by the normal path: the positions were written.
    EXPECT_EQ(SettingsStore(settings).value(kWindowPositionsKey, "MainDlg(X)"), "10");

    const test::ProcessResult bad = test::runProcess(QV_CONFIG_PATH, {"--port", "0"}, 10000);
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("invalid value for --port"), std::string::npos);
}
#endif

}  // namespace
}  // namespace qv
