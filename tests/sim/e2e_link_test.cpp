// The program's link (bridge client, CAN port, qvcli) against the simulator over loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

#include "link/can_port.h"
#include "sim/world.h"
#include "support/loopback.h"
#include "support/ports.h"
#include "support/process.h"
#include "support/wait.h"

namespace qv {
namespace {

sim::Options simOptions(std::uint16_t port) {
    sim::Options o;
    o.port = port;
    o.seed = 7;
    o.devices.push_back(sim::parseDevice("0x400:123456:KX01"));
    return o;
}

class Collector : public PacketReceivedListener {
  public:
    void onPacketReceived(const CanPacket& p) override {
        std::lock_guard lock(mutex_);
        packets_.push_back(p);
    }
    int onStreamEvent(int, TransferInfo&) override { return 3; }
    bool any(const std::function<bool(const CanPacket&)>& match) {
        std::lock_guard lock(mutex_);
        for (const auto& p : packets_)
            if (match(p)) return true;
        return false;
    }

  private:
    std::mutex mutex_;
    std::vector<CanPacket> packets_;
};

TEST(EndToEnd, ClientHearsAnnouncementsTelemetryAndBridgeStatus) {
    const std::uint16_t port = test::freePort();
    sim::BackgroundWorld world(simOptions(port));
    Collector collector;
    CanUdpClient client(test::loopbackSettings(port));
    client.setListener(&collector);
    client.open();
    EXPECT_TRUE(test::eventually([&] {
        return collector.any([](const CanPacket& p) { return p.frame.identifier() == 0x400; });
    }));
    EXPECT_TRUE(test::eventually([&] {
        return collector.any([](const CanPacket& p) {
            return p.frame.identifier() == 0x401 && p.sourceAddress == net::kLoopback;
        });
    }));
    EXPECT_TRUE(test::eventually([&] {
        return collector.any([](const CanPacket& p) {
            return p.status && p.frame.data()[0] == 0x01 && p.frame.data()[1] == 0xF4;
        });
    }));
    EXPECT_EQ(client.droppedDatagrams(), 0u);
}

TEST(EndToEnd, RemoteRequestIsAnsweredAndTcpForwardsItsRange) {
    const std::uint16_t port = test::freePort();
    sim::BackgroundWorld world(simOptions(port));
    CBcan can([port] { return std::make_unique<CanUdpClient>(test::loopbackSettings(port)); });
    ASSERT_EQ(can.open(), 1);
    ASSERT_TRUE(test::eventually([&] { return can.bridgeHeard(); }));
    EXPECT_EQ(can.busBitRate(), 500000u);
    // Find the bridge from the device's announcement, as the device list does.
    std::uint32_t bridge = 0;
    can.setRawLogHook([&](const CanPacket& p) {
        if (p.frame.identifier() == 0x400) bridge = p.sourceAddress;
    });
    ASSERT_TRUE(test::eventually([&] {
        can.waitForFrame(0xFFFFFFFF, nullptr, 1);
        return bridge != 0;
    }));
    can.setBridgeAddress(bridge);
    ASSERT_EQ(can.connectTcp(0x401, 1), 1);
    // A frame queued while TCP is up travels over TCP and carries the prefix words; the bridge
    // then forwards base + 1 over the connection (source address 0). Its multicast copies are
    // dropped while the connection carries that identifier, so no frame arrives twice.
    std::set<std::uint32_t> sources;
    can.setRawLogHook([&](const CanPacket& p) {
        if (p.frame.identifier() == 0x401) sources.insert(p.sourceAddress);
    });
    ASSERT_TRUE(can.queueFrame(0x7DF, {}));
    ASSERT_TRUE(can.flush());
    EXPECT_TRUE(test::eventually([&] {
        can.waitForFrame(0xFFFFFFFF, nullptr, 1);
        return sources.count(0) == 1;
    }));
    // Once TCP has brought one, it brings them all (before, a multicast copy may have come).
    sources.clear();
    EXPECT_TRUE(test::eventually([&] {
        can.waitForFrame(0xFFFFFFFF, nullptr, 1);
        return sources.count(0) == 1;
    }));
    EXPECT_EQ(sources.count(net::kLoopback), 0u);
    can.closeTcp();
    can.waitForFrame(0xFFFFFFFF, nullptr, 1);
    sources.clear();
    EXPECT_TRUE(test::eventually([&] {
        can.waitForFrame(0xFFFFFFFF, nullptr, 1);
        return sources.count(net::kLoopback) == 1;
    }));
    EXPECT_EQ(sources.count(0), 0u);
    // A remote request for base + 5 by multicast gets the telemetry frame at once.
    ASSERT_EQ(can.sendRemoteRequest(0x405), 1);
    CanFrame::Data out{};
    EXPECT_EQ(can.waitForFrame(0x405, &out, 2000), 1);
}

TEST(EndToEnd, QvcliMonitorPrintsFramesAndStatus) {
    const std::uint16_t port = test::freePort();
    test::BackgroundProcess sim(QV_SIM_PATH, {"--port", std::to_string(port), "--seed", "3"},
                                "qvsim ready");
    ASSERT_TRUE(sim.ready());
    const auto r =
        test::runProcess(QV_CLI_PATH, {"monitor", "--interface", "127.0.0.1", "--port",
                                       std::to_string(port), "--status", "--seconds", "2.5"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    bool announce = false, status = false;
    while (std::getline(lines, line)) {
        if (line.rfind("400#", 0) == 0) announce = true;
        if (line.rfind("status ", 0) == 0) status = true;
        ASSERT_NE(line.find('#'), std::string::npos) << line;
    }
    EXPECT_TRUE(announce) << r.out;
    EXPECT_TRUE(status) << r.out;
    const auto counted = test::runProcess(
        QV_CLI_PATH,
        {"monitor", "--interface", "127.0.0.1", "--port", std::to_string(port), "--count", "3"});
    EXPECT_EQ(counted.exitCode, 0);
    EXPECT_EQ(std::count(counted.out.begin(), counted.out.end(), '\n'), 3);
}

TEST(EndToEnd, QvcliSendPutsOneFrameOnTheGroup) {
    const std::uint16_t port = test::freePort();
    Collector collector;
    CanUdpClient client(test::loopbackSettings(port));
    client.setListener(&collector);
    client.open();
    const auto r = test::runProcess(QV_CLI_PATH, {"send", "--interface", "127.0.0.1", "--port",
                                                  std::to_string(port), "12345678#DEADBEEF"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(test::eventually([&] {
        return collector.any([](const CanPacket& p) {
            return p.frame.identifier() == 0x12345678 && p.frame.extended() &&
                   p.frame.length() == 4 && p.frame.data()[0] == 0xDE;
        });
    }));
}

TEST(EndToEnd, QvcliRefusesBadUsageWithExitCodeTwo) {
    EXPECT_EQ(test::runProcess(QV_CLI_PATH, {}).exitCode, 2);
    EXPECT_EQ(test::runProcess(QV_CLI_PATH, {"frobnicate"}).exitCode, 2);
    EXPECT_EQ(test::runProcess(QV_CLI_PATH, {"send", "800#00"}).exitCode, 2);  // 11 bits
    EXPECT_EQ(test::runProcess(QV_CLI_PATH, {"send", "123#0"}).exitCode, 2);   // odd digits
    EXPECT_EQ(test::runProcess(QV_CLI_PATH, {"monitor", "--port", "x"}).exitCode, 2);
    EXPECT_EQ(test::runProcess(QV_CLI_PATH, {"read", "--object", "0x200"}).exitCode, 2);
    EXPECT_EQ(
        test::runProcess(QV_CLI_PATH, {"read", "--device", "0x401", "--object", "0x200"}).exitCode,
        2);
}

}  // namespace
}  // namespace qv
