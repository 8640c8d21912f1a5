// The monitoring core on a real CAN port against the simulator: discovery, selection,
// charger telemetry, devices that leave, the bus load and a remote request that arrives.
#include <gtest/gtest.h>

#include "config/config_data_bank.h"
#include "link/can_port.h"
#include "monitor/monitor.h"
#include "sim/world.h"
#include "support/loopback.h"
#include "support/ports.h"
#include "support/wait.h"

namespace qv {
namespace {

// A CAN port whose queue drains into a Monitor, as the window's tick does.
class Watcher {
  public:
    explicit Watcher(std::uint16_t port)
        : port_([port] { return std::make_unique<CanUdpClient>(test::loopbackSettings(port)); }) {
        port_.setDecoderHook(
            [this](std::uint32_t id, std::uint32_t source, const CanFrame::Data& d) {
                monitor.handleFrame(id, source, d);
            });
        EXPECT_EQ(port_.open(), 1);
    }
    ~Watcher() { port_.close(); }
    // Drains until `condition` holds (at most 5 s).
    bool until(const std::function<bool()>& condition) {
        return test::eventually([&] {
            port_.waitForFrame(0xFFFFFFFFu, nullptr, 5);
            result.mergeFrom(monitor.takeDeviceResult());
            monitor.refreshPanel();
            return condition();
        });
    }
    CBcan& port() { return port_; }

    CConfigDataBank store;
    Monitor monitor{store};
    DeviceListResult result;

  private:
    CBcan port_;
};

sim::Options options(std::uint16_t port) {
    sim::Options o;
    o.port = port;
    o.devices = {sim::parseDevice("0x400:1:KX01"), sim::parseDevice("0x080:2:0x4001"),
                 sim::parseDevice("0x200:3:0x4000")};
    return o;
}

TEST(MonitorEndToEnd, DevicesAreListedInOrderAndTheFirstHeardIsSelected) {
    const std::uint16_t port = test::freePort();
    Watcher w(port);  // listening before the simulator speaks
    sim::BackgroundWorld world(options(port));
    ASSERT_TRUE(w.until([&] { return w.monitor.devices().entries().size() == 3; }));
    const auto rows = w.monitor.devices().rows();
    EXPECT_EQ(rows[0], "0x080   ecGT   0000002");
    EXPECT_EQ(rows[1], "0x200   ecISO  0000003");
    EXPECT_EQ(rows[2], "0x400   qvm40  0000001");
    // All three announce in the same pass; the first one on the bus is selected.
    EXPECT_EQ(w.monitor.selected().base, 0x400);
    EXPECT_EQ(w.monitor.selected().bridgeAddress, net::kLoopback);
    EXPECT_TRUE(w.result.configureStream);
    EXPECT_EQ(w.result.streamControlId, 0x412u);
    ASSERT_TRUE(w.until([&] { return w.monitor.panel().cell(1000).text != "0 V"; }));
}

TEST(MonitorEndToEnd, GridTieChargerInChargerMode) {
    const std::uint16_t port = test::freePort();
    sim::BackgroundWorld world(options(port));
    Watcher w(port);
    ASSERT_TRUE(w.until([&] { return w.monitor.devices().entries().size() == 3; }));
    w.monitor.selectRow(0);
    ASSERT_TRUE(w.until([&] { return w.monitor.panel().cell(1001).text == "TRUE"; }));
    EXPECT_TRUE(w.monitor.chargerMode());
    EXPECT_EQ(w.monitor.panel().caption(1211), "Grid Frequency");
    ASSERT_TRUE(w.until([&] { return w.monitor.panel().cell(1006).text.starts_with("50."); }));
}

TEST(MonitorEndToEnd, WithdrawnDeviceLeavesAtOnceAndASilentOneAtThePurge) {
    const std::uint16_t port = test::freePort();
    sim::BackgroundWorld world(options(port));
    Watcher w(port);
    ASSERT_TRUE(w.until([&] { return w.monitor.devices().entries().size() == 3; }));
    ASSERT_TRUE(w.monitor.selected().selected);
    const std::int32_t selected = w.monitor.selected().base;
    char command[32];
    std::snprintf(command, sizeof command, "withdraw 0x%X", static_cast<unsigned>(selected));
    world.world().post(command);
    w.result = {};
    ASSERT_TRUE(w.until([&] { return w.monitor.devices().entries().size() == 2; }));
    EXPECT_FALSE(w.monitor.selected().selected);
    EXPECT_TRUE(w.result.hideAllTools);
    EXPECT_FALSE(w.result.toolMenusEnabled);

    // One of the two others falls silent; the other keeps announcing. Purges after each
    // announcement of the talking one drop the silent one within two or three of them.
    const std::uint32_t quiet = w.monitor.devices().entries()[0].baseAddress;
    const std::uint32_t talking = w.monitor.devices().entries()[1].baseAddress;
    std::snprintf(command, sizeof command, "silence 0x%X", static_cast<unsigned>(quiet));
    world.world().post(command);
    auto seen = [&](std::uint32_t base) {
        for (const DeviceEntry& e : w.monitor.devices().entries())
            if (e.baseAddress == base) return e.seen == 1;
        return false;
    };
    for (int purge = 0; purge < 4 && w.monitor.devices().entries().size() > 1; ++purge) {
        ASSERT_TRUE(w.until([&] { return seen(talking); }));
        w.monitor.purgeDeviceList();
    }
    ASSERT_EQ(w.monitor.devices().entries().size(), 1u);
    EXPECT_EQ(w.monitor.devices().entries()[0].baseAddress, talking);
}

TEST(MonitorEndToEnd, BusLoadAndRemoteRequest) {
    const std::uint16_t port = test::freePort();
    sim::Options o = options(port);
    o.loadFps = 500;
    sim::BackgroundWorld world(o);
    Watcher w(port);
    ASSERT_TRUE(w.until([&] { return w.monitor.selected().selected && w.port().bridgeHeard(); }));
    EXPECT_EQ(w.port().busBitRate(), 500000u);
    // Five ticks of 200 ms, counting from now.
    w.port().takeReceivedFrameCount();
    for (int i = 0; i < 5; ++i) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        while (std::chrono::steady_clock::now() < end)
            w.port().waitForFrame(0xFFFFFFFFu, nullptr, 5);
        w.monitor.updateBusLoad(w.port().takeReceivedFrameCount(), w.port().bridgeHeard(),
                                w.port().busBitRate());
    }
    w.monitor.refreshPanel();
    const std::string& status = w.monitor.panel().cell(kStatusLineCell).text;
    ASSERT_TRUE(status.starts_with("CAN BUS loading is ")) << status;
    // About 500 + 240 frames/s at 120 bits against 500 kbit/s: about 18 %.
    const double load = std::stod(status.substr(19));
    EXPECT_GT(load, 12.0);
    EXPECT_LT(load, 25.0);
    EXPECT_EQ(w.monitor.panel().cell(kStatusBoxCell).background, kLoadGreen);

    // A click on the slip speed cell asks for base + 0x17; the controller answers at once.
    w.monitor.takeDeviceResult();
    const auto id = w.monitor.remoteRequestFor(1032);
    ASSERT_EQ(id, 0x417u);
    EXPECT_EQ(w.port().sendRemoteRequest(*id), 1);
    CanFrame::Data answer{};
    EXPECT_EQ(w.port().waitForFrame(0x417, &answer, 150), 1);
}

}  // namespace
}  // namespace qv
