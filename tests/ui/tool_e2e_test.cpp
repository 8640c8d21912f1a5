// The commissioning windows against the simulator over loopback: the configuration is
// downloaded when a tool opens, the acquisition runs through the real bridge client while the
// main window keeps decoding telemetry, and the result reaches the simulated controller's
// stored configuration through the upload. Screenshots of both windows are saved on the way.
#include <gtest/gtest.h>

#include <QDir>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>

#include "config/config_progress.h"
#include "config/config_stream.h"
#include "config/config_transfer.h"
#include "sim/commissioning_motor.h"
#include "sim/world.h"
#include "stoppable_world.h"
#include "support/loopback.h"
#include "support/ports.h"
#include "support/process.h"
#include "tool_rig.h"

namespace qv {
namespace {

using test::kRigToolBase;
using test::ToolRig;

constexpr std::uint32_t kSerial = 123456;

using test::StoppableWorld;

// Motor record `index` as the controller stored it (the world stops first).
MotorConfig storedMotor(StoppableWorld& world, std::size_t index) {
    const auto stream = world.storedStream(kRigToolBase, 2);
    const std::size_t size = readU16(stream, 28);
    MotorConfig m{};
    const std::size_t at = kStreamHeaderSize + index * size;
    EXPECT_GE(stream.size(), at + sizeof m);
    if (stream.size() >= at + sizeof m) std::memcpy(&m, stream.data() + at, sizeof m);
    return m;
}

// Answers the transfer's questions with Yes, as a user who wants the result written.
class AgreeingUi : public UserInteraction {
  public:
    MessageAnswer messageBox(const MessageBoxRequest& r) override {
        std::lock_guard l(mutex);
        texts.push_back(r.text);
        return r.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Yes;
    }
    std::optional<std::string> fileDialog(const FileDialogRequest&) override {
        return std::nullopt;
    }
    std::mutex mutex;
    std::vector<std::string> texts;
};

// The configuration transfer on the application's port and store, for the selected device.
class ApplicationTransfer : public ConfigTransferService {
  public:
    // Before the first transfer, on the GUI thread.
    void attach(CQVDrvCtrlsApp& app) {
        port_ = &app.port();
        store_ = &app.store();
        target_.base = kRigToolBase;
        target_.serial = kSerial;
    }
    bool download(std::int32_t mask) override {
        TransferContext c(*port_, *store_, target_, ui, progress_);
        return downloadConfig(c, mask);
    }
    bool upload() override {
        TransferContext c(*port_, *store_, target_, ui, progress_);
        return uploadConfig(c);
    }
    bool reset() override { return false; }
    AgreeingUi ui;

  private:
    CBcan* port_ = nullptr;
    CConfigDataBank* store_ = nullptr;
    TransferTarget target_;
    CConfigProg progress_;
};

sim::Options worldWith(const sim::SimMotor& motor, std::uint16_t port) {
    sim::Options o;
    o.port = port;
    o.seed = 21;
    o.devices.push_back(sim::parseDevice("0x400:123456:KX01"));
    o.commissioning.motor = motor;
    return o;
}

// A simulated controller, the program's windows on it, and the tool window opened through the
// menu (which downloads the configuration first).
struct Bench {
    explicit Bench(const sim::SimMotor& motor, Tool tool, sim::ToolFaults faults = {})
        : port(test::freePort()),
          world([&] {
              sim::Options o = worldWith(motor, port);
              o.commissioning.faults = faults;
              return o;
          }()),
          rig(options()) {
        transfer->attach(*rig.app);
        EXPECT_TRUE(rig.waitUntil([&] { return rig.logic().monitor().selected().selected; }));
        rig.logic().onCommand(tool == Tool::DuvodaRezir    ? kCmdDuvodaRezir
                              : tool == Tool::PmExtraction ? kCmdParamExtract
                                                           : kCmdImExtract);
        window = tool == Tool::DuvodaRezir    ? static_cast<ui::CommissioningWindow*>(rig.duvoda())
                 : tool == Tool::PmExtraction ? static_cast<ui::CommissioningWindow*>(rig.pm())
                                              : rig.im();
        EXPECT_TRUE(rig.waitUntil([&] { return window->isVisible(); }, 30000))
            << "the download did not open the window";
    }
    test::ToolRigOptions options() {
        test::ToolRigOptions o;
        o.bridge = test::loopbackSettings(port);
        auto t = std::make_unique<ApplicationTransfer>();
        transfer = t.get();
        o.transfer = std::move(t);
        return o;
    }
    // Presses the acquire button and waits for the end; returns the distinct texts the bus
    // current cell showed meanwhile.
    std::set<QString> acquire() {
        std::set<QString> seen;
        QTest::mouseClick(window->acquireButton(), Qt::LeftButton);
        EXPECT_TRUE(window->acquiring());
        EXPECT_TRUE(rig.waitUntil(
            [&] {
                if (!window->acquiring()) return true;
                EXPECT_FALSE(window->acquireButton()->isEnabled());
                seen.insert(rig.cell(1001)->text());
                return false;
            },
            15000));
        return seen;
    }
    void waitForUpload() {
        EXPECT_TRUE(rig.waitUntil([&] { return !rig.logic().transferRunning(); }, 30000));
    }

    std::uint16_t port;
    StoppableWorld world;
    ApplicationTransfer* transfer = nullptr;
    ToolRig rig;
    ui::CommissioningWindow* window = nullptr;
};

// The screenshot folder: $QV_SCREENSHOT_DIR, else the test's own.
void saveScreenshot(QWidget& w, const std::string& name, const test::TempDir& dir) {
    const char* target = std::getenv("QV_SCREENSHOT_DIR");
    const QString path = QDir(QString::fromStdString(target ? target : dir.path()))
                             .filePath(QString::fromStdString(name));
    const QImage shot = w.grab().toImage();
    EXPECT_GT(shot.width(), 600);
    EXPECT_TRUE(shot.save(path, "PNG")) << path.toStdString();
}

double circularDegrees(double a, double b) {
    const double d = std::fmod((a - b) * 360 + 540, 360.0);
    return std::fabs((d < 0 ? d + 360 : d) - 180);
}

sim::SimMotor motor(bool reversed, int mode, std::array<int, 3> wiring, int poleRatio = 4) {
    sim::SimMotor m;
    m.phasesReversed = reversed;
    m.sensorMode = mode;
    m.hallWiring = wiring;
    m.poleRatio = poleRatio;
    return m;
}

TEST(ToolWindowsEndToEnd, DuvodaRezirWritesTheSimulatorsWiringAndTheUploadStoresIt) {
    struct Case {
        const char* name;
        sim::SimMotor motor;
    };
    const Case cases[] = {{"halls A-B-C", motor(false, 1, {0, 1, 2})},
                          {"halls A-C-B, inputs 3 1 2", motor(true, 1, {2, 0, 1})},
                          {"position only", motor(false, 2, {0, 1, 2}, 4)},
                          {"both, A-C-B", motor(true, 3, {1, 2, 0}, 5)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(c.motor, Tool::DuvodaRezir);
        ToolRig& rig = bench.rig;
        ui::CDuvodaRezir* w = rig.duvoda();
        ASSERT_TRUE(w->isVisible());
        bench.acquire();
        ASSERT_TRUE(rig.ui.takeMessages().empty());
        ASSERT_EQ(w->verdict()->text(), "SUCCESS") << w->analysisText()->text().toStdString();
        EXPECT_EQ(rig.selectorRuns, 1);
        // The window with every kind of trace and list line.
        if (c.motor.sensorMode == 3) saveScreenshot(*w, "duvodarezir-window.png", rig.dir);
        bench.waitForUpload();

        const sim::MotorModel model(c.motor);
        const MotorConfig& written = rig.store().motor[6];
        EXPECT_EQ(+written.phaseSequenceReversed, c.motor.phasesReversed ? 1 : 0);
        const bool halls = c.motor.sensorMode != 2;
        const auto truth = model.hallTable();
        const double tolerance = 2.5 * 360 * c.motor.speedHz / 1000;
        for (std::size_t s = 0; s < 8; ++s) {
            if (!halls) {
                EXPECT_EQ(+written.hallPrevious[s], static_cast<int>(s));
                continue;
            }
            EXPECT_EQ(+written.hallPrevious[s], truth[s].previous) << "state " << s;
            if (truth[s].previous != static_cast<int>(s)) {
                EXPECT_LE(circularDegrees(written.hallAngle[s], truth[s].angle), tolerance)
                    << "state " << s;
            }
        }
        if (!halls) {
            EXPECT_EQ(+written.hallAngle[0], static_cast<float>(model.poleRatio()));
        }

        // The controller stored exactly what the window wrote.
        const MotorConfig stored = storedMotor(bench.world, 6);
        EXPECT_EQ(+stored.phaseSequenceReversed, +written.phaseSequenceReversed);
        EXPECT_EQ(0, std::memcmp(stored.hallAngle, written.hallAngle, sizeof stored.hallAngle));
        EXPECT_EQ(
            0, std::memcmp(stored.hallPrevious, written.hallPrevious, sizeof stored.hallPrevious));
    }
}

TEST(ToolWindowsEndToEnd, PmExtractionRecoversRAndLWithinTwoPercentAndStoresThem) {
    sim::SimMotor m;
    m.resistanceOhm = 0.08;
    m.inductanceHenry = 250e-6;
    Bench bench(m, Tool::PmExtraction);
    ToolRig& rig = bench.rig;
    ui::CParamExtract* w = rig.pm();
    bench.acquire();
    ASSERT_TRUE(rig.ui.takeMessages().empty());
    const PmReport& report = *w->pmTool().report();
    ASSERT_TRUE(report.usable) << report.problem;
    EXPECT_NEAR(report.resistance, m.resistanceOhm, 0.02 * m.resistanceOhm);
    EXPECT_NEAR(report.inductance, m.inductanceHenry, 0.02 * m.inductanceHenry);
    EXPECT_EQ(w->resistance()->text().toStdString(), report.resistanceText);
    saveScreenshot(*w, "pm-extraction-window.png", rig.dir);
    bench.waitForUpload();
    const MotorConfig stored = storedMotor(bench.world, 6);
    EXPECT_EQ(+stored.lineResistance, static_cast<float>(report.resistance));
    EXPECT_EQ(+stored.lineInductance, static_cast<float>(report.inductance));
}

TEST(ToolWindowsEndToEnd, TelemetryKeepsUpdatingWhileAnAcquisitionWaits) {
    sim::ToolFaults faults;
    faults.stopData = 250;  // the tool waits a second for frame 250, then gives up
    Bench bench(sim::SimMotor{}, Tool::DuvodaRezir, faults);
    const std::set<QString> busCurrent = bench.acquire();
    EXPECT_GE(busCurrent.size(), 3u) << "the bus current cell stood still";
    EXPECT_EQ(bench.rig.ui.takeMessages(),
              std::vector<std::string>{
                  "Error occurred while receiving CAN packet 250 of DuvodaRezir acquisition"});
    EXPECT_TRUE(bench.window->acquireButton()->isEnabled());
    EXPECT_EQ(bench.rig.selectorRuns, 0);
}

// Both acquisition modes: the sweep recovers the simulator's circuit, the step response fits as
// qvcli fit-im does on the saved samples, and the upload stores the rotor values in the
// controller.
TEST(ToolWindowsEndToEnd, ImExtractionInBothModesStoresTheRotorValuesInTheController) {
    for (const int mode : {0, 1}) {
        SCOPED_TRACE(mode == 0 ? "frequency sweep" : "step response");
        sim::SimMotor m;
        m.resistanceOhm = 0.05;
        m.rotorResistanceOhm = 0.04;
        m.leakageInductanceHenry = 1e-3;
        m.magnetisingInductanceHenry = 0.02;
        m.imMode = mode;
        m.imInterval = 200;
        Bench bench(m, Tool::ImExtraction);
        ToolRig& rig = bench.rig;
        ui::CImExtract* w = rig.im();
        ASSERT_TRUE(w->isVisible());
        EXPECT_EQ(w->status()->text(), "Idle");
        // The line resistance as the permanent-magnet extraction measured it.
        rig.store().motor[6].lineResistance = static_cast<float>(m.resistanceOhm);
        const std::set<QString> busCurrent = bench.acquire();
        EXPECT_GE(busCurrent.size(), 2u) << "the bus current cell stood still";
        ASSERT_TRUE(rig.ui.takeMessages().empty());
        const ImExtraction& e = *w->imTool().extraction();
        ASSERT_TRUE(e.usable) << e.problem;
        EXPECT_EQ(w->status()->text(), "Completed");
        EXPECT_EQ(rig.imStatusAtSelector, "Completed");
        saveScreenshot(*w, mode == 0 ? "im-extraction-sweep.png" : "im-extraction-step.png",
                       rig.dir);
        const MotorConfig& written = rig.store().motor[6];
        const ImParameters& p = e.fit.parameters;
        if (mode == 0) {
            const double truth[] = {m.resistanceOhm, m.rotorResistanceOhm, m.leakageInductanceHenry,
                                    m.magnetisingInductanceHenry};
            for (std::size_t j = 0; j < 4; ++j)
                EXPECT_NEAR(p[j] / 1000, truth[j], 0.05 * truth[j]) << "parameter " << j;
            EXPECT_EQ(+written.rotorResistance, static_cast<float>(p[1] / 1000));
            EXPECT_EQ(+written.rotorInductance, static_cast<float>(p[3] / 1000));
        } else {
            EXPECT_EQ(+written.rotorResistance, static_cast<float>(written.lineResistance * p[0]));
            EXPECT_EQ(+written.rotorInductance, static_cast<float>(written.lineResistance * p[1]));
#ifdef QV_CLI_PATH
            const std::string path = rig.dir.file("step.txt");
            rig.ui.fileAnswers.push_back(path);
            QTest::mouseClick(w->saveButton(), Qt::LeftButton);
            const test::ProcessResult r =
                test::runProcess(QV_CLI_PATH, {"fit-im", "--mode", "1", path});
            ASSERT_EQ(r.exitCode, 0) << r.err;
            std::istringstream printed(r.out);
            for (std::size_t j = 0; j < 5; ++j) {
                double v = 0;
                printed >> v;
                EXPECT_EQ(v, p[j]) << "parameter " << j;
            }
#endif
        }
        bench.waitForUpload();
        EXPECT_EQ(rig.logic().transferJob().action, kActionSelectImTool);
        const MotorConfig stored = storedMotor(bench.world, 6);
        EXPECT_EQ(+stored.rotorResistance, +written.rotorResistance);
        EXPECT_EQ(+stored.rotorInductance, +written.rotorInductance);
        EXPECT_EQ(+stored.lineResistance, +written.lineResistance);
    }
}

}  // namespace
}  // namespace qv
