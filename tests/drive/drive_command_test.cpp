// The drive command: sent only while the controls are live, stopped by every stop condition,
// never with a stale or non-finite setpoint.
#include "drive/drive_command.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <string>
#include <vector>

#include "drive/drive_frames.h"
#include "link/can_port.h"
#include "scripted_ui.h"
#include "support/loopback.h"
#include "support/ports.h"

namespace qv {
namespace {

ControlsShowRequest request() {
    ControlsShowRequest r;
    r.device = {0x460, 4242, 0x0100007F, 0x4003};
    r.speedLimit = 4000.0f;
    r.driverControlsBase = 0x540;
    r.connection = 3;
    return r;
}

DriveContext context() {
    DriveContext c;
    c.portOpen = true;
    c.connection = 3;
    c.selectedDevice = request().device;
    c.publicConfigValid = true;
    return c;
}

struct Rig {
    test::ScriptedUi ui;
    std::vector<CanFrame> sent;
    CControls controls{ui, [this](const CanFrame& f) { sent.push_back(f); }, "qvConfig"};
    DriveCommand drive{controls};

    void driveAt(int velocity, int current) {
        ASSERT_TRUE(controls.show(request()));
        controls.periodicCheck(true);
        controls.moveSlider(ControlsSlider::Velocity, velocity);
        controls.moveSlider(ControlsSlider::MotorCurrent, current);
        const auto frame = drive.onTick(context());
        ASSERT_TRUE(frame);
        ASSERT_NE(lowFloat(*frame), 0.0f);
    }
};

TEST(DriveCommand, EveryStopConditionStopsAtOnceAndZeroesTheSetpoints) {
    struct Case {
        std::string name;
        void (*change)(DriveContext&);
    };
    const Case cases[] = {
        {"device lost", [](DriveContext& c) { c.selectedDevice.reset(); }},
        {"other device", [](DriveContext& c) { c.selectedDevice->serial += 1; }},
        {"other base", [](DriveContext& c) { c.selectedDevice->base = 0x480; }},
        {"other bridge", [](DriveContext& c) { c.selectedDevice->bridgeAddress += 1; }},
        {"re-connect", [](DriveContext& c) { c.connection += 1; }},
        {"port closed", [](DriveContext& c) { c.portOpen = false; }},
        {"configuration cleared", [](DriveContext& c) { c.publicConfigValid = false; }},
        {"stop() for a hidden window or anything else", nullptr},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.driveAt(300, 400);
        DriveContext changed = context();
        if (c.change)
            c.change(changed);
        else
            rig.drive.stop();
        EXPECT_FALSE(rig.drive.onTick(changed)) << c.name;
        EXPECT_FALSE(rig.controls.visible()) << c.name;
        EXPECT_EQ(rig.controls.setpoints(), (DriveSetpoints{})) << c.name;
        // Even with everything as before, nothing is sent until a new show and check.
        EXPECT_FALSE(rig.drive.onTick(context())) << c.name;
        ASSERT_TRUE(rig.controls.show(request()));
        EXPECT_FALSE(rig.drive.onTick(context())) << c.name;
        rig.controls.periodicCheck(true);
        const auto frame = rig.drive.onTick(context());
        ASSERT_TRUE(frame) << c.name;
        EXPECT_EQ(frame->data64(), 0u) << c.name;  // zero setpoints, not the old ones
    }
}

TEST(DriveCommand, AnotherSourceStopsTheFramesUntilTheCheckCloses) {
    Rig rig;
    rig.driveAt(100, 100);
    DriveContext seen = context();
    seen.otherSourceSeen = true;
    EXPECT_FALSE(rig.drive.onTick(seen));
    // The flag is the main window's; even a tick that no longer reports it sends nothing.
    EXPECT_FALSE(rig.drive.onTick(context()));
    EXPECT_TRUE(rig.controls.visible());
    rig.controls.periodicCheck(true);  // held: this check closes with the message all the same
    EXPECT_FALSE(rig.controls.visible());
    EXPECT_EQ(rig.ui.boxes.size(), 1u);
}

TEST(DriveCommand, FramesNeverCarryNonFiniteValuesOrExtendedIdentifiers) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_FALSE(floatPairFrame(0x501, nan, 0.5f));
    EXPECT_FALSE(floatPairFrame(0x501, 100.0f, nan));
    EXPECT_FALSE(floatPairFrame(0x501, -inf, 0.5f));
    EXPECT_FALSE(floatPairFrame(0x501, 100.0f, inf));
    EXPECT_FALSE(floatPairFrame(0x800, 100.0f, 0.5f));
    const auto frame = floatPairFrame(0x7FF, -2500.0f, 0.25f);
    ASSERT_TRUE(frame);
    // Little-endian IEEE-754 singles: -2500.0 = 0xC51C4000, 0.25 = 0x3E800000.
    const CanFrame::Data expected{0x00, 0x40, 0x1C, 0xC5, 0x00, 0x00, 0x80, 0x3E};
    EXPECT_EQ(frame->data(), expected);
}

// Drive frames go out at once as single datagrams; after the port closes nothing follows, and
// nothing waits in the port to leave with a later flush.
TEST(DriveCommand, OverTheRealPortNothingFollowsAStop) {
    const std::uint16_t port = test::freePort();
    auto factory = [port] { return std::make_unique<CanUdpClient>(test::loopbackSettings(port)); };
    CBcan sender(factory);
    CBcan listener(factory);
    ASSERT_EQ(listener.open(), 1);
    ASSERT_EQ(sender.open(), 1);

    Rig rig;
    rig.driveAt(500, 200);
    auto tick = [&](const DriveContext& c) {
        if (auto f = rig.drive.onTick(c)) sender.sendFrame(f->identifier(), f->data());
    };
    for (int i = 0; i < 3; ++i) tick(context());
    ASSERT_NE(sender.client(), nullptr);
    EXPECT_EQ(sender.client()->pendingCount(), 0u);

    int received = 0;
    CanFrame::Data data{};
    while (listener.waitForFrame(0x541, &data, 500) == 1) {
        ++received;
        EXPECT_EQ(lowFloat(CanFrame(0x541, false, 8, data)), 2000.0f);
        if (received == 3) break;
    }
    EXPECT_EQ(received, 3);

    sender.close();
    DriveContext closed = context();
    closed.portOpen = sender.isOpen();
    tick(closed);
    ASSERT_EQ(sender.open(), 1);
    EXPECT_TRUE(sender.flush());
    // A re-opened port (the same connection number, as if the main window forgot to count it)
    // is not enough: the window closed on the tick that saw the port closed.
    tick(context());
    EXPECT_EQ(listener.waitForFrame(0x541, &data, 300), 0);
}

}  // namespace
}  // namespace qv
