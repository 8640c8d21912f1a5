// The Controls window against the simulator over loopback: the real windows and bridge client,
// the public structure downloaded from the simulated controller, its motor turning under the
// drive command and stopping after the window closes, and a foreign driver-controls node
// taking over.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <future>
#include <mutex>

#include "controls_rig.h"
#include "sim/probe.h"
#include "sim/world.h"
#include "support/loopback.h"
#include "support/ports.h"

namespace qv {
namespace {

using test::ControlsRig;
using test::highFloatOf;
using test::lowFloatOf;

constexpr std::uint32_t kSimDriveId = 0x501;  // the simulated controller's driver controls + 1

sim::Options oneController(std::uint16_t port) {
    sim::Options o;
    o.port = port;
    o.seed = 11;
    o.devices.push_back(sim::parseDevice("0x400:123456:KX01"));
    return o;
}

// Every frame of the drive controls the probe sees while it runs, in order.
class DriveFrameWatch {
  public:
    explicit DriveFrameWatch(sim::Probe& probe) : probe_(probe) {
        while (probe_.receive(0)) {
        }
        thread_ = std::async(std::launch::async, [this] {
            while (!done_)
                if (auto d = probe_.receive(20))
                    for (const CanPacket& p : d->packets)
                        if (!p.status && (p.frame.identifier() == kSimDriveId ||
                                          p.frame.identifier() == kSimDriveId + 1)) {
                            std::lock_guard l(mutex_);
                            frames_.push_back(p.frame);
                        }
        });
    }
    ~DriveFrameWatch() { stop(); }
    std::vector<CanFrame> stop() {
        done_ = true;
        if (thread_.valid()) thread_.get();
        std::lock_guard l(mutex_);
        return frames_;
    }
    std::vector<CanFrame> frames() {
        std::lock_guard l(mutex_);
        return frames_;
    }

  private:
    sim::Probe& probe_;
    std::atomic<bool> done_{false};
    std::mutex mutex_;
    std::vector<CanFrame> frames_;
    std::future<void> thread_;
};

// The foreign node's pedal at rest; the program's frames in these tests never carry 0 rpm.
bool isForeignDriveCommand(const CanFrame& f) {
    return f.identifier() == kSimDriveId && lowFloatOf(f) == 0.0f && highFloatOf(f) == 0.0f;
}

double rpmShown(ControlsRig& rig) {
    const QString t = rig.cell(1006)->text();
    return t.endsWith(" rpm") ? t.left(t.size() - 4).toDouble() : -1e9;
}

// Opens Controls on the simulated controller and waits for the first check.
void openLive(ControlsRig& rig) {
    ASSERT_TRUE(rig.waitUntil([&] { return rig.logic().monitor().selected().base == 0x400; }));
    EXPECT_FALSE(rig.app->store().isValid(StructureKind::Public));
    rig.openControls();  // the public structure is downloaded first
    ASSERT_TRUE(rig.waitUntil([&] { return rig.controlsShown(); }, 5000)) << rig.ui.messages.size();
    EXPECT_TRUE(rig.app->store().isValid(StructureKind::Public));
    EXPECT_EQ(rig.valueText(1207), "0x500");
    ASSERT_TRUE(
        rig.waitUntil([&] { return rig.controlsWindow->windowTitle() == "Controls"; }, 3000));
}

// The offscreen platform draws no window frames: each window gets a caption bar here.
QPixmap framed(QWidget& w) {
    const QPixmap inside = w.grab();
    const int bar = w.fontMetrics().height() + 10;
    QPixmap out(inside.width() + 2, inside.height() + bar + 1);
    out.fill(QColor(0x3C, 0x5A, 0x82));
    QPainter painter(&out);
    painter.drawPixmap(1, bar, inside);
    painter.setPen(Qt::white);
    painter.setFont(w.font());
    painter.drawText(QRect(8, 0, out.width() - 16, bar), Qt::AlignVCenter, w.windowTitle());
    return out;
}

// The Controls window beside the main window whose telemetry shows the motor turning; to
// $QV_CONTROLS_SCREENSHOT when set (docs/controls-window.png is made so).
void saveScreenshot(ControlsRig& rig) {
    const QPixmap main = framed(*rig.window);
    const QPixmap controls = framed(*rig.controlsWindow);
    constexpr int kGap = 12;
    QPixmap both(main.width() + kGap + controls.width(),
                 std::max(main.height(), controls.height()));
    both.fill(QColor(0xB8, 0xBE, 0xC6));
    QPainter painter(&both);
    painter.drawPixmap(0, 0, main);
    painter.drawPixmap(main.width() + kGap, 0, controls);
    painter.end();
    const char* wanted = std::getenv("QV_CONTROLS_SCREENSHOT");
    const QString path = wanted ? QString(wanted) : QString::fromStdString(rig.dir.file("c.png"));
    ASSERT_TRUE(both.save(path, "PNG")) << path.toStdString();
    EXPECT_GT(QFile(path).size(), 1000);
}

TEST(ControlsEndToEnd, TheMotorTurnsAtTheCommandedSpeedAndStopsWhenTheWindowCloses) {
    const std::uint16_t port = test::freePort();
    sim::BackgroundWorld world(oneController(port));
    sim::Probe probe(port, kDefaultBusId, 0x5EED);
    ControlsRig rig(test::loopbackSettings(port));
    openLive(rig);

    rig.slider(1108)->setValue(1000);  // full motor current
    rig.slider(1132)->setValue(200);   // 1000 rpm of the 5000 rpm speed limit
    EXPECT_EQ(rig.valueText(1045), "1000.0");
    ASSERT_TRUE(rig.waitUntil([&] { return std::abs(rpmShown(rig) - 1000) < 5; }, 4000))
        << rig.cell(1006)->text().toStdString();
    saveScreenshot(rig);

    DriveFrameWatch watch(probe);
    QTest::mouseClick(rig.control<QPushButton>(2), Qt::LeftButton);
    EXPECT_FALSE(rig.controlsShown());
    // Without a drive command the controller stops the motor after its time-out.
    EXPECT_TRUE(rig.waitUntil([&] { return std::abs(rpmShown(rig)) < 1; }, 5000))
        << rig.cell(1006)->text().toStdString();
    EXPECT_TRUE(watch.stop().empty());
}

TEST(ControlsEndToEnd, AForeignDriverControlsNodeTakesOverWithinOneCheck) {
    const std::uint16_t port = test::freePort();
    sim::BackgroundWorld world(oneController(port));
    sim::Probe probe(port, kDefaultBusId, 0x5EED);
    ControlsRig rig(test::loopbackSettings(port));
    openLive(rig);
    rig.slider(1108)->setValue(500);
    rig.slider(1132)->setValue(100);  // 500 rpm: the program's frames carry 500.0

    DriveFrameWatch watch(probe);
    ASSERT_TRUE(rig.waitUntil([&] { return !watch.frames().empty(); }, 2000));
    world.world().post("foreign-dc on 0x500");
    QElapsedTimer sinceForeign;
    ASSERT_TRUE(rig.waitUntil(
        [&] {
            const auto f = watch.frames();
            return std::any_of(f.begin(), f.end(), isForeignDriveCommand);
        },
        2000));
    sinceForeign.start();
    ASSERT_TRUE(rig.waitUntil([&] { return !rig.controlsShown(); }, 3000));
    // One check period is 1.2 s; the rest is slack for a loaded machine.
    EXPECT_LT(sinceForeign.elapsed(), 2000);
    EXPECT_EQ(rig.ui.takeMessages(), std::vector<std::string>{kOtherSourceMessage});
    EXPECT_EQ(rig.slider(1132)->value(), 0);

    // From the foreign node's first drive command on, the program sent at most the one already
    // under way on that tick, and nothing once the window had closed.
    QTest::qWait(300);
    const auto frames = watch.stop();
    const auto firstForeign = std::find_if(frames.begin(), frames.end(), isForeignDriveCommand);
    ASSERT_NE(firstForeign, frames.end());
    const auto ours = std::count_if(firstForeign, frames.end(), [](const CanFrame& f) {
        return f.identifier() == kSimDriveId && lowFloatOf(f) == 500.0f;
    });
    EXPECT_LE(ours, 1);
}

}  // namespace
}  // namespace qv
