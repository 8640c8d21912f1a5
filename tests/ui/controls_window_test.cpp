// The Controls window in the real program's windows, on the fake bridge client: what it shows,
// what the user's input does, what goes on the bus and when, and every way the drive stops.
#include <gtest/gtest.h>

#include <QListWidget>
#include <cmath>
#include <functional>
#include <limits>

#include "controls_rig.h"
#include "monitor/telemetry_values.h"

namespace qv {
namespace {

using test::ControlsRig;
using test::floats;
using test::highFloatOf;
using test::kBusCurrentId;
using test::kDriveId;
using test::kTakeOverId;
using test::lowFloatOf;

constexpr int kDriveControlIds[] = {1108, 1132, 1166, 1024, 1025, 1136, 1137};

TEST(ControlsWindow, OpensWaitingAndTakesOverAtTheFirstCheck) {
    ControlsRig rig;
    ASSERT_NE(rig.controlsWindow, nullptr);
    rig.selectDevice();
    rig.openControls();
    ASSERT_TRUE(rig.controlsShown());
    EXPECT_TRUE(rig.controlsWindow->isEnabled());
    EXPECT_EQ(rig.controlsWindow->windowTitle(), "Please wait...");
    for (const int id : kDriveControlIds) EXPECT_FALSE(rig.control<QWidget>(id)->isEnabled()) << id;
    EXPECT_TRUE(rig.control<QPushButton>(2)->isEnabled());
    EXPECT_EQ(rig.valueText(1207), "0x520");
    EXPECT_EQ(rig.valueText(1231), "Velocity (RPM)");
    EXPECT_EQ(rig.valueText(1232), "Bus Current (%)");

    struct Range {
        int id, minimum, maximum, position;
    };
    for (const Range r :
         {Range{1108, 0, 1000, 0}, Range{1132, -1000, 1000, 0}, Range{1166, 0, 1000, 1000}}) {
        QSlider* s = rig.slider(r.id);
        EXPECT_EQ(s->minimum(), r.minimum) << r.id;
        EXPECT_EQ(s->maximum(), r.maximum) << r.id;
        EXPECT_EQ(s->pageStep(), 100) << r.id;
        EXPECT_EQ(s->value(), r.position) << r.id;
    }
    EXPECT_EQ(rig.valueText(1044), "0.00");
    EXPECT_EQ(rig.valueText(1045), "0.0");
    EXPECT_EQ(rig.valueText(1046), "100.00");

    // Keys are taken but move nothing while the window waits; nothing is sent.
    QTest::keyClick(rig.controlsWindow, Qt::Key_PageUp);
    QTest::keyClick(rig.control<QPushButton>(2), Qt::Key_Right);
    EXPECT_EQ(rig.slider(1108)->value(), 0);
    EXPECT_EQ(rig.slider(1132)->value(), 0);
    rig.ticks(5);
    EXPECT_TRUE(rig.sent().empty());

    // The check: the take-over notice, then the bus-current command from the slider's start.
    rig.ticks(1);
    const auto sent = rig.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].identifier(), kTakeOverId);
    EXPECT_EQ(sent[0].length(), 8);
    EXPECT_EQ(sent[0].data64(), 0u);
    EXPECT_EQ(sent[1].identifier(), kBusCurrentId);
    EXPECT_EQ(lowFloatOf(sent[1]), 0.0f);
    EXPECT_EQ(highFloatOf(sent[1]), 1.0f);
    EXPECT_EQ(rig.controlsWindow->windowTitle(), "Controls");
    for (const int id : kDriveControlIds) EXPECT_TRUE(rig.control<QWidget>(id)->isEnabled()) << id;

    rig.ticks(1);
    const auto drive = rig.sentWith(kDriveId);
    ASSERT_EQ(drive.size(), 1u);
    EXPECT_EQ(lowFloatOf(drive[0]), 0.0f);
    EXPECT_EQ(highFloatOf(drive[0]), 0.0f);
}

TEST(ControlsWindow, SlidersAndButtonsSetWhatTheDriveCommandCarries) {
    ControlsRig rig;
    rig.goLive();
    rig.slider(1132)->setValue(-500);
    EXPECT_EQ(rig.valueText(1045), "-2500.0");
    rig.slider(1108)->setValue(123);
    EXPECT_EQ(rig.valueText(1044), "12.30");
    // The main window's telemetry values (the log's setpoint columns) follow the window.
    const TelemetryValues& values = rig.logic().monitor().values();
    EXPECT_EQ(values.velocitySetpoint, -2500.0f);
    EXPECT_EQ(values.currentSetpoint, 0.123f);

    std::size_t from = rig.sent().size();
    rig.ticks(1);
    auto drive = rig.sentWith(kDriveId, from);
    ASSERT_EQ(drive.size(), 1u);
    EXPECT_EQ(lowFloatOf(drive[0]), -2500.0f);
    EXPECT_EQ(highFloatOf(drive[0]), 0.123f);
    EXPECT_TRUE(rig.client.queued.empty());  // sent at once, never queued

    // The bus-current slider sends its own command as it moves.
    from = rig.sent().size();
    rig.slider(1166)->setValue(400);
    EXPECT_EQ(rig.valueText(1046), "40.00");
    const auto bus = rig.sentWith(kBusCurrentId, from);
    ASSERT_EQ(bus.size(), 1u);
    EXPECT_EQ(highFloatOf(bus[0]), 0.4f);

    QTest::mouseClick(rig.control<QPushButton>(1136), Qt::LeftButton);
    EXPECT_EQ(rig.valueText(1044), "12.40");
    QTest::mouseClick(rig.control<QPushButton>(1137), Qt::LeftButton);
    QTest::mouseClick(rig.control<QPushButton>(1137), Qt::LeftButton);
    EXPECT_EQ(rig.slider(1108)->value(), 122);
    QTest::mouseClick(rig.control<QPushButton>(1025), Qt::LeftButton);
    EXPECT_EQ(rig.slider(1132)->value(), 0);
    EXPECT_EQ(rig.slider(1108)->value(), 122);
    QTest::mouseClick(rig.control<QPushButton>(1024), Qt::LeftButton);
    EXPECT_EQ(rig.slider(1108)->value(), 0);
    from = rig.sent().size();
    rig.ticks(1);
    drive = rig.sentWith(kDriveId, from);
    ASSERT_EQ(drive.size(), 1u);
    EXPECT_EQ(drive[0].data64(), 0u);
}

// The controller's own velocity and currents beside the setpoints; Shift with an arrow key moves
// ten times as far.
TEST(ControlsWindow, ActualValuesAndShiftedArrows) {
    ControlsRig rig;
    rig.goLive();
    auto actual = [&](const char* name) {
        return rig.controlsWindow->findChild<QLabel*>(name)->text();
    };
    rig.frame(test::kDeviceBase + 2, floats(96.5f, 7.36f));
    rig.frame(test::kDeviceBase + 3, floats(998.6f, 1.0f));
    rig.frame(test::kDeviceBase + 4, floats(-12.34f, 11.0f));
    rig.ticks(1);
    EXPECT_EQ(actual("actualVelocity"), "999 rpm");
    EXPECT_EQ(actual("actualMotorCurrent"), "12.3 A rms");
    EXPECT_EQ(actual("actualBusCurrent"), "7.4 A");

    QSlider* velocity = rig.slider(1132);
    QTest::keyClick(velocity, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(velocity->value(), 10);
    EXPECT_EQ(rig.valueText(1045), "50.0");
    QTest::keyClick(velocity, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(rig.slider(1108)->value(), 10);
}

// The key map sees the keys before the focused control: a slider or a button never acts on
// them itself.
TEST(ControlsWindow, KeyMapActsWhicheverControlHasTheKey) {
    ControlsRig rig;
    rig.goLive();
    QSlider* velocity = rig.slider(1132);
    QPushButton* close = rig.control<QPushButton>(2);
    rig.slider(1108)->setValue(950);
    QTest::keyClick(velocity, Qt::Key_PageUp);
    EXPECT_EQ(rig.slider(1108)->value(), 1000);
    EXPECT_EQ(rig.valueText(1044), "100.00");
    EXPECT_EQ(velocity->value(), 0);
    QTest::keyClick(velocity, Qt::Key_Up);  // clamped
    EXPECT_EQ(rig.slider(1108)->value(), 1000);
    QTest::keyClick(rig.slider(1108), Qt::Key_PageDown);
    QTest::keyClick(rig.slider(1108), Qt::Key_Down);
    EXPECT_EQ(rig.slider(1108)->value(), 899);

    QTest::keyClick(rig.slider(1108), Qt::Key_Right);
    EXPECT_EQ(velocity->value(), 1);
    EXPECT_EQ(rig.valueText(1045), "5.0");
    QTest::keyClick(velocity, Qt::Key_Left);
    QTest::keyClick(velocity, Qt::Key_Left);
    EXPECT_EQ(rig.valueText(1045), "-5.0");
    // Home and End are swallowed: the focused slider does not jump to its end.
    QTest::keyClick(velocity, Qt::Key_Home);
    QTest::keyClick(velocity, Qt::Key_End);
    EXPECT_EQ(velocity->value(), -1);

    std::size_t from = rig.sent().size();
    QTest::keyClick(close, Qt::Key_Z);
    QTest::keyClick(close, Qt::Key_A);
    QTest::keyClick(close, Qt::Key_A);  // clamped at 1000
    const auto bus = rig.sentWith(kBusCurrentId, from);
    ASSERT_EQ(bus.size(), 2u);
    EXPECT_EQ(highFloatOf(bus[0]), 0.999f);
    EXPECT_EQ(highFloatOf(bus[1]), 1.0f);

    // Enter and Space on the Close button zero the sliders and leave the window open.
    QTest::keyClick(close, Qt::Key_Return);
    EXPECT_EQ(velocity->value(), 0);
    EXPECT_EQ(rig.slider(1108)->value(), 899);
    QTest::keyClick(close, Qt::Key_Space);
    EXPECT_EQ(rig.slider(1108)->value(), 0);
    EXPECT_TRUE(rig.controlsShown());

    // Escape closes, with both setpoints zero.
    rig.slider(1108)->setValue(300);
    velocity->setValue(200);
    QTest::keyClick(velocity, Qt::Key_Escape);
    EXPECT_FALSE(rig.controlsShown());
    EXPECT_EQ(rig.slider(1108)->value(), 0);
    EXPECT_EQ(velocity->value(), 0);
    EXPECT_EQ(rig.logic().monitor().values().velocitySetpoint, 0.0f);
}

TEST(ControlsWindow, TabGoesDownEachColumnThenToClose) {
    ControlsRig rig;
    rig.goLive();
    QWidget* w = rig.slider(1108);
    QStringList chain;
    for (int i = 0; i < 8; ++i) {
        chain << w->objectName();
        do w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
    }
    EXPECT_EQ(chain, (QStringList{"id1108", "id1136", "id1137", "id1024", "id1132", "id1025",
                                  "id1166", "id2"}));
}

TEST(ControlsWindow, AnotherDriverControlsNodeClosesTheWindowWithTheMessage) {
    for (const std::uint32_t foreignId : {kDriveId, kBusCurrentId}) {
        SCOPED_TRACE(foreignId);
        ControlsRig rig;
        rig.goLive();
        rig.slider(1132)->setValue(300);
        rig.slider(1108)->setValue(500);
        rig.ticks(1);
        const std::size_t from = rig.sent().size();
        rig.frame(foreignId, floats(0.0f, 1.0f));
        rig.ticks(1);  // heard: nothing more is sent, the window waits for its check
        EXPECT_TRUE(rig.sentWith(kDriveId, from).empty());
        EXPECT_TRUE(rig.controlsShown());
        rig.ticks(3);
        EXPECT_TRUE(rig.controlsShown());
        rig.ticks(1);  // the check, six ticks after the last one
        EXPECT_FALSE(rig.controlsShown());
        EXPECT_FALSE(rig.controlsWindow->isEnabled());
        EXPECT_EQ(rig.ui.takeMessages(), std::vector<std::string>{kOtherSourceMessage});
        EXPECT_EQ(rig.slider(1132)->value(), 0);
        EXPECT_EQ(rig.slider(1108)->value(), 0);
        EXPECT_EQ(rig.logic().monitor().values().velocitySetpoint, 0.0f);
        EXPECT_EQ(rig.logic().monitor().values().currentSetpoint, 0.0f);
        rig.ticks(7);
        EXPECT_EQ(rig.sent().size(), from);
    }
}

TEST(ControlsWindow, ChargersShowTheirLabelsWithTheSameFrames) {
    for (const char* product : {"\x00\x40\x00\x00", "\x01\x40\x00\x00"}) {
        ControlsRig rig;
        rig.selectDevice(product);
        rig.openControls();
        EXPECT_EQ(rig.valueText(1231), "Output Voltage (V)");
        EXPECT_EQ(rig.valueText(1232), "-NOT USED-");
        rig.ticks(6);
        rig.slider(1132)->setValue(100);
        rig.ticks(1);
        const auto drive = rig.sentWith(kDriveId);
        ASSERT_EQ(drive.size(), 1u);
        EXPECT_EQ(lowFloatOf(drive[0]), 500.0f);
        EXPECT_EQ(rig.sentWith(kBusCurrentId).size(), 1u);
    }
}

// A configuration the controls cannot drive with: refused with a message, nothing shown or
// sent, and a frame is never built from a value that is not a number.
TEST(ControlsWindow, AConfigurationThatCannotBeDrivenIsRefused) {
    for (const float limit : {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(), 12001.0f}) {
        ControlsRig rig;
        rig.selectDevice();
        rig.app->store().publicConfig.speedLimit = limit;
        rig.openControls();
        EXPECT_FALSE(rig.controlsShown());
        EXPECT_FALSE(rig.controlsWindow->isEnabled());
        ASSERT_EQ(rig.ui.takeMessages().size(), 1u);
        rig.ticks(13);
        EXPECT_TRUE(rig.sent().empty());
    }
}

// Every way the drive stops: the window goes at once with both setpoints zero, and no frame of
// the drive controls follows, not even from a later check.
TEST(ControlsWindow, EveryStopConditionStopsTheDriveAtOnce) {
    struct Case {
        const char* name;
        // Stops the drive; returns the index of the sent log from which nothing may follow.
        std::function<std::size_t(ControlsRig&)> stop;
    };
    const auto before = [](ControlsRig& r, auto act) {
        const std::size_t from = r.sent().size();
        act(r);
        QApplication::processEvents();
        return from;
    };
    const std::vector<Case> cases = {
        {"Close button",
         [&](ControlsRig& r) {
             return before(r, [](ControlsRig& x) {
                 QTest::mouseClick(x.control<QPushButton>(2), Qt::LeftButton);
             });
         }},
        {"close box",
         [&](ControlsRig& r) {
             return before(r, [](ControlsRig& x) { x.controlsWindow->close(); });
         }},
        {"minimised",
         [&](ControlsRig& r) {
             return before(
                 r, [](ControlsRig& x) { x.controlsWindow->setWindowState(Qt::WindowMinimized); });
         }},
        {"main window minimised",
         [&](ControlsRig& r) {
             return before(r,
                           [](ControlsRig& x) { x.window->setWindowState(Qt::WindowMinimized); });
         }},
        {"hidden with the main window",
         [&](ControlsRig& r) { return before(r, [](ControlsRig& x) { x.window->hide(); }); }},
        {"widget hidden",
         [&](ControlsRig& r) {
             return before(r, [](ControlsRig& x) { x.controlsWindow->hide(); });
         }},
        {"hidden by the program",
         [&](ControlsRig& r) {
             return before(r, [](ControlsRig& x) { x.logic().hideAllTools(); });
         }},
        {"another tool opened",
         [&](ControlsRig& r) {
             return before(r, [](ControlsRig& x) {
                 x.app->store().setValid(StructureKind::Private, true);
                 x.app->store().setValid(StructureKind::Motor, true);
                 x.logic().onTransferDone(kActionOpenDuvodaRezir, false);
             });
         }},
        {"another device selected",
         [&](ControlsRig& r) {
             r.announce(0x200, "KX02", 5);
             r.ticks(1);
             return before(r, [](ControlsRig& x) { x.window->deviceList()->setCurrentRow(0); });
         }},
        {"selected device lost",
         [](ControlsRig& r) {
             // It stops announcing; the purge removes it within two purge periods.
             for (int t = 0; t < 30 && r.controlsShown(); ++t) r.ticks(1);
             return r.sent().size();
         }},
        {"re-connect",
         [&](ControlsRig& r) {
             return before(r, [](ControlsRig& x) {
                 x.window->action(kCmdReconnect)->trigger();
                 x.window->tickTimer().stop();
             });
         }},
        {"port closed",
         [&](ControlsRig& r) {
             return before(r, [](ControlsRig& x) {
                 x.app->port().close();
                 x.ticks(1);
             });
         }},
        {"shutdown",
         [&](ControlsRig& r) {
             return before(r, [](ControlsRig& x) {
                 QTest::keyClick(x.window, Qt::Key_Escape);
                 EXPECT_TRUE(x.logic().shutDown());
             });
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ControlsRig rig;
        rig.goLive();
        rig.slider(1132)->setValue(200);
        rig.slider(1108)->setValue(300);
        rig.slider(1166)->setValue(700);
        rig.ticks(1);
        ASSERT_EQ(rig.sentWith(kDriveId).size(), 1u);
        const std::size_t from = c.stop(rig);
        EXPECT_FALSE(rig.controlsShown());
        EXPECT_FALSE(rig.controlsWindow->isEnabled());
        EXPECT_FALSE(rig.controlsWindow->isMinimized());
        EXPECT_EQ(rig.slider(1132)->value(), 0);
        EXPECT_EQ(rig.slider(1108)->value(), 0);
        EXPECT_EQ(rig.logic().monitor().values().velocitySetpoint, 0.0f);
        EXPECT_EQ(rig.logic().monitor().values().currentSetpoint, 0.0f);
        rig.ticks(13);
        EXPECT_EQ(rig.sent().size(), from);
        EXPECT_TRUE(rig.client.queued.empty());
    }
}

// Nothing set before a close reaches the bus after the window opens again: it starts over,
// waiting, and drives from zero.
TEST(ControlsWindow, OpeningAgainStartsOverFromZero) {
    ControlsRig rig;
    rig.goLive();
    rig.slider(1132)->setValue(600);
    rig.slider(1108)->setValue(400);
    QTest::mouseClick(rig.control<QPushButton>(2), Qt::LeftButton);
    const std::size_t from = rig.sent().size();
    rig.openControls();
    EXPECT_TRUE(rig.controlsShown());
    EXPECT_EQ(rig.controlsWindow->windowTitle(), "Please wait...");
    rig.ticks(5);
    EXPECT_EQ(rig.sent().size(), from);
    rig.ticks(2);
    const auto drive = rig.sentWith(kDriveId, from);
    ASSERT_EQ(drive.size(), 1u);
    EXPECT_EQ(drive[0].data64(), 0u);
}

}  // namespace
}  // namespace qv
