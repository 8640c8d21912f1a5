#pragma once
// A simulated bus with one controller, the program's CAN port connected to its bridge, and what
// a commissioning tool window needs around it, for the end-to-end tests of the tools.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/can_port.h"
#include "sim/object_table.h"
#include "sim/world.h"
#include "support/loopback.h"
#include "support/ports.h"
#include "support/wait.h"
#include "tools/commissioning_tool.h"
#include "tools/port_tool_link.h"

namespace qv::test {

inline constexpr std::uint32_t kToolRigBase = 0x400;

inline double nowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

inline PrivateConfig simulatorCalibration() {
    const auto stream = sim::makeConfigStream(1, kToolRigBase, 123456);
    PrivateConfig p{};
    std::memcpy(&p, stream.data() + 30, sizeof p);
    return p;
}

class UiLog : public UserInteraction {
  public:
    MessageAnswer messageBox(const MessageBoxRequest& r) override {
        boxes.push_back(r);
        return MessageAnswer::Ok;
    }
    std::optional<std::string> fileDialog(const FileDialogRequest&) override { return fileAnswer; }
    std::vector<MessageBoxRequest> boxes;
    std::optional<std::string> fileAnswer;  // what every file dialog answers
};

// What a tool window does with `port` from being shown to the end of one acquisition (its
// analysis included): shows the tool, lets the selection reach the controller, presses the
// acquire button and runs the window's pump until the tool is no longer busy (at most 15 s).
// `now` is the tool's clock; `whileWaiting` (may be empty) runs on every turn of the pump.
inline void runTool(CBcan& port, CommissioningTool& tool, const std::function<double()>& now,
                    const std::function<void()>& whileWaiting = {}) {
    tool.shown();
    for (const double end = nowMs() + 60; nowMs() < end;) {
        pumpFrames(port, tool, now());
        port.waitForFrame(0xFFFFFFFF, nullptr, 1);
    }
    if (!tool.acquire(now)) return;
    // A bound against a tool that never ends, not a timing check: the fit runs many times
    // slower under the sanitizers on a busy machine.
    const double limit = nowMs() + 60000;
    while (tool.busy() && nowMs() < limit) {
        if (whileWaiting) whileWaiting();
        pumpFrames(port, tool, now());
        // As a window's timer would: come back shortly.
        if (port.queuedPackets() == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    EXPECT_FALSE(tool.busy());
}

// The program's link for the tools, whose connect may take a while (as over a slow network).
class RigLink : public PortToolLink {
  public:
    using PortToolLink::PortToolLink;
    bool connectTcp() override {
        std::this_thread::sleep_for(std::chrono::milliseconds(connectDelayMs));
        return PortToolLink::connectTcp();
    }
    int connectDelayMs = 0;
};

// A simulated bus with one controller, the program's port connected to its bridge, a
// configuration store holding the controller's calibration, and a decoder that counts
// telemetry. The bridge forwards a TCP connection's identifiers only over it, so that the tools'
// frames take the path their connection asked for.
class Rig {
  public:
    explicit Rig(sim::CommissioningOptions commissioning) {
        sim::Options o;
        o.port = test::freePort();
        o.seed = 11;
        o.tcpForward = sim::TcpForward::kTcp;
        o.devices.push_back(sim::parseDevice("0x400:123456:KX01"));
        o.commissioning = commissioning;
        world_ = std::make_unique<sim::BackgroundWorld>(o);
        const std::uint16_t port = o.port;
        can_ = std::make_unique<CBcan>(
            [port] { return std::make_unique<CanUdpClient>(test::loopbackSettings(port)); });
        EXPECT_EQ(can_->open(), 1);
        std::uint32_t bridge = 0;
        can_->setRawLogHook([&bridge](const CanPacket& p) {
            if (p.frame.identifier() == kToolRigBase) bridge = p.sourceAddress;
        });
        EXPECT_TRUE(test::eventually([&] {
            can_->waitForFrame(0xFFFFFFFF, nullptr, 1);
            return bridge != 0;
        }));
        // The frames the tools wait for, by the path they came (none over TCP leaves its
        // source address).
        can_->setRawLogHook([this](const CanPacket& p) {
            const std::uint32_t offset = p.frame.identifier() - kToolRigBase;
            if (offset == 16 || offset == 17) ++(p.sourceAddress == 0 ? overTcp : byMulticast);
        });
        can_->setBridgeAddress(bridge);
        can_->setDecoderHook([this](std::uint32_t id, std::uint32_t, const CanFrame::Data&) {
            if (id > kToolRigBase && id <= kToolRigBase + 0x0E) ++telemetry;
        });
        link_ = std::make_unique<RigLink>(*can_, kToolRigBase);
        store.resetToDefaults();
        store.privateConfig = simulatorCalibration();
    }

    ToolContext context() {
        ToolContext c;
        c.link = link_.get();
        c.ui = &ui;
        c.store = &store;
        c.base = kToolRigBase;
        c.chooseMotor = [this] { return chosenMotor; };
        c.startUpload = [this](int action) { uploads.push_back(action); };
        return c;
    }

    // Shows the tool's window, lets the selection reach the controller, presses the acquire
    // button and runs the window's pump until the acquisition has ended. Returns the telemetry
    // frames decoded while it waited.
    int run(CommissioningTool& tool) {
        const int before = telemetry;
        runTool(
            *can_, tool, [this] { return now(); }, whileWaiting);
        return telemetry - before;
    }

    // The tool's clock: the steady clock, moved on by `clockOffsetMs` (to reach a long time-out
    // without waiting for it).
    double now() const { return nowMs() + clockOffsetMs; }
    void setConnectDelay(int ms) { link_->connectDelayMs = ms; }
    sim::BridgeCounters bridge() const { return world_->world().stats().bridge; }

    CConfigDataBank store;
    UiLog ui;
    double clockOffsetMs = 0;
    std::function<void()> whileWaiting;  // called on every turn of run()'s loop
    int chosenMotor = 5;
    std::vector<int> uploads;
    int telemetry = 0;
    int overTcp = 0;      // status and data frames that came over the TCP connection
    int byMulticast = 0;  // and by multicast

  private:
    std::unique_ptr<sim::BackgroundWorld> world_;
    std::unique_ptr<CBcan> can_;
    std::unique_ptr<RigLink> link_;
};

}  // namespace qv::test
