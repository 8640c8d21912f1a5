// The commissioning assistant's window against the simulator: opened from the Tools menu, driven
// with its buttons through a whole pass (pictures of its pages saved on the way when
// QV_SCREENSHOT_DIR is set), and stopped when the main window closes it.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "stoppable_world.h"
#include "support/loopback.h"
#include "support/ports.h"
#include "ui/commission_window.h"
#include "ui_rig.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

// Answers every question Yes, as a user who wants the pass to go through.
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

void screenshot(QWidget* w, const char* name) {
    const char* dir = std::getenv("QV_SCREENSHOT_DIR");
    if (!dir || !*dir) return;
    QApplication::processEvents();
    w->grab().save(QDir(dir).filePath(name), "PNG");
}

struct AssistantBench {
    AssistantBench()
        : port(test::freePort()),
          world([this] {
              sim::Options o;
              o.port = port;
              o.seed = 5;
              o.devices.push_back(sim::parseDevice("0x400:123456:KX01"));
              o.commissioning.motor.phasesReversed = true;
              return o;
          }()),
          rig(test::loopbackSettings(port), [this](test::UiRig& r) {
              AssistantServices s = ui::applicationAssistantServices(*r.app, agreeing);
              r.factory.setToolCreator(Tool::Commissioning, [s](QWidget* owner) {
                  return std::make_unique<ui::CommissionToolWindow>(
                      new ui::CommissionWindow(s, owner));
              });
          }) {
        EXPECT_TRUE(rig.waitUntil([&] { return rig.logic().monitor().selected().selected; }));
        rig.logic().onCommand(kCmdCommissioningAssistant);
        window = rig.window->findChild<ui::CommissionWindow*>("CommissionDlg");
        EXPECT_TRUE(window && window->isVisible());
    }
    // Presses `button` once it is enabled and waits until the pass is no longer busy.
    bool press(QPushButton* button, int ms = 20000) {
        if (!rig.waitUntil([&] { return button->isEnabled(); }, ms)) return false;
        button->click();
        return rig.waitUntil([&] { return !window->assistant().busy(); }, ms);
    }

    std::uint16_t port;
    AgreeingUi agreeing;
    test::StoppableWorld world;
    test::UiRig rig;
    ui::CommissionWindow* window = nullptr;
    test::TempDir dir;
};

TEST(CommissionWindowEndToEnd, AWholePassFromTheToolsMenuWritesVerifiesAndReports) {
    AssistantBench b;
    ui::CommissionWindow* w = b.window;
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->nextButton()->text(), "Start");
    EXPECT_EQ(w->motorBox()->count(), 10);
    // A fresh folder is offered under ~/qvconfig/commissioning; the test chooses its own.
    EXPECT_NE(w->folderEdit()->text().indexOf("0x400_123456_"), -1)
        << w->folderEdit()->text().toStdString();
    const std::string folder = b.dir.file("pass");
    w->folderEdit()->setText(QString::fromStdString(folder));
    w->motorBox()->setCurrentIndex(2);
    w->typeBox()->setCurrentIndex(1);  // BLDC
    screenshot(w, "commission-device.png");

    ASSERT_TRUE(b.press(w->nextButton()));  // Start: the device step and the backup
    EXPECT_EQ(w->assistant().page(), AssistantPage::Phases);
    EXPECT_EQ(w->nextButton()->text(), "Acquire");
    EXPECT_TRUE(fs::exists(fs::path(folder) / "before.cfg"));
    ASSERT_TRUE(b.press(w->nextButton()));  // Acquire
    EXPECT_EQ(w->assistant().pass()->outcome(), StepOutcome::Succeeded)
        << w->hintLabel()->text().toStdString();
    EXPECT_TRUE(w->retryButton()->isEnabled());
    screenshot(w, "commission-phases.png");

    ASSERT_TRUE(b.press(w->nextButton()));  // Next
    EXPECT_EQ(w->nextButton()->text(), "Measure");
    ASSERT_TRUE(b.press(w->nextButton()));  // Measure
    EXPECT_EQ(w->assistant().pass()->outcome(), StepOutcome::Succeeded);
    screenshot(w, "commission-parameters.png");

    ASSERT_TRUE(b.press(w->nextButton()));  // Next: the review
    EXPECT_EQ(w->assistant().page(), AssistantPage::Review);
    EXPECT_EQ(w->nextButton()->text(), "Write");
    EXPECT_GT(w->changeTable()->rowCount(), 3);
    EXPECT_EQ(w->changeTable()->item(0, 0)->text(), "motor[2]");
    screenshot(w, "commission-review.png");

    ASSERT_TRUE(b.press(w->nextButton(), 30000));  // Write, reset, read back, report
    const CommissioningPass* pass = w->assistant().pass();
    ASSERT_TRUE(pass->finished());
    EXPECT_TRUE(pass->record().complete) << pass->record().stopReason;
    EXPECT_EQ(w->assistant().page(), AssistantPage::Report);
    EXPECT_TRUE(w->openReportButton()->isEnabled());
    EXPECT_FALSE(w->cancelButton()->isEnabled());
    EXPECT_TRUE(fs::exists(fs::path(folder) / "report.html"));
    EXPECT_TRUE(fs::exists(fs::path(folder) / "phases_voltages.png"));
    screenshot(w, "commission-report.png");

    const auto stream = b.world.storedStream(0x400, 2);
    MotorConfig m{};
    std::memcpy(&m, stream.data() + 30 + 2 * sizeof m, sizeof m);
    EXPECT_EQ(+m.phaseSequenceReversed, 1);
}

TEST(CommissionWindowEndToEnd, ReConnectStopsThePassAndKeepsTheRecord) {
    AssistantBench b;
    ui::CommissionWindow* w = b.window;
    ASSERT_NE(w, nullptr);
    const std::string folder = b.dir.file("stopped");
    w->folderEdit()->setText(QString::fromStdString(folder));
    ASSERT_TRUE(b.press(w->nextButton()));
    ASSERT_EQ(w->assistant().page(), AssistantPage::Phases);
    w->nextButton()->click();  // Acquire...
    ASSERT_TRUE(b.rig.waitUntil([&] { return w->acquiring(); }));
    b.rig.logic().onCommand(kCmdTelemetry);  // not a tool window: the assistant stays
    EXPECT_TRUE(w->isVisible());
    // Re-Connect hides every tool window and forgets the devices.
    b.rig.logic().onCommand(kCmdReconnect);
    EXPECT_FALSE(w->isVisible());
    ASSERT_TRUE(b.rig.waitUntil([&] { return w->assistant().pass()->finished(); }));
    const PassRecord& r = w->assistant().pass()->record();
    EXPECT_EQ(r.stoppedAt, PassStep::Phases);
    EXPECT_NE(r.stopReason.find("Re-Connect"), std::string::npos) << r.stopReason;
    std::ifstream html(fs::path(folder) / "report.html");
    std::stringstream text;
    text << html.rdbuf();
    EXPECT_NE(text.str().find("INCOMPLETE: stopped at Phase and hall allocation"),
              std::string::npos);
    // Opened again once the controller is back: a fresh first page.
    ASSERT_TRUE(b.rig.waitUntil([&] { return b.rig.logic().monitor().selected().selected; }));
    b.rig.logic().onCommand(kCmdCommissioningAssistant);
    ASSERT_TRUE(b.rig.waitUntil([&] { return w->isVisible(); }));
    EXPECT_EQ(w->assistant().pass(), nullptr);
    EXPECT_EQ(w->nextButton()->text(), "Start");
}

}  // namespace
}  // namespace qv
