// The induction-motor extraction through the program's CAN port against a simulated controller:
// the frequency sweep finds the simulator's circuit, the step response fits as qvcli fit-im does
// on the saved samples, and the controller's faults give the tool's messages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <span>
#include <sstream>

#include "commissioning_rig.h"
#include "config/config_stream.h"
#include "config_transfer_rig.h"
#include "support/process.h"
#include "tools/im_extraction.h"

namespace qv {
namespace {

using test::nowMs;
using test::Rig;

struct Circuit {
    double rs, rr, lls, lm;
    int interval = 200;  // step response: S in 100 us units
};

sim::CommissioningOptions imOptions(const Circuit& c, int mode) {
    sim::CommissioningOptions o;
    o.motor.resistanceOhm = c.rs;
    o.motor.rotorResistanceOhm = c.rr;
    o.motor.leakageInductanceHenry = c.lls;
    o.motor.magnetisingInductanceHenry = c.lm;
    o.motor.imMode = mode;
    o.motor.imInterval = c.interval;
    return o;
}

std::unique_ptr<ImExtractionTool> imTool(Rig& rig) {
    return std::make_unique<ImExtractionTool>(rig.context(), std::make_unique<ThreadFitRunner>());
}

double relative(double value, double truth) {
    return value / truth - 1;
}

TEST(ImExtractionEndToEnd, FrequencySweepRecoversTheSimulatedCircuitWithinFivePercent) {
    for (const Circuit& c : {Circuit{0.05, 0.05, 1e-3, 0.02}, Circuit{0.1, 0.08, 1e-3, 0.02},
                             Circuit{0.05, 0.04, 1e-3, 0.02}}) {
        Rig rig(imOptions(c, 0));
        rig.store.motor[5].lineResistance = 0.123f;  // a sweep does not need it
        auto tool = imTool(rig);
        EXPECT_GT(rig.run(*tool), 0) << "telemetry stopped during the acquisition";
        ASSERT_TRUE(rig.ui.boxes.empty()) << rig.ui.boxes[0].text;
        ASSERT_TRUE(tool->extraction().has_value());
        const ImExtraction& e = *tool->extraction();
        ASSERT_TRUE(e.usable) << e.problem;
        EXPECT_EQ(tool->status(), im_status::completed());
        EXPECT_EQ(e.recording.count, 40);
        const ImParameters& p = e.fit.parameters;
        const double truth[] = {c.rs, c.rr, c.lls, c.lm};
        std::printf(
            "sweep Rs %g Rr %g Lls %g Lm %g: errors %+.2f%% %+.2f%% %+.2f%% %+.2f%%, Ib %.3f A\n",
            c.rs, c.rr, c.lls, c.lm, 100 * relative(p[0] / 1000, c.rs),
            100 * relative(p[1] / 1000, c.rr), 100 * relative(p[2] / 1000, c.lls),
            100 * relative(p[3] / 1000, c.lm), p[4]);
        for (std::size_t j = 0; j < 4; ++j)
            EXPECT_NEAR(p[j] / 1000, truth[j], 0.05 * truth[j]) << "parameter " << j;
        ASSERT_EQ(rig.uploads, (std::vector<int>{4}));
        const MotorConfig& m = rig.store.motor[5];
        EXPECT_NEAR(m.rotorResistance, c.rr, 0.05 * c.rr);
        EXPECT_NEAR(m.rotorInductance, c.lm, 0.05 * c.lm);
        EXPECT_EQ(+m.lineResistance, 0.123f);
    }
}

// The five parameters and the model values `qvcli fit-im` prints.
std::vector<double> numbers(const std::string& text) {
    std::vector<double> out;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        double v = 0;
        const auto r = std::from_chars(word.data(), word.data() + word.size(), v);
        EXPECT_EQ(r.ec, std::errc()) << word;
        out.push_back(v);
    }
    return out;
}

class TempFile {
  public:
    explicit TempFile(const std::string& name)
        : path_(std::filesystem::temp_directory_path() /
                ("qv_im_" + std::to_string(::getpid()) + "_" + name)) {}
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    std::string path() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

// Circuits whose slow time constant Lm (Rs + Rr) / (Rs Rr) fits at least four times into the
// 200 samples.
TEST(ImExtractionEndToEnd, StepResponseFitsAsFitImDoesOnTheSavedSamples) {
    const Circuit circuits[] = {{0.05, 0.05, 1e-3, 0.02, 200},
                                {0.05, 0.04, 0.2e-3, 3e-3, 40},
                                {0.1, 0.08, 1e-3, 0.02, 100},
                                {0.05, 0.015, 0.5e-3, 5e-3, 100},
                                {0.02, 0.02, 0.1e-3, 5e-3, 150}};
    // The circuits check the fit's accuracy, which the other builds do; under the thread
    // checker, where each fit takes seconds, one circuit shows the threads at work.
#ifdef __SANITIZE_THREAD__
    const std::size_t circuitCount = 1;
#else
    const std::size_t circuitCount = std::size(circuits);
#endif
    for (const Circuit& c : std::span(circuits, circuitCount)) {
        Rig rig(imOptions(c, 1));
        // The line resistance as the permanent-magnet extraction would have measured it.
        rig.store.motor[5].lineResistance = static_cast<float>(c.rs);
        auto tool = imTool(rig);
        rig.run(*tool);
        ASSERT_TRUE(rig.ui.boxes.empty()) << rig.ui.boxes[0].text;
        const ImExtraction& e = *tool->extraction();
        ASSERT_TRUE(e.usable) << e.problem;
        EXPECT_EQ(e.recording.samplingInterval, c.interval);
        EXPECT_EQ(e.recording.currentA.size(), 200u);

        const TempFile file("step_" + std::to_string(c.interval) + ".txt");
        rig.ui.fileAnswer = file.path();
        ASSERT_TRUE(tool->saveData());
        const auto cli = test::runProcess(QV_CLI_PATH, {"fit-im", "--mode", "1", file.path()});
        ASSERT_EQ(cli.exitCode, 0) << cli.err;
        const std::vector<double> printed = numbers(cli.out);
        ASSERT_EQ(printed.size(), 5 + e.fit.model.size());
        for (std::size_t j = 0; j < 5; ++j) EXPECT_EQ(printed[j], e.fit.parameters[j]) << j;
        for (std::size_t i = 0; i < e.fit.model.size(); ++i)
            ASSERT_EQ(printed[5 + i], e.fit.model[i]) << "model value " << i;

        const ImParameters& p = e.fit.parameters;
        const MotorConfig& m = rig.store.motor[5];
        const double rr = relative(m.rotorResistance, c.rr), lm = relative(m.rotorInductance, c.lm);
        std::printf(
            "step Rs %g Rr %g Lls %g Lm %g S %d: Rr/Rs %+.2f%% Lm/Rs %+.2f%% Lls/Rs %+.2f%% "
            "I %+.2f%%; written Rr %+.2f%% Lm %+.2f%%\n",
            c.rs, c.rr, c.lls, c.lm, c.interval, 100 * relative(p[0], c.rr / c.rs),
            100 * relative(p[1], c.lm / c.rs), 100 * relative(p[2], c.lls / c.rs),
            100 * relative(p[3], 20.0), 100 * rr, 100 * lm);
        ASSERT_EQ(rig.uploads, (std::vector<int>{4}));
        EXPECT_LT(std::fabs(rr), 0.05);
        EXPECT_LT(std::fabs(lm), 0.05);
    }
}

// With the configuration downloaded first, as the main window does before it opens the tool, the
// write-back's upload stores the rotor values in the controller.
TEST(ImExtractionEndToEnd, BothModesReachTheControllerThroughTheUpload) {
    const Circuit c{0.05, 0.05, 1e-3, 0.02, 200};
    for (int mode : {0, 1}) {
        test::TransferRig rig("", 0, test::kRigSerial, imOptions(c, mode));
        ASSERT_TRUE(rig.download());
        rig.store.motor[5].lineResistance = static_cast<float>(c.rs);
        PortToolLink link(rig.can, test::kRigBase);
        bool uploaded = false;
        ToolContext context;
        context.link = &link;
        context.ui = &rig.ui;
        context.store = &rig.store;
        context.base = test::kRigBase;
        context.chooseMotor = [] { return 5; };
        context.startUpload = [&](int action) {
            EXPECT_EQ(action, 4);
            rig.ui.expect("Overwrite config?", MessageAnswer::Yes);
            uploaded = rig.upload();
        };
        ImExtractionTool tool(context, std::make_unique<ThreadFitRunner>());
        test::runTool(rig.can, tool, nowMs);
        ASSERT_TRUE(tool.extraction() && tool.extraction()->usable) << "mode " << mode;
        ASSERT_TRUE(uploaded) << "mode " << mode;
        EXPECT_TRUE(rig.ui.scriptDone());

        const auto stream = rig.storedStream(2);
        StreamView view;
        ASSERT_EQ(decodeConfigStream(stream, kMotorCount, &view), StreamParseResult::Ok);
        MotorConfig stored{};
        std::memcpy(&stored, view.records.data() + 5 * view.recordSize, sizeof stored);
        EXPECT_EQ(+stored.rotorResistance, +rig.store.motor[5].rotorResistance);
        EXPECT_EQ(+stored.rotorInductance, +rig.store.motor[5].rotorInductance);
        EXPECT_NEAR(stored.rotorResistance, c.rr, 0.05 * c.rr) << "mode " << mode;
        EXPECT_NEAR(stored.rotorInductance, c.lm, 0.05 * c.lm) << "mode " << mode;
    }
}

std::string failure(sim::ToolFaults faults, int points, bool skipClock = false) {
    sim::CommissioningOptions o = imOptions({0.05, 0.05, 1e-3, 0.02}, 0);
    o.faults = faults;
    o.motor.imPoints = points;
    Rig rig(o);
    auto tool = imTool(rig);
    const double started = nowMs();
    // Two minutes pass for the tool once a quarter of a second has passed for the test.
    if (skipClock)
        rig.whileWaiting = [&] {
            if (nowMs() > started + 250) rig.clockOffsetMs = 120000;
        };
    rig.run(*tool);
    EXPECT_TRUE(rig.uploads.empty());
    EXPECT_EQ(tool->status(), im_status::error());
    if (rig.ui.boxes.size() != 1) return "boxes: " + std::to_string(rig.ui.boxes.size());
    EXPECT_EQ(rig.ui.boxes[0].caption, "Acquisition error");
    return rig.ui.boxes[0].text;
}

TEST(ImExtractionEndToEnd, ControllerFaultsGiveTheToolsMessages) {
    const std::string noReply =
        "No reply from the controller in response to data acquisition request";
    sim::ToolFaults cut;
    cut.stopData = 4;
    EXPECT_EQ(failure(cut, 40), "Error occurred while receiving CAN packet 4 of acquisition");
    // Frames carry no number: one left out in the middle shows as the last one missing.
    sim::ToolFaults omit;
    omit.omitData = 4;
    EXPECT_EQ(failure(omit, 40), "Error occurred while receiving CAN packet 39 of acquisition");
    sim::ToolFaults wrong;
    wrong.wrongPhase = 0;
    EXPECT_EQ(failure(wrong, 40), noReply);
    EXPECT_EQ(failure({}, 0), noReply);
    sim::ToolFaults silent;
    silent.silent = true;
    EXPECT_EQ(failure(silent, 40, true), noReply);
}

}  // namespace
}  // namespace qv
