// The Controls window's logic: what it shows, what it sends and when, the keyboard map and the
// refusal when another driver-controls source is on the bus.
#include "drive/controls.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "drive/drive_command.h"
#include "drive/drive_frames.h"
#include "monitor/telemetry_values.h"
#include "scripted_ui.h"

namespace qv {
namespace {

constexpr const char* kTitle = "qvConfig";

// Distinct values everywhere, so that a swapped field shows.
ControlsShowRequest request(std::int32_t deviceType = 0x4002) {
    ControlsShowRequest r;
    r.device = {0x440, 765432, 0x0A0B0C0D, deviceType};
    r.speedLimit = 5000.0f;
    r.driverControlsBase = 0x520;
    r.connection = 7;
    return r;
}

DriveContext contextFor(const ControlsShowRequest& r) {
    DriveContext c;
    c.portOpen = true;
    c.connection = r.connection;
    c.selectedDevice = r.device;
    c.publicConfigValid = true;
    return c;
}

struct Rig {
    test::ScriptedUi ui;
    std::vector<CanFrame> sent;
    CControls controls{ui, [this](const CanFrame& f) { sent.push_back(f); }, kTitle};
    DriveCommand drive{controls};

    // Shown and checked: the controls are live.
    void goLive(const ControlsShowRequest& r = request()) {
        ASSERT_TRUE(controls.show(r));
        controls.periodicCheck(true);
        ASSERT_TRUE(controls.live());
        sent.clear();
    }
};

TEST(Controls, NothingIsSentOrMovedBeforeTheFirstCheck) {
    Rig rig;
    ASSERT_TRUE(rig.controls.show(request()));
    ControlsView v = rig.controls.view();
    EXPECT_TRUE(v.visible);
    EXPECT_EQ(v.title, "Please wait...");
    EXPECT_FALSE(v.controlsEnabled);
    // Neither the tick, nor input, nor keys send or move anything while the window waits.
    for (int tick = 0; tick < 5; ++tick) EXPECT_FALSE(rig.drive.onTick(contextFor(request())));
    rig.controls.moveSlider(ControlsSlider::Velocity, 400);
    rig.controls.moveSlider(ControlsSlider::BusCurrent, 10);
    rig.controls.press(ControlsButton::MotorCurrentUp);
    EXPECT_TRUE(rig.controls.keyDown(ControlsKey::PageUp));
    EXPECT_TRUE(rig.sent.empty());
    v = rig.controls.view();
    EXPECT_EQ(v.motorCurrent.position, 0);
    EXPECT_EQ(v.velocity.position, 0);
    EXPECT_EQ(v.busCurrent.position, 1000);

    // The first check with no other source: take-over notice, then the bus-current command
    // with the slider's starting position (1000: bytes 4-7 = 1.0).
    rig.controls.periodicCheck(true);
    ASSERT_EQ(rig.sent.size(), 2u);
    EXPECT_EQ(rig.sent[0].identifier(), 0x440u + 15);
    EXPECT_EQ(rig.sent[0].length(), 8);
    EXPECT_EQ(rig.sent[0].data64(), 0u);
    EXPECT_EQ(rig.sent[1].identifier(), 0x520u + 2);
    EXPECT_EQ(lowFloat(rig.sent[1]), 0.0f);
    EXPECT_EQ(highFloat(rig.sent[1]), 1.0f);
    v = rig.controls.view();
    EXPECT_EQ(v.title, "Controls");
    EXPECT_TRUE(v.controlsEnabled);

    // Live checks repeat the bus-current command, never the take-over notice.
    rig.sent.clear();
    rig.controls.periodicCheck(true);
    ASSERT_EQ(rig.sent.size(), 1u);
    EXPECT_EQ(rig.sent[0].identifier(), 0x522u);
}

TEST(Controls, SliderValuesSetpointsAndTheDriveFrame) {
    Rig rig;
    rig.goLive();
    rig.controls.moveSlider(ControlsSlider::Velocity, -500);
    rig.controls.moveSlider(ControlsSlider::MotorCurrent, 250);
    const DriveSetpoints s = rig.controls.setpoints();
    EXPECT_EQ(s.velocity, -2500.0f);
    EXPECT_EQ(s.current, 0.25f);
    ControlsView v = rig.controls.view();
    EXPECT_EQ(v.velocityText, "-2500.0");
    EXPECT_EQ(v.motorCurrentText, "25.00");
    EXPECT_EQ(v.driverControlsBaseText, "0x520");
    EXPECT_EQ(v.velocity.minimum, -1000);
    EXPECT_EQ(v.velocity.maximum, 1000);
    EXPECT_EQ(v.velocity.page, 100);

    const auto frame = rig.drive.onTick(contextFor(request()));
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->identifier(), 0x521u);
    EXPECT_FALSE(frame->extended());
    EXPECT_EQ(frame->length(), 8);
    EXPECT_EQ(lowFloat(*frame), -2500.0f);  // velocity in bytes 0-3
    EXPECT_EQ(highFloat(*frame), 0.25f);    // current in bytes 4-7

    // Setpoint sliders send nothing themselves; the bus-current slider does, at once.
    EXPECT_TRUE(rig.sent.empty());
    rig.controls.moveSlider(ControlsSlider::BusCurrent, 455);
    ASSERT_EQ(rig.sent.size(), 1u);
    EXPECT_EQ(rig.sent[0].identifier(), 0x522u);
    EXPECT_EQ(highFloat(rig.sent[0]), 0.455f);
    EXPECT_EQ(rig.controls.view().busCurrentText, "45.50");
    // Out of range is clamped.
    rig.controls.moveSlider(ControlsSlider::Velocity, 5000);
    EXPECT_EQ(rig.controls.setpoints().velocity, 5000.0f);
    EXPECT_EQ(rig.controls.view().velocityText, "5000.0");
}

TEST(Controls, KeyboardMapIsClampedAndLeavesOtherKeys) {
    Rig rig;
    rig.goLive();
    auto pos = [&](ControlsSlider s) {
        const ControlsView v = rig.controls.view();
        return s == ControlsSlider::MotorCurrent ? v.motorCurrent.position
               : s == ControlsSlider::Velocity   ? v.velocity.position
                                                 : v.busCurrent.position;
    };
    struct Case {
        ControlsKey key;
        ControlsSlider slider;
        int before;
        int after;
    };
    const Case cases[] = {
        {ControlsKey::PageUp, ControlsSlider::MotorCurrent, 950, 1000},
        {ControlsKey::PageUp, ControlsSlider::MotorCurrent, 300, 400},
        {ControlsKey::PageDown, ControlsSlider::MotorCurrent, 50, 0},
        {ControlsKey::PageDown, ControlsSlider::MotorCurrent, 300, 200},
        {ControlsKey::Up, ControlsSlider::MotorCurrent, 300, 301},
        {ControlsKey::Up, ControlsSlider::MotorCurrent, 1000, 1000},
        {ControlsKey::Down, ControlsSlider::MotorCurrent, 300, 299},
        {ControlsKey::Down, ControlsSlider::MotorCurrent, 0, 0},
        {ControlsKey::Right, ControlsSlider::Velocity, -3, -2},
        {ControlsKey::Right, ControlsSlider::Velocity, 1000, 1000},
        {ControlsKey::Left, ControlsSlider::Velocity, -3, -4},
        {ControlsKey::Left, ControlsSlider::Velocity, -1000, -1000},
        {ControlsKey::A, ControlsSlider::BusCurrent, 500, 501},
        {ControlsKey::Z, ControlsSlider::BusCurrent, 500, 499},
        {ControlsKey::Z, ControlsSlider::BusCurrent, 0, 0},
        {ControlsKey::Enter, ControlsSlider::Velocity, -700, 0},
        {ControlsKey::Space, ControlsSlider::MotorCurrent, 700, 0},
    };
    for (const Case& c : cases) {
        rig.controls.moveSlider(c.slider, c.before);
        EXPECT_TRUE(rig.controls.keyDown(c.key));
        EXPECT_EQ(pos(c.slider), c.after) << static_cast<int>(c.key) << " from " << c.before;
    }
    rig.controls.moveSlider(ControlsSlider::MotorCurrent, 950);
    rig.controls.keyDown(ControlsKey::PageUp);
    EXPECT_EQ(rig.controls.view().motorCurrentText, "100.00");
    EXPECT_EQ(rig.controls.setpoints().current, 1.0f);

    // Home and End are swallowed, other keys go to the window's normal handling.
    rig.controls.moveSlider(ControlsSlider::Velocity, 10);
    EXPECT_TRUE(rig.controls.keyDown(ControlsKey::Home));
    EXPECT_TRUE(rig.controls.keyDown(ControlsKey::End));
    EXPECT_EQ(pos(ControlsSlider::Velocity), 10);
    EXPECT_EQ(pos(ControlsSlider::MotorCurrent), 1000);
    EXPECT_FALSE(rig.controls.keyDown(ControlsKey::Other));

    // Escape closes.
    EXPECT_TRUE(rig.controls.keyDown(ControlsKey::Escape));
    EXPECT_FALSE(rig.controls.visible());
    EXPECT_FALSE(rig.controls.keyDown(ControlsKey::Enter));
}

// Shift with the arrow keys moves ten times as far, clamped; the other keys do not change.
TEST(Controls, ShiftWithTheArrowsMovesTenTimesAsFar) {
    Rig rig;
    rig.goLive();
    rig.controls.moveSlider(ControlsSlider::Velocity, 995);
    rig.controls.moveSlider(ControlsSlider::MotorCurrent, 5);
    const std::pair<ControlsKey, int> velocitySteps[] = {
        {ControlsKey::Right, 1000}, {ControlsKey::Left, 990}, {ControlsKey::Left, 980}};
    for (const auto& [key, after] : velocitySteps) {
        EXPECT_TRUE(rig.controls.keyDown(key, true));
        EXPECT_EQ(rig.controls.view().velocity.position, after);
    }
    EXPECT_EQ(rig.controls.setpoints().velocity, 4900.0f);  // 980/1000 of the 5000 rpm limit
    EXPECT_TRUE(rig.controls.keyDown(ControlsKey::Down, true));
    EXPECT_EQ(rig.controls.view().motorCurrent.position, 0);
    EXPECT_TRUE(rig.controls.keyDown(ControlsKey::Up, true));
    EXPECT_TRUE(rig.controls.keyDown(ControlsKey::Up, true));
    EXPECT_EQ(rig.controls.view().motorCurrent.position, 20);
    EXPECT_TRUE(rig.controls.keyDown(ControlsKey::PageUp, true));
    EXPECT_EQ(rig.controls.view().motorCurrent.position, 120);
    EXPECT_TRUE(rig.controls.keyDown(ControlsKey::A, true));
    EXPECT_EQ(rig.controls.view().busCurrent.position, 1000);
    EXPECT_TRUE(rig.controls.keyDown(ControlsKey::Z, true));
    EXPECT_EQ(rig.controls.view().busCurrent.position, 999);
}

TEST(Controls, ActualValuesBesideTheSetpoints) {
    TelemetryValues v;
    v.motorVelocity = 998.6f;
    v.phaseBCurrent = -12.34f;
    v.phaseCCurrent = 11.0f;
    v.busCurrent = 7.36f;
    v.busVoltage = 96.33f;
    EXPECT_EQ(controlsActuals(v, 0x4002, true),
              (ControlsActuals{"999 rpm", "12.3 A rms", "7.4 A"}));
    EXPECT_EQ(controlsActuals(v, 0x4000, true).velocity, "96.3 V");
    EXPECT_EQ(controlsActuals(v, 0x4002, false), (ControlsActuals{"-", "-", "-"}));
}

TEST(Controls, ButtonsZeroAndStepTheMotorCurrent) {
    Rig rig;
    rig.goLive();
    rig.controls.moveSlider(ControlsSlider::MotorCurrent, 500);
    rig.controls.moveSlider(ControlsSlider::Velocity, -200);
    rig.controls.press(ControlsButton::MotorCurrentUp);
    EXPECT_EQ(rig.controls.view().motorCurrent.position, 501);
    rig.controls.press(ControlsButton::MotorCurrentDown);
    rig.controls.press(ControlsButton::MotorCurrentDown);
    EXPECT_EQ(rig.controls.view().motorCurrent.position, 499);
    rig.controls.press(ControlsButton::ZeroVelocity);
    EXPECT_EQ(rig.controls.setpoints(), (DriveSetpoints{0.499f, 0.0f}));
    rig.controls.press(ControlsButton::ZeroMotorCurrent);
    EXPECT_EQ(rig.controls.setpoints(), (DriveSetpoints{}));
    EXPECT_TRUE(rig.sent.empty());
}

TEST(Controls, AnotherSourceClosesTheWindowBeforeTheMessage) {
    Rig rig;
    rig.goLive();
    rig.controls.moveSlider(ControlsSlider::Velocity, 600);
    rig.controls.moveSlider(ControlsSlider::MotorCurrent, 300);
    // A foreign frame was drained on this tick: no drive frame, nothing more from the sliders.
    DriveContext c = contextFor(request());
    c.otherSourceSeen = true;
    EXPECT_FALSE(rig.drive.onTick(c));
    rig.controls.moveSlider(ControlsSlider::BusCurrent, 10);
    EXPECT_TRUE(rig.sent.empty());
    EXPECT_FALSE(rig.controls.view().controlsEnabled);

    bool hiddenDuringBox = false;
    DriveSetpoints duringBox{1, 1};
    rig.ui.whileShown = [&](const MessageBoxRequest&) {
        hiddenDuringBox = !rig.controls.visible();
        duringBox = rig.controls.setpoints();
    };
    rig.controls.periodicCheck(false);
    ASSERT_EQ(rig.ui.boxes.size(), 1u);
    EXPECT_EQ(rig.ui.boxes[0].text,
              "Another driver controls has been detected!\r\n\r\nThe Quelvane can only be "
              "controlled from one source.");
    EXPECT_EQ(rig.ui.boxes[0].caption, kTitle);
    EXPECT_EQ(rig.ui.boxes[0].buttons, MessageButtons::Ok);
    EXPECT_TRUE(hiddenDuringBox);
    EXPECT_EQ(duringBox, (DriveSetpoints{}));
    EXPECT_EQ(rig.controls.setpoints(), (DriveSetpoints{}));
    EXPECT_FALSE(rig.drive.onTick(contextFor(request())));
    EXPECT_TRUE(rig.sent.empty());
}

TEST(Controls, AnotherSourceBeforeTheFirstCheckRefusesTheWindow) {
    Rig rig;
    ASSERT_TRUE(rig.controls.show(request()));
    rig.controls.periodicCheck(false);
    EXPECT_FALSE(rig.controls.visible());
    EXPECT_EQ(rig.ui.boxes.size(), 1u);
    EXPECT_TRUE(rig.sent.empty());
    // A check for a hidden window does nothing.
    rig.controls.periodicCheck(false);
    rig.controls.periodicCheck(true);
    EXPECT_EQ(rig.ui.boxes.size(), 1u);
    EXPECT_TRUE(rig.sent.empty());
}

TEST(Controls, LabelsByDeviceTypeWithTheSameFrames) {
    for (std::int32_t type : {0x4000, 0x4001, 0x4002, 0x4003, 0x6000, 0}) {
        Rig rig;
        rig.goLive(request(type));
        const bool charger = type == 0x4000 || type == 0x4001;
        const ControlsView v = rig.controls.view();
        EXPECT_EQ(v.velocityLabel, charger ? "Output Voltage (V)" : "Velocity (RPM)") << type;
        EXPECT_EQ(v.busCurrentLabel, charger ? "-NOT USED-" : "Bus Current (%)") << type;
        rig.controls.moveSlider(ControlsSlider::Velocity, 100);
        const auto frame = rig.drive.onTick(contextFor(request(type)));
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->identifier(), 0x521u);
        EXPECT_EQ(lowFloat(*frame), 500.0f);
    }
}

TEST(Controls, CloseZeroesBothSetpointsAndEveryShowStartsOver) {
    Rig rig;
    std::vector<DriveSetpoints> seen;  // what the main window mirrors for its log
    rig.controls.setSetpointsObserver([&](const DriveSetpoints& s) { seen.push_back(s); });
    rig.goLive();
    rig.controls.moveSlider(ControlsSlider::Velocity, 800);
    rig.controls.moveSlider(ControlsSlider::MotorCurrent, 900);
    rig.controls.moveSlider(ControlsSlider::BusCurrent, 600);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), (DriveSetpoints{0.9f, 4000.0f}));
    rig.controls.press(ControlsButton::Close);
    EXPECT_FALSE(rig.controls.visible());
    EXPECT_EQ(rig.controls.setpoints(), (DriveSetpoints{}));
    EXPECT_EQ(seen.back(), (DriveSetpoints{}));

    ControlsShowRequest again = request();
    again.speedLimit = 3000.0f;
    ASSERT_TRUE(rig.controls.show(again));
    ControlsView v = rig.controls.view();
    EXPECT_EQ(v.title, "Please wait...");
    EXPECT_FALSE(v.controlsEnabled);
    EXPECT_EQ(v.motorCurrent.position, 0);
    EXPECT_EQ(v.velocity.position, 0);
    EXPECT_EQ(v.busCurrent.position, 600);  // the limit stays where the user left it
    rig.sent.clear();
    rig.controls.periodicCheck(true);
    ASSERT_EQ(rig.sent.size(), 2u);
    EXPECT_EQ(highFloat(rig.sent[1]), 0.6f);
    // The speed limit of this show counts.
    rig.controls.moveSlider(ControlsSlider::Velocity, 500);
    EXPECT_EQ(rig.controls.setpoints().velocity, 1500.0f);
}

TEST(Controls, ConfigurationsThatCannotBeDrivenAreRefused) {
    struct Case {
        float speedLimit;
        std::uint32_t dcBase;
        std::int32_t deviceBase;
        const char* fragment;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {nan, 0x500, 0x400, "speed limit"},   {inf, 0x500, 0x400, "speed limit"},
        {-1.0f, 0x500, 0x400, "speed limit"}, {12000.5f, 0x500, 0x400, "speed limit"},
        {5000, 0x505, 0x400, "(0x505)"},      {5000, 0x7E0, 0x400, "(0x7E0)"},
        {5000, 0xFFFFFFFF, 0x400, "base ID"}, {5000, 0x500, -1, "No device"},
        {5000, 0x500, 0x800, "No device"},
    };
    for (const Case& c : cases) {
        Rig rig;
        ControlsShowRequest r = request();
        r.speedLimit = c.speedLimit;
        r.driverControlsBase = c.dcBase;
        r.device.base = c.deviceBase;
        EXPECT_FALSE(rig.controls.show(r)) << c.fragment;
        EXPECT_FALSE(rig.controls.visible());
        ASSERT_EQ(rig.ui.boxes.size(), 1u) << c.fragment;
        EXPECT_NE(rig.ui.boxes[0].text.find(c.fragment), std::string::npos) << rig.ui.boxes[0].text;
        EXPECT_EQ(rig.ui.boxes[0].caption, kTitle);
        rig.controls.periodicCheck(true);
        EXPECT_TRUE(rig.sent.empty());
    }
    // The limits themselves are fine.
    Rig rig;
    ControlsShowRequest r = request();
    r.speedLimit = 12000.0f;
    r.driverControlsBase = 0x7C0;
    EXPECT_TRUE(rig.controls.show(r));
    r.speedLimit = 0.0f;
    r.driverControlsBase = 0;
    ASSERT_TRUE(rig.controls.show(r));
    rig.controls.periodicCheck(true);
    rig.controls.moveSlider(ControlsSlider::Velocity, -10);
    EXPECT_EQ(rig.controls.view().velocityText, "0.0");  // no negative zero
    EXPECT_FALSE(std::signbit(rig.controls.setpoints().velocity));
}

}  // namespace
}  // namespace qv
