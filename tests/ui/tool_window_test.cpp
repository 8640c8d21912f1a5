// The DuvodaRezir and PM extraction windows in the program's window set, with a fake bridge
// client: the frames of a controller are pushed in by the test, the tools' clock stands still
// unless the test moves it.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/process.h"
#include "tool_rig.h"
#include "tools/pm_analysis.h"
#include "tools/tool_fixtures.h"

namespace qv {
namespace {

using test::kRigToolBase;
using test::ToolRig;

PrivateConfig calibration() {
    const PhaseCalibration c = test::testCalibration();
    PrivateConfig p{};
    p.baseVoltage = static_cast<float>(c.baseVoltage);
    p.baseCurrent = 200;
    p.phaseAVoltage = c.phaseA;
    p.phaseBVoltage = c.phaseB;
    p.phaseCVoltage = c.phaseC;
    return p;
}

struct Opened {
    explicit Opened(Tool tool, bool withTransfer = true) : rig(options(withTransfer)) {
        rig.selectDevice(calibration());
        rig.logic().onCommand(tool == Tool::DuvodaRezir ? kCmdDuvodaRezir : kCmdParamExtract);
        window = tool == Tool::DuvodaRezir ? static_cast<ui::CommissioningWindow*>(rig.duvoda())
                                           : rig.pm();
        EXPECT_TRUE(window->isVisible());
    }
    ToolRig::Options options(bool withTransfer) {
        ToolRig::Options o;
        o.fakeClock = true;
        if (withTransfer) {
            auto t = std::make_unique<test::RecordingTransfer>();
            transfer = t.get();
            o.transfer = std::move(t);
        }
        return o;
    }
    void acquire() {
        QTest::mouseClick(window->acquireButton(), Qt::LeftButton);
        ASSERT_TRUE(window->acquiring());
    }
    void send(const std::vector<std::pair<std::uint32_t, CanFrame::Data>>& frames) {
        for (const auto& [id, data] : frames) rig.frame(id, data);
    }
    bool settled() {
        return rig.waitUntil([&] { return !window->acquiring(); });
    }

    test::RecordingTransfer* transfer = nullptr;
    ToolRig rig;
    ui::CommissioningWindow* window = nullptr;
};

CanFrame::Data commandBytes(std::uint16_t tool, std::uint16_t start) {
    return ToolCommand{0.0f, tool, start}.encode();
}

// The frames of a PM acquisition: N1 V-I points of a winding of `ohms` phase to neutral (the
// DC test drives the current through two phases), then N2 points of a decay from `io` amps
// with time constant `tau`, at S = 10000.
std::vector<std::pair<std::uint32_t, CanFrame::Data>> pmReplies(int n1, int n2, double ohms,
                                                                double io, double tau,
                                                                bool equalVoltages = false) {
    const PrivateConfig p = calibration();
    const auto volts = [&](double v) {
        return static_cast<std::uint16_t>(std::lround(v / p.baseVoltage * 32768));
    };
    const auto amps = [&](double a) {
        return static_cast<std::uint16_t>(std::lround(a / p.baseCurrent * 32768));
    };
    std::vector<std::pair<std::uint32_t, CanFrame::Data>> out;
    out.push_back(
        {kRigToolBase + kAcquisitionStatusOffset,
         AcquisitionStatus{10000, static_cast<std::uint16_t>(n2), static_cast<std::uint16_t>(n1), 2}
             .encode()});
    const auto vi = [&](int k) {
        const double v = equalVoltages ? 4.0 : 0.5 * (k + 1);
        return std::pair{volts(v), amps(v / (2 * ohms))};
    };
    for (int i = 0; i < n1; i += 2) {
        const auto [v0, i0] = vi(i);
        const auto [v1, i1] = vi(i + 1);
        out.push_back({kRigToolBase + kAcquisitionDataOffset, packWords({i1, v1, i0, v0})});
    }
    const auto decay = [&](int k) {
        const double t = k * 3e-4;
        return std::pair{static_cast<std::uint16_t>(std::lround(t * 10000)),
                         amps(io * std::exp(-t / tau))};
    };
    for (int j = 0; j < n2; j += 2) {
        const auto [t0, c0] = decay(j);
        const auto [t1, c1] = decay(j + 1);
        out.push_back({kRigToolBase + kAcquisitionDataOffset, packWords({c1, t1, c0, t0})});
    }
    return out;
}

std::vector<std::string> textLines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream s(text);
    for (std::string l; std::getline(s, l);) out.push_back(l);
    return out;
}

TEST(DuvodaRezirWindow, AcquiresWithoutBlockingAnalysesAndWritesTheChosenMotor) {
    Opened o(Tool::DuvodaRezir);
    ToolRig& rig = o.rig;
    ui::CDuvodaRezir* w = rig.duvoda();
    EXPECT_EQ(w->windowTitle(), "DuvodaRezir");
    // Shown: the controller hears that tool 1 is open.
    ASSERT_FALSE(rig.queued().empty());
    EXPECT_EQ(rig.queued().back().identifier(), kRigToolBase + 15);
    EXPECT_EQ(rig.queued().back().data(), commandBytes(1, 0));
    EXPECT_FALSE(w->saveButton()->isEnabled());  // nothing acquired yet

    o.acquire();
    EXPECT_EQ(rig.queued().back().data(), commandBytes(0, 1));
    EXPECT_FALSE(w->acquireButton()->isEnabled());
    EXPECT_FALSE(w->saveButton()->isEnabled());
    EXPECT_TRUE(w->closeButton()->isEnabled());  // Close gives the acquisition up

    // Telemetry keeps reaching the panel while the tool waits, and the tick leaves the tool's
    // frames alone: the status pushed before the tick still reaches the tool.
    test::MotorSpec spec;
    const auto replies = test::phaseReplies(test::makePhaseRecording(spec), kRigToolBase);
    rig.frame(replies[0].first, replies[0].second);
    rig.frame(kRigToolBase + 2, test::floats(57.0f, 3.0f));
    rig.logic().onTimer();
    ASSERT_TRUE(rig.waitUntil([&] { return rig.app->port().queuedPackets() == 0; }));
    rig.logic().onTimer();
    EXPECT_EQ(rig.cell(1000)->text(), "57.00 V");
    EXPECT_TRUE(w->acquiring());

    o.send({replies.begin() + 1, replies.end()});
    ASSERT_TRUE(o.settled());
    EXPECT_TRUE(rig.ui.takeMessages().empty());
    EXPECT_EQ(w->verdict()->text(), "SUCCESS");
    EXPECT_EQ(w->verdict()->background(), tool_colour::kSuccess);
    EXPECT_EQ(w->analysisText()->background(), tool_colour::kSuccess);
    EXPECT_TRUE(w->analysisText()->text().endsWith("II) B\nIII) C\n"));
    ASSERT_EQ(w->resultList()->count(), 8);
    EXPECT_EQ(w->resultList()->item(0)->text(), QString::fromUtf8("360\xC2\xB0 000=>000"));
    EXPECT_EQ(w->resultList()->item(7)->text(), QString::fromUtf8("360\xC2\xB0 111=>111"));
    EXPECT_TRUE(w->acquireButton()->isEnabled());
    EXPECT_TRUE(w->saveButton()->isEnabled());
    ASSERT_TRUE(w->voltagePlot()->layout().has_value());
    EXPECT_EQ(w->voltagePlot()->seriesCount(), 3);
    EXPECT_EQ(w->sensorPlot()->seriesCount(), 3);

    // The selector ran once, with the verdict already on screen; the record it chose holds
    // the table and the phase sequence, and the upload went with action 8.
    EXPECT_EQ(rig.selectorRuns, 1);
    EXPECT_EQ(rig.verdictAtSelector, "SUCCESS");
    const PhaseReport& report = *w->phaseTool().report();
    const MotorConfig& m = rig.store().motor[6];
    for (std::size_t s = 0; s < 8; ++s) {
        EXPECT_EQ(+m.hallPrevious[s], report.table[s].previous) << s;
        EXPECT_FLOAT_EQ(m.hallAngle[s], static_cast<float>(report.table[s].angle)) << s;
    }
    EXPECT_EQ(+m.phaseSequenceReversed, 0);
    EXPECT_TRUE(rig.store().isModified(StructureKind::Motor));
    ASSERT_TRUE(rig.waitUntil([&] { return !rig.logic().transferRunning(); }));
    EXPECT_EQ(o.transfer->calls(), std::vector<std::string>{"upload"});
    EXPECT_EQ(rig.logic().transferJob().action, kActionSelectDuvodaRezir);
}

TEST(DuvodaRezirWindow, CancelledSelectorWritesNothingAndSaveDataGivesTheFileQvcliReads) {
    Opened o(Tool::DuvodaRezir);
    ToolRig& rig = o.rig;
    rig.chosenMotor = -1;
    const auto before = test::recordBytes(rig.store());
    test::MotorSpec spec;
    spec.reversed = true;
    o.acquire();
    o.send(test::phaseReplies(test::makePhaseRecording(spec), kRigToolBase));
    ASSERT_TRUE(o.settled());
    ui::CDuvodaRezir* w = rig.duvoda();
    EXPECT_EQ(rig.selectorRuns, 1);
    EXPECT_EQ(test::recordBytes(rig.store()), before);
    EXPECT_FALSE(rig.store().isModified(StructureKind::Motor));
    EXPECT_FALSE(rig.logic().transferRunning());
    EXPECT_TRUE(o.transfer->calls().empty());
    // The results stay on screen.
    EXPECT_EQ(w->verdict()->text(), "SUCCESS");
    EXPECT_TRUE(w->analysisText()->text().endsWith("II) C\nIII) B\n"));
    ASSERT_EQ(w->resultList()->count(), 8);

    const std::string chosen = rig.dir.file("phases");
    rig.ui.fileAnswers.push_back(chosen);
    QTest::mouseClick(w->saveButton(), Qt::LeftButton);
    ASSERT_EQ(rig.ui.dialogs.size(), 1u);
    EXPECT_TRUE(rig.ui.dialogs[0].save);
    EXPECT_EQ(rig.ui.dialogs[0].defaultExtension, "csv");
    EXPECT_NE(rig.ui.dialogs[0].initialPath.find("DuvodaRezir_"), std::string::npos);
#ifdef QV_CLI_PATH
    const test::ProcessResult r =
        test::runProcess(QV_CLI_PATH, {"analyse-phases", chosen + ".csv"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const auto lines = textLines(r.out);
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(lines[lines.size() - 9], "SUCCESS");
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(QString::fromStdString(lines[lines.size() - 8 + static_cast<std::size_t>(i)]),
                  w->resultList()->item(i)->text());
#endif
    // A file that cannot be written is told, naming it; the next save starts in the folder
    // written to last (not in the one that failed).
    rig.ui.fileAnswers.push_back(rig.dir.file("no/such/folder/x.csv"));
    QTest::mouseClick(w->saveButton(), Qt::LeftButton);
    test::expectOneMessageWith(rig.ui, "no/such/folder/x.csv");
    QTest::mouseClick(w->saveButton(), Qt::LeftButton);  // cancelled
    ASSERT_EQ(rig.ui.dialogs.size(), 3u);
    const std::string folder = std::filesystem::path(chosen).parent_path().string() + "/";
    for (std::size_t i = 1; i < 3; ++i)
        EXPECT_EQ(rig.ui.dialogs[i].initialPath.rfind(folder + "DuvodaRezir_", 0), 0u)
            << rig.ui.dialogs[i].initialPath;

    // Until the program has its motor selector window, the stand-in chooses no record.
    EXPECT_EQ(ui::motorSelectorPending(rig.ui)(w, rig.store()), -1);
    test::expectOneMessageWith(rig.ui, "not available in this version yet");
}

TEST(DuvodaRezirWindow, VoltagesThatCannotBeAnalysedClearTheEarlierVerdict) {
    Opened o(Tool::DuvodaRezir);
    ToolRig& rig = o.rig;
    rig.chosenMotor = -1;  // no upload between the runs
    o.acquire();
    o.send(test::phaseReplies(test::makePhaseRecording(test::MotorSpec{}), kRigToolBase));
    ASSERT_TRUE(o.settled());
    ui::CDuvodaRezir* w = rig.duvoda();
    ASSERT_EQ(w->verdict()->text(), "SUCCESS");

    test::MotorSpec still;
    still.amplitude = 0;  // a motor that does not turn: no crossing
    o.acquire();
    o.send(test::phaseReplies(test::makePhaseRecording(still), kRigToolBase));
    ASSERT_TRUE(o.settled());
    EXPECT_TRUE(w->analysisText()->text().startsWith(
        "An error occurred when attempting to find the positive going zero crossing"));
    EXPECT_EQ(w->analysisText()->background(), tool_colour::kFailure);
    EXPECT_EQ(w->verdict()->text(), "");
    EXPECT_EQ(w->resultList()->count(), 0);
    EXPECT_EQ(rig.selectorRuns, 1);  // the second run offers nothing for writing
}

TEST(DuvodaRezirWindow, HiddenOrClosedTheAcquisitionIsGivenUpAndTheTickDrainsAgain) {
    Opened o(Tool::DuvodaRezir);
    ToolRig& rig = o.rig;
    o.acquire();
    rig.logic().onCommand(kCmdParamExtract);
    EXPECT_FALSE(rig.duvoda()->isVisible());
    EXPECT_FALSE(rig.duvoda()->acquiring());
    EXPECT_TRUE(rig.pm()->isVisible());
    // The controller hears tool 0, then tool 2.
    const auto q = rig.queued();
    ASSERT_GE(q.size(), 2u);
    EXPECT_EQ(q[q.size() - 2].data(), commandBytes(0, 0));
    EXPECT_EQ(q.back().data(), commandBytes(2, 0));
    // Frames of the abandoned acquisition go to the decoder with everything else.
    o.send(test::phaseReplies(test::makePhaseRecording(test::MotorSpec{}), kRigToolBase));
    rig.logic().onTimer();
    EXPECT_EQ(rig.app->port().queuedPackets(), 0u);
    EXPECT_FALSE(rig.duvoda()->phaseTool().report().has_value());
    EXPECT_TRUE(rig.ui.takeMessages().empty());

    // Escape gives an acquisition up as well, and disables the window.
    ui::CParamExtract* pm = rig.pm();
    QTest::mouseClick(pm->acquireButton(), Qt::LeftButton);
    ASSERT_TRUE(pm->acquiring());
    QTest::keyClick(pm, Qt::Key_Escape);
    EXPECT_FALSE(pm->isVisible());
    EXPECT_FALSE(pm->isEnabled());
    EXPECT_FALSE(pm->acquiring());
    EXPECT_EQ(rig.queued().back().data(), commandBytes(0, 0));
}

TEST(DuvodaRezirWindow, NothingIsAcquiredOrWrittenWhileAConfigurationTransferRuns) {
    Opened o(Tool::DuvodaRezir);
    ToolRig& rig = o.rig;
    const auto before = test::recordBytes(rig.store());
    o.acquire();
    // A transfer starts meanwhile (after an upload the worker waits a second before it
    // selects the tool again): the result is shown but not written into the store it uses.
    rig.logic().onTransferDone(kActionSelectDuvodaRezir, false);
    ASSERT_TRUE(rig.logic().transferRunning());
    o.send(test::phaseReplies(test::makePhaseRecording(test::MotorSpec{}), kRigToolBase));
    ASSERT_TRUE(o.settled());
    EXPECT_EQ(rig.duvoda()->verdict()->text(), "SUCCESS");
    EXPECT_EQ(rig.selectorRuns, 0);
    EXPECT_EQ(test::recordBytes(rig.store()), before);
    test::expectOneMessageWith(rig.ui, "The result was not written");

    const std::size_t sent = rig.queued().size();
    QTest::mouseClick(o.window->acquireButton(), Qt::LeftButton);
    EXPECT_FALSE(o.window->acquiring());
    EXPECT_EQ(rig.queued().size(), sent);
    test::expectOneMessageWith(rig.ui, "transfer is still running");
}

TEST(ParamExtractWindow, AnUnusableFitIsShownOnRedAndNotWrittenAUsableOneIsSavedForQvcli) {
    Opened o(Tool::PmExtraction);
    ToolRig& rig = o.rig;
    ui::CParamExtract* w = rig.pm();
    EXPECT_EQ(rig.queued().back().data(), commandBytes(2, 0));
    EXPECT_EQ(w->resistance()->text(), "0.0mR");
    EXPECT_TRUE(w->log()->isHidden());
    const auto before = test::recordBytes(rig.store());
    o.acquire();
    o.send(pmReplies(6, 6, 0.05, 50, 0.002, true));
    ASSERT_TRUE(o.settled());
    EXPECT_EQ(w->resistance()->text(), "not usable");
    EXPECT_EQ(w->resistance()->background(), tool_colour::kFailure);
    EXPECT_EQ(w->inductance()->background(), tool_colour::kFailure);
    test::expectOneMessageWith(rig.ui, "no usable resistance");
    EXPECT_EQ(rig.selectorRuns, 0);
    EXPECT_EQ(test::recordBytes(rig.store()), before);
    EXPECT_TRUE(o.transfer->calls().empty());

    rig.chosenMotor = -1;
    o.acquire();
    o.send(pmReplies(20, 20, 0.05, 50, 0.002));
    ASSERT_TRUE(o.settled());
    EXPECT_EQ(w->resistance()->text(), "50.0mR");
    EXPECT_EQ(w->inductance()->text(), "100.0uH");
    EXPECT_EQ(w->resistance()->background(), kButtonFace);
    EXPECT_TRUE(w->log()->toPlainText().startsWith("20, 20\nResistance Acq\n"));
    EXPECT_EQ(w->decayPlot()->seriesCount(), 2);
    const std::string path = rig.dir.file("pm.csv");
    rig.ui.fileAnswers.push_back(path);
    QTest::mouseClick(w->saveButton(), Qt::LeftButton);
#ifdef QV_CLI_PATH
    const test::ProcessResult r = test::runProcess(QV_CLI_PATH, {"fit-pm", path});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const auto lines = textLines(r.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "50.0mR");
    EXPECT_EQ(lines.back(), "100.0uH");
#endif
}

}  // namespace
}  // namespace qv
