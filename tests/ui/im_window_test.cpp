// The induction-motor extraction window in the program's window set, with a fake bridge client:
// the controller's frames are pushed in by the test, the fits wait until the test runs them (as
// the worker would), and the tools' clock stands still unless the test moves it.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QPushButton>
#include <cmath>
#include <fstream>
#include <sstream>

#include "tool_rig.h"
#include "tools/im_models.h"
#include "tools/im_sample_file.h"
#include "tools/tool_fixtures.h"

namespace qv {
namespace {

using test::kRigToolBase;
using test::ToolRig;
using Frames = std::vector<std::pair<std::uint32_t, CanFrame::Data>>;
using Jobs = std::vector<std::shared_ptr<ImFitJob>>;

// Keeps every fit it is given until the test runs it or hands in a result of its own.
class HeldFitRunner : public ImFitRunner {
  public:
    explicit HeldFitRunner(std::shared_ptr<Jobs> jobs) : jobs_(std::move(jobs)) {}
    std::shared_ptr<ImFitJob> start(ImFitInput input) override {
        jobs_->push_back(std::make_shared<ImFitJob>(std::move(input)));
        return jobs_->back();
    }

  private:
    std::shared_ptr<Jobs> jobs_;
};

CanFrame::Data commandBytes(std::uint16_t tool, std::uint16_t start) {
    return ToolCommand{0.0f, tool, start}.encode();
}

// N = 40 points of a circuit of 50 mΩ, 40 mΩ, 1 mH, 20 mH driven with 2 V at every frequency.
Frames sweepFrames(int points = 40, std::uint16_t mode = 0) {
    Frames f{{kRigToolBase + 16,
              test::statusFrame(static_cast<std::uint16_t>(points), 0x7777, mode, 2)}};
    const auto omega = sweepFrequencies(static_cast<std::size_t>(points));
    for (double w : omega) {
        const double amps = frequencyResponseModel({50, 40, 1, 20, 0}, w, 2000);
        f.push_back({kRigToolBase + 17, packFloats({static_cast<float>(amps), 2.0f})});
    }
    return f;
}

// N = 100 frames, S = 10: a zero reference of 0.3 A, then a rise with Rr/Rs 0.8, Lm/Rs 0.2 s,
// Lls/Rs 0.01 s towards 20.3 A.
Frames stepFrames() {
    std::vector<float> s{0.3f};
    for (int i = 1; i < 200; ++i)
        s.push_back(
            static_cast<float>(0.3 + stepResponseModel({0.8, 0.2, 0.01, 20, 0}, (i - 1) * 1e-3)));
    Frames f{{kRigToolBase + 16, test::statusFrame(100, 10, 1, 3)}};
    for (std::size_t i = 0; i < s.size(); i += 2)
        f.push_back({kRigToolBase + 17, packFloats({s[i], s[i + 1]})});
    return f;
}

ImFitResult cannedFit(ImParameters p, std::size_t points, bool usable = true) {
    ImFitResult r;
    r.parameters = p;
    r.model.assign(points, 5.0);
    r.usable = usable;
    return r;
}

struct Opened {
    Opened() : rig(options()) {
        rig.selectDevice(PrivateConfig{});
        rig.logic().onCommand(kCmdImExtract);
        window = rig.im();
        EXPECT_TRUE(window->isVisible());
        // Distinct values, so that a field written from the wrong source shows.
        MotorConfig& m = rig.store().motor[6];
        m.lineResistance = 0.05f;
        m.rotorResistance = 1.25f;
        m.rotorInductance = 2.5f;
    }
    ToolRig::Options options() {
        ToolRig::Options o;
        o.fakeClock = true;
        auto t = std::make_unique<test::RecordingTransfer>();
        transfer = t.get();
        o.transfer = std::move(t);
        o.imFitRunner = [jobs = jobs] { return std::make_unique<HeldFitRunner>(jobs); };
        return o;
    }
    void acquire() {
        QTest::mouseClick(window->acquireButton(), Qt::LeftButton);
        ASSERT_TRUE(window->acquiring());
    }
    void send(const Frames& frames) {
        for (const auto& [id, data] : frames) rig.frame(id, data);
    }
    // Runs the fit that is waiting, as the worker would, and waits for the window to settle.
    bool fitAndSettle() {
        EXPECT_TRUE(rig.waitUntil([&] { return jobs->size() > fitted; }));
        if (jobs->size() <= fitted) return false;
        (*jobs)[fitted++]->run();
        return rig.waitUntil([&] { return !window->acquiring(); });
    }
    bool statusIs(const ToolStatus& s) {
        return window->status()->text().toStdString() == s.text &&
               window->status()->background() == s.background;
    }

    std::shared_ptr<Jobs> jobs = std::make_shared<Jobs>();
    std::size_t fitted = 0;
    test::RecordingTransfer* transfer = nullptr;
    ToolRig rig;
    ui::CImExtract* window = nullptr;
};

TEST(ImExtractWindow, SweepFitsWhileTheWindowWaitsAndWritesTheFitsOwnValues) {
    Opened o;
    ToolRig& rig = o.rig;
    ui::CImExtract* w = o.window;
    EXPECT_EQ(w->windowTitle(), "Induction Motor Extraction");
    EXPECT_EQ(w->acquireButton()->objectName(), "id1183");
    EXPECT_EQ(w->acquireButton()->text(), "Extract");
    EXPECT_EQ(w->closeButton()->text(), "Cancel");
    EXPECT_TRUE(w->log()->isReadOnly());
    EXPECT_TRUE(w->log()->isVisible());
    EXPECT_TRUE(o.statusIs(im_status::idle()));
    EXPECT_FALSE(w->saveButton()->isEnabled());
    EXPECT_EQ(rig.queued().back().data(), commandBytes(3, 0));

    o.acquire();
    // The request goes out at once by multicast, not queued on the connection.
    EXPECT_EQ(rig.queued().back().data(), commandBytes(3, 0));
    EXPECT_EQ(rig.sent().back().identifier(), kRigToolBase + 15);
    EXPECT_EQ(rig.sent().back().data(), commandBytes(0, 1));
    EXPECT_TRUE(o.statusIs(im_status::extracting()));
    o.send(sweepFrames());
    // Every frame is in; the fit has not run yet: the window still waits for it.
    ASSERT_TRUE(rig.waitUntil([&] { return o.jobs->size() == 1; }));
    QTest::qWait(20);
    EXPECT_TRUE(w->acquiring());
    EXPECT_TRUE(o.statusIs(im_status::extracting()));
    EXPECT_FALSE(w->acquireButton()->isEnabled());
    EXPECT_FALSE(w->saveButton()->isEnabled());
    EXPECT_TRUE(w->closeButton()->isEnabled());
    EXPECT_EQ(rig.selectorRuns, 0);
    // Telemetry keeps reaching the panel while the fit runs.
    rig.frame(kRigToolBase + 2, test::floats(57.0f, 3.0f));
    rig.logic().onTimer();
    rig.logic().onTimer();
    EXPECT_EQ(rig.cell(1000)->text(), "57.00 V");

    ASSERT_TRUE(o.fitAndSettle());
    EXPECT_TRUE(rig.ui.takeMessages().empty());
    EXPECT_TRUE(o.statusIs(im_status::completed()));
    EXPECT_TRUE(w->acquireButton()->isEnabled());
    EXPECT_TRUE(w->saveButton()->isEnabled());
    const QString log = w->log()->toPlainText();
    EXPECT_TRUE(log.startsWith("2000.000, ")) << log.toStdString();
    EXPECT_TRUE(log.contains("\nRs = ")) << log.toStdString();
    ASSERT_TRUE(w->plot()->layout().has_value());
    EXPECT_EQ(w->plot()->seriesCount(), 2);
    EXPECT_EQ(w->plot()->layout()->xTitle().text, "log freq (^10 rad/s)");

    // The selector ran with the result on screen; the record holds the fit's Rr and Lm in ohm
    // and henry, whatever its line resistance, and the upload went with action 4.
    EXPECT_EQ(rig.selectorRuns, 1);
    EXPECT_EQ(rig.imStatusAtSelector, "Completed");
    const ImParameters& p = w->imTool().extraction()->fit.parameters;
    EXPECT_NEAR(p[1], 40, 0.05 * 40);
    EXPECT_NEAR(p[3], 20, 0.05 * 20);
    const MotorConfig& m = rig.store().motor[6];
    EXPECT_EQ(+m.rotorResistance, static_cast<float>(p[1] / 1000));
    EXPECT_EQ(+m.rotorInductance, static_cast<float>(p[3] / 1000));
    EXPECT_EQ(+m.lineResistance, 0.05f);
    EXPECT_TRUE(rig.store().isModified(StructureKind::Motor));
    ASSERT_TRUE(rig.waitUntil([&] { return !rig.logic().transferRunning(); }));
    EXPECT_EQ(o.transfer->calls(), std::vector<std::string>{"upload"});
    EXPECT_EQ(rig.logic().transferJob().action, kActionSelectImTool);
}

TEST(ImExtractWindow, StepScalesByTheLineResistanceAndSaveDataWritesTheSamplesForFitIm) {
    Opened o;
    ToolRig& rig = o.rig;
    ui::CImExtract* w = o.window;
    o.acquire();
    o.send(stepFrames());
    ASSERT_TRUE(rig.waitUntil([&] { return o.jobs->size() == 1; }));
    // A fit that comes back as the write-back example: 0.05 ohm x (0.8, 0.2).
    (*o.jobs)[0]->publish(cannedFit({0.8, 0.2, 0.01, 20, 0}, 199));
    ASSERT_TRUE(rig.waitUntil([&] { return !w->acquiring(); }));
    EXPECT_TRUE(o.statusIs(im_status::completed()));
    EXPECT_TRUE(w->log()->toPlainText().startsWith("Rr/Rs = 0.800000 \n"));
    EXPECT_EQ(w->plot()->layout()->xTitle().text, "time (s)");
    EXPECT_EQ(w->plot()->seriesCount(), 2);
    const MotorConfig& m = rig.store().motor[6];
    EXPECT_FLOAT_EQ(m.rotorResistance, 0.04f);
    EXPECT_FLOAT_EQ(m.rotorInductance, 0.01f);
    ASSERT_TRUE(rig.waitUntil([&] { return !rig.logic().transferRunning(); }));
    EXPECT_EQ(rig.logic().transferJob().action, kActionSelectImTool);

    // "Save Data..." offers the step file and writes the samples as received.
    const std::string path = rig.dir.file("step.txt");
    rig.ui.fileAnswers.push_back(path);
    QTest::mouseClick(w->saveButton(), Qt::LeftButton);
    ASSERT_EQ(rig.ui.dialogs.size(), 1u);
    EXPECT_TRUE(rig.ui.dialogs[0].save);
    EXPECT_EQ(rig.ui.dialogs[0].defaultExtension, "txt");
    EXPECT_EQ(rig.ui.dialogs[0].initialPath, "im_step.txt");
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const ImSampleFile read = parseImSampleFile(text.str(), ImModel::StepResponse);
    EXPECT_EQ(read.samplingInterval, 10);
    EXPECT_EQ(read.currentA, w->imTool().extraction()->recording.currentA);
    // The next save starts where this one went; a file that cannot be written is told.
    rig.ui.fileAnswers.push_back(rig.dir.file("no/such/folder/x.txt"));
    QTest::mouseClick(w->saveButton(), Qt::LeftButton);
    ASSERT_EQ(rig.ui.dialogs.size(), 2u);
    EXPECT_EQ(rig.ui.dialogs[1].initialPath, rig.dir.file("im_step.txt"));
    test::expectOneMessageWith(rig.ui, "Could not save the samples");
}

TEST(ImExtractWindow, CancelDuringTheFitDropsItsResultAndTheNextExtractionRuns) {
    Opened o;
    ToolRig& rig = o.rig;
    ui::CImExtract* w = o.window;
    const auto before = test::recordBytes(rig.store());
    o.acquire();
    o.send(sweepFrames());
    ASSERT_TRUE(rig.waitUntil([&] { return o.jobs->size() == 1; }));
    QTest::mouseClick(w->closeButton(), Qt::LeftButton);
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->acquiring());
    EXPECT_TRUE((*o.jobs)[0]->cancelled());
    EXPECT_EQ(rig.queued().back().data(), commandBytes(0, 0));
    // The worker finishes meanwhile: nothing is shown, chosen or written.
    (*o.jobs)[0]->run();
    QTest::qWait(30);
    EXPECT_EQ(rig.selectorRuns, 0);
    EXPECT_EQ(test::recordBytes(rig.store()), before);
    EXPECT_TRUE(rig.ui.takeMessages().empty());
    EXPECT_FALSE(w->imTool().extraction().has_value());

    // Opened again, it starts from "Idle" and extracts as usual.
    rig.logic().onCommand(kCmdImExtract);
    ASSERT_TRUE(w->isVisible());
    EXPECT_TRUE(o.statusIs(im_status::idle()));
    o.fitted = 1;
    o.acquire();
    o.send(sweepFrames());
    ASSERT_TRUE(o.fitAndSettle());
    EXPECT_TRUE(o.statusIs(im_status::completed()));
    EXPECT_EQ(rig.selectorRuns, 1);
}

TEST(ImExtractWindow, FailuresAndUnusableResultsAreShownOnRedAndWriteNothing) {
    Opened o;
    ToolRig& rig = o.rig;
    ui::CImExtract* w = o.window;
    rig.chosenMotor = -1;
    const auto before = test::recordBytes(rig.store());
    o.acquire();
    o.send(sweepFrames());
    ASSERT_TRUE(o.fitAndSettle());
    const QString firstLog = w->log()->toPlainText();

    // The 5th frame missing: the stage-1 box; the last result stays on screen.
    o.acquire();
    const Frames frames = sweepFrames();
    o.send({frames.begin(), frames.begin() + 5});
    ASSERT_TRUE(rig.waitUntil([&] { return rig.app->port().queuedPackets() == 0; }));
    rig.advance(501);
    ASSERT_TRUE(rig.waitUntil([&] { return !w->acquiring(); }));
    EXPECT_EQ(rig.ui.takeMessages(),
              std::vector<std::string>{"Error occurred while receiving CAN packet 4 of "
                                       "acquisition"});
    EXPECT_TRUE(o.statusIs(im_status::error()));
    EXPECT_EQ(w->log()->toPlainText(), firstLog);
    EXPECT_EQ(w->plot()->seriesCount(), 2);
    EXPECT_TRUE(w->saveButton()->isEnabled());

    // A fit whose values are not finite: shown as not usable, never written.
    o.acquire();
    o.send(sweepFrames());
    ASSERT_TRUE(rig.waitUntil([&] { return o.jobs->size() == 2; }));
    ImFitResult broken = cannedFit({50, NAN, 1, 20, 0}, 40, false);
    (*o.jobs)[1]->publish(broken);
    ASSERT_TRUE(rig.waitUntil([&] { return !w->acquiring(); }));
    EXPECT_TRUE(o.statusIs(im_status::notUsable()));
    test::expectOneMessageWith(rig.ui, "no usable result");
    EXPECT_TRUE(w->log()->toPlainText().contains("nothing is written"));

    // An unknown mode: its frames are read, nothing is fitted, the chart is emptied.
    o.acquire();
    o.send(sweepFrames(6, 7));
    ASSERT_TRUE(rig.waitUntil([&] { return !w->acquiring(); }));
    EXPECT_EQ(o.jobs->size(), 2u);
    EXPECT_TRUE(o.statusIs(im_status::unknownMode(7)));
    EXPECT_TRUE(w->log()->toPlainText().startsWith("Acquisition mode 7 is neither"));
    EXPECT_EQ(w->plot()->seriesCount(), 0);
    EXPECT_FALSE(w->saveButton()->isEnabled());
    test::expectOneMessageWith(rig.ui, "nothing was fitted");

    EXPECT_EQ(rig.selectorRuns, 1);  // the first run only
    EXPECT_EQ(test::recordBytes(rig.store()), before);

    // Shown again, the window starts from "Idle".
    QTest::keyClick(w, Qt::Key_Escape);
    EXPECT_FALSE(w->isVisible());
    rig.logic().onCommand(kCmdImExtract);
    ASSERT_TRUE(w->isVisible());
    EXPECT_TRUE(o.statusIs(im_status::idle()));
}

// The program's own tool set, with the fit on the window's worker thread.
TEST(ImExtractWindow, TheProgramsToolsMenuOpensItAndClosingTheProgramMidFitIsSafe) {
    test::UiRig rig(std::nullopt,
                    [](test::UiRig& r) { ui::installCommissioningTools(r.factory, *r.app, r.ui); });
    rig.announce(kRigToolBase, "KX01", 123456);
    rig.logic().onTimer();
    for (const auto kind : {StructureKind::Public, StructureKind::Private, StructureKind::Motor})
        rig.app->store().setValid(kind, true);
    rig.logic().onCommand(kCmdImExtract);
    auto* w = rig.window->findChild<ui::CImExtract*>("id143");
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(w->isVisible());
    QTest::mouseClick(w->acquireButton(), Qt::LeftButton);
    // 2000 samples: the fit takes seconds, and is cancelled when the program ends.
    rig.frame(kRigToolBase + 16, test::statusFrame(1000, 10, 1, 3));
    for (int i = 0; i < 1000; ++i)
        rig.frame(kRigToolBase + 17, packFloats({static_cast<float>(i), static_cast<float>(i)}));
    ASSERT_TRUE(rig.waitUntil([&] { return !w->imTool().wantedIdentifier(); }));
    EXPECT_TRUE(w->acquiring());  // the fit runs on the worker
    EXPECT_TRUE(rig.ui.takeMessages().empty());
}

}  // namespace
}  // namespace qv
