#include "tools/im_extraction.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "tool_fixtures.h"
#include "tools/im_log.h"
#include "tools/im_sample_file.h"

namespace qv {
namespace {

constexpr std::uint32_t kBase = test::kToolBase;
using Frames = std::vector<std::pair<std::uint32_t, CanFrame::Data>>;

// Keeps the fits it is given until the test runs them or hands in a result of its own.
class ScriptedRunner : public ImFitRunner {
  public:
    explicit ScriptedRunner(std::vector<std::shared_ptr<ImFitJob>>& jobs) : jobs_(jobs) {}
    std::shared_ptr<ImFitJob> start(ImFitInput input) override {
        jobs_.push_back(std::make_shared<ImFitJob>(std::move(input)));
        return jobs_.back();
    }

  private:
    std::vector<std::shared_ptr<ImFitJob>>& jobs_;
};

struct ImBench : test::ToolBench {
    std::vector<std::shared_ptr<ImFitJob>> jobs;
    std::unique_ptr<ImExtractionTool> make() {
        return std::make_unique<ImExtractionTool>(context(),
                                                  std::make_unique<ScriptedRunner>(jobs));
    }
};

Frames sweepFrames(const std::vector<float>& volts, const std::vector<float>& amps,
                   std::uint16_t phase = 2) {
    Frames f{{kBase + 16,
              test::statusFrame(static_cast<std::uint16_t>(volts.size()), 0x7777, 0, phase)}};
    for (std::size_t k = 0; k < volts.size(); ++k)
        f.push_back({kBase + 17, packFloats({amps[k], volts[k]})});
    return f;
}

Frames stepFrames(const std::vector<float>& samples, int interval, std::uint16_t mode = 1) {
    Frames f{{kBase + 16, test::statusFrame(static_cast<std::uint16_t>(samples.size() / 2),
                                            static_cast<std::uint16_t>(interval), mode, 3)}};
    for (std::size_t i = 0; i + 1 < samples.size(); i += 2)
        f.push_back({kBase + 17, packFloats({samples[i], samples[i + 1]})});
    return f;
}

// A circuit in the sweep fit's units (mΩ, mΩ, mH, mH, A) and its currents for 1 V at every
// one of `points` frequencies.
constexpr ImParameters kCircuit = {50, 50, 1, 20, 0};
std::vector<float> sweepCurrents(int points) {
    std::vector<float> amps;
    const auto omega = sweepFrequencies(static_cast<std::size_t>(points));
    for (double w : omega)
        amps.push_back(static_cast<float>(frequencyResponseModel(kCircuit, w, 1000)));
    return amps;
}

// 2 N samples of a step response `interval` x 100 us apart: the zero reference 0.3 A, then the
// rise of a circuit with Rr/Rs 0.8, Lm/Rs 0.2 s, Lls/Rs 0.01 s towards 20.3 A.
std::vector<float> stepSamples(int frames, int interval = 10) {
    std::vector<float> s{0.3f};
    for (int i = 1; i < 2 * frames; ++i)
        s.push_back(static_cast<float>(
            0.3 + stepResponseModel({0.8, 0.2, 0.01, 20, 0}, (i - 1) * interval / 10000.0)));
    return s;
}

ImFitResult cannedFit(ImParameters p, std::size_t points, bool usable = true) {
    ImFitResult r;
    r.parameters = p;
    r.model.assign(points, 5.0);
    r.usable = usable;
    return r;
}

// Feeds the frames, then publishes `result` for the fit they started and collects it.
void runWith(ImExtractionTool& tool, ImBench& b, const Frames& frames, const ImFitResult& result,
             double t0 = 0) {
    const std::size_t jobsBefore = b.jobs.size();
    ASSERT_TRUE(tool.acquire(t0));
    test::feed(tool, frames, t0);
    ASSERT_EQ(b.jobs.size(), jobsBefore + 1);
    b.jobs.back()->publish(result);
    tool.poll(t0 + 1000);
    ASSERT_FALSE(tool.busy());
}

TEST(ImExtractionTool, SweepOfFortyPointsIsFittedOffTheWindowAndStoresTheAbsoluteValues) {
    ImBench b;
    b.store.motor[3].lineResistance = 0.123f;  // not used by a sweep
    auto tool = b.make();
    tool->shown();
    EXPECT_EQ(tool->status(), im_status::idle());
    ASSERT_TRUE(tool->acquire(0));
    EXPECT_EQ(tool->status(), im_status::extracting());
    EXPECT_EQ(tool->status().background, 0x6496FAu);
    // The request goes out at once by multicast while the connection is open, not over it.
    EXPECT_EQ(b.link.sent.back().identifier, kBase + 15);
    EXPECT_EQ(b.link.sent.back().data, (CanFrame::Data{0, 0, 0, 0, 0, 0, 1, 0}));
    EXPECT_TRUE(b.link.tcpOpen);
    EXPECT_FALSE(b.link.sent.back().overTcp);

    const std::vector<float> volts(40, 1.0f);
    const std::vector<float> amps = sweepCurrents(40);
    test::feed(*tool, sweepFrames(volts, amps));
    // The acquisition is complete; the fit has been handed over and the tool waits for it.
    ASSERT_EQ(b.jobs.size(), 1u);
    EXPECT_TRUE(tool->busy());
    EXPECT_EQ(tool->status(), im_status::extracting());
    EXPECT_EQ(b.chooserRuns, 0);
    const ImFitInput& in = b.jobs[0]->input();
    EXPECT_EQ(in.model, ImModel::FrequencyResponse);
    EXPECT_EQ(in.iterations, 100000);
    EXPECT_EQ(in.amplitude, std::vector<double>(40, 1000.0));
    EXPECT_EQ(in.y, std::vector<double>(amps.begin(), amps.end()));
    EXPECT_DOUBLE_EQ(in.start[0], 1000.0 / amps[0]);
    EXPECT_EQ(in.start[1], in.start[0]);
    EXPECT_EQ(in.start[2], 1.0);
    EXPECT_EQ(in.start[3], 10.0);

    b.jobs[0]->run();
    tool->poll(100);
    EXPECT_FALSE(tool->busy());
    EXPECT_EQ(tool->status(), im_status::completed());
    const ImExtraction& e = *tool->extraction();
    ASSERT_TRUE(e.usable) << e.problem;
    const ImParameters& p = e.fit.parameters;
    for (std::size_t j = 0; j < 4; ++j) EXPECT_NEAR(p[j], kCircuit[j], 0.02 * kCircuit[j]) << j;
    EXPECT_EQ(tool->logText(), sweepLogText(e.recording.amplitudeV, e.recording.currentA, p));
    EXPECT_EQ(tool->logText().substr(0, tool->logText().find('\n') + 1),
              "1000.000, " + formatFixed(amps[0], 3, 3) + "; ...\r\n");

    // The chart: ln ω from ln 0.628 in three divisions up to the 40th frequency.
    const PlotFigure& f = *tool->figure();
    EXPECT_NEAR(f.axes.xMinimum, -0.46471, 1e-5);
    EXPECT_EQ(f.axes.xDivisions, 3);
    EXPECT_DOUBLE_EQ(f.axes.xStep, std::log(sweepFrequencies(40).back() / 0.6283185307179586) / 3);
    EXPECT_EQ(f.axes.xTitle, "log freq (^10 rad/s)");
    EXPECT_EQ(f.axes.yTitle, "current (A)");
    EXPECT_EQ(f.axes.yDivisions, 10);
    EXPECT_EQ(f.axes.yStep, 2);  // 1 + trunc(18.4 A / 10)
    EXPECT_EQ(f.axes.legendRows, 2);
    EXPECT_EQ(f.axes.legendColumns, 1);
    ASSERT_EQ(f.series.size(), 2u);
    EXPECT_EQ(f.series[0].legend, "Acquired");
    EXPECT_EQ(f.series[0].colour, 0x0000FFu);
    EXPECT_FALSE(f.series[0].dashed);
    EXPECT_EQ(f.series[0].x.size(), 40u);
    EXPECT_DOUBLE_EQ(f.series[0].x[1], std::log(0.6283185307179586 * 1.15));
    EXPECT_EQ(f.series[0].y[5], amps[5]);
    EXPECT_EQ(f.series[1].legend, "Best Fit");
    EXPECT_EQ(f.series[1].colour, 0xFF0000u);
    EXPECT_TRUE(f.series[1].dashed);
    EXPECT_EQ(f.series[1].y, e.fit.model);

    // The fit's own values in ohm and henry, whatever the record's line resistance.
    EXPECT_EQ(tool->lastWrittenMotor(), 3);
    EXPECT_EQ(+b.store.motor[3].rotorResistance, static_cast<float>(p[1] / 1000));
    EXPECT_EQ(+b.store.motor[3].rotorInductance, static_cast<float>(p[3] / 1000));
    EXPECT_EQ(+b.store.motor[3].lineResistance, 0.123f);
    EXPECT_TRUE(b.store.isModified(StructureKind::Motor));
    EXPECT_EQ(b.uploads, (std::vector<int>{4}));
    EXPECT_TRUE(b.ui.boxes.empty());
    EXPECT_FALSE(b.link.tcpOpen);
}

TEST(ImExtractionTool, StepOfHundredFramesFitsHundredNinetyNinePointsAndScalesByTheLine) {
    ImBench b;
    b.store.motor[3].lineResistance = 0.05f;
    auto tool = b.make();
    const std::vector<float> samples = stepSamples(100);
    runWith(*tool, b, stepFrames(samples, 10), cannedFit({0.8, 0.2, 0.01, 20, 0}, 199));

    const ImFitInput& in = b.jobs[0]->input();
    EXPECT_EQ(in.model, ImModel::StepResponse);
    EXPECT_EQ(in.iterations, 20000);
    EXPECT_EQ(in.start, kStepStart);
    ASSERT_EQ(in.x.size(), 199u);
    EXPECT_DOUBLE_EQ(in.x[1], 0.001);
    EXPECT_DOUBLE_EQ(in.x.back(), 0.198);
    EXPECT_EQ(in.y[0], static_cast<double>(samples[1]) - samples[0]);
    EXPECT_EQ(in.y[198], static_cast<double>(samples[199]) - samples[0]);

    const PlotFigure& f = *tool->figure();
    EXPECT_EQ(f.axes.xTitle, "time (s)");
    EXPECT_EQ(f.axes.xMinimum, 0);
    EXPECT_EQ(f.axes.xDivisions, 3);
    EXPECT_DOUBLE_EQ(f.axes.xStep, 0.1);
    EXPECT_EQ(f.axes.yStep, 1.0);
    // One division per ampere up to the largest value shown (the last measured one).
    EXPECT_EQ(f.axes.yDivisions, static_cast<int>(std::ceil(in.y.back())));
    EXPECT_GT(f.axes.yDivisions, 5);
    ASSERT_EQ(f.series.size(), 2u);
    EXPECT_EQ(f.series[0].y, in.y);
    EXPECT_FALSE(f.series[1].dashed);
    EXPECT_EQ(f.series[1].x.size(), 199u);

    EXPECT_EQ(tool->logText().substr(0, 40), "Rr/Rs = 0.800000 \r\nLm/Rs = 0.200000 H/R ");
    EXPECT_NE(tool->logText().find("\r\n\r\n Lm/Rr = 0.250000 s \r\n\r\n0.300; ...\r\n"),
              std::string::npos);
    EXPECT_EQ(tool->status(), im_status::completed());

    EXPECT_FLOAT_EQ(b.store.motor[3].rotorResistance, 0.04f);
    EXPECT_FLOAT_EQ(b.store.motor[3].rotorInductance, 0.01f);
    EXPECT_EQ(b.uploads, (std::vector<int>{4}));
}

TEST(ImExtractionTool, NoSamplesWrongPhaseOrNoReplyIsTheStageZeroMessageAfterClosing) {
    const std::string stage0 =
        "No reply from the controller in response to data acquisition request";
    for (const auto& status : {test::statusFrame(0, 10, 0, 2), test::statusFrame(40, 10, 0, 1),
                               test::statusFrame(40, 10, 0, 0)}) {
        ImBench b;
        auto tool = b.make();
        b.ui.onBox = [&](const MessageBoxRequest&) {
            EXPECT_EQ(tool->status(), im_status::error());
            EXPECT_FALSE(b.link.tcpOpen);
        };
        ASSERT_TRUE(tool->acquire(0));
        EXPECT_TRUE(tool->offerFrame(kBase + 16, status, 1));
        EXPECT_FALSE(tool->busy());
        ASSERT_EQ(b.ui.boxes.size(), 1u);
        EXPECT_EQ(b.ui.boxes[0].text, stage0);
        EXPECT_EQ(b.ui.boxes[0].caption, "Acquisition error");
        EXPECT_EQ(b.ui.boxes[0].icon, MessageIcon::Error);
        EXPECT_TRUE(b.jobs.empty());
        EXPECT_EQ(b.chooserRuns, 0);
    }
    ImBench b;
    auto tool = b.make();
    ASSERT_TRUE(tool->acquire(0));
    tool->poll(119999);
    EXPECT_TRUE(tool->busy());
    tool->poll(120000);
    ASSERT_EQ(b.ui.boxes.size(), 1u);
    EXPECT_EQ(b.ui.boxes[0].text, stage0);
    EXPECT_EQ(tool->status(), im_status::error());
}

TEST(ImExtractionTool, MissingFifthFrameIsPacketFourAndKeepsTheLastResult) {
    ImBench b;
    b.chosen = -1;
    auto tool = b.make();
    const auto frames = stepFrames(stepSamples(10), 10);
    runWith(*tool, b, frames, cannedFit({0.8, 0.2, 0.01, 20, 0}, 19));
    const std::string logBefore = tool->logText();

    ASSERT_TRUE(tool->acquire(1000));
    // The first data frame may take two minutes, the later ones half a second.
    ASSERT_TRUE(tool->offerFrame(kBase + 16, frames[0].second, 1001));
    tool->poll(1001 + 119999);
    EXPECT_TRUE(tool->busy());
    double t = 1001 + 119999;
    for (int i = 1; i <= 4; ++i) ASSERT_TRUE(tool->offerFrame(kBase + 17, frames[i].second, t));
    tool->poll(t + 499);
    EXPECT_TRUE(tool->busy());
    tool->poll(t + 500);
    EXPECT_FALSE(tool->busy());
    ASSERT_EQ(b.ui.boxes.size(), 1u);
    EXPECT_EQ(b.ui.boxes[0].text, "Error occurred while receiving CAN packet 4 of acquisition");
    EXPECT_EQ(tool->status(), im_status::error());
    EXPECT_EQ(tool->logText(), logBefore);
    EXPECT_EQ(tool->extraction()->recording.currentA.size(), 20u);
    EXPECT_EQ(b.jobs.size(), 1u);
    EXPECT_TRUE(b.uploads.empty());
}

TEST(ImExtractionTool, AResultThatIsNotFiniteOrNotPositiveIsShownAndNeverWritten) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Frames sweep = sweepFrames(std::vector<float>(5, 1.0f), sweepCurrents(5));
    // Lls is not written, but a fit with any value that is not finite is not trusted at all.
    for (const auto& fit : {cannedFit({50, 50, nan, 20, 0}, 5, false),
                            cannedFit({50, -50, 1, 20, 0}, 5), cannedFit({50, 50, 1, 0, 0}, 5)}) {
        ImBench b;
        auto tool = b.make();
        const MotorConfig before = b.store.motor[3];
        runWith(*tool, b, sweep, fit);
        EXPECT_FALSE(tool->extraction()->usable);
        EXPECT_EQ(tool->status(), im_status::notUsable());
        EXPECT_NE(tool->logText().find("nothing is written"), std::string::npos);
        ASSERT_EQ(b.ui.boxes.size(), 1u);
        EXPECT_EQ(b.ui.boxes[0].caption, "Induction Motor Extraction");
        EXPECT_EQ(b.ui.boxes[0].text, tool->extraction()->problem);
        EXPECT_EQ(b.chooserRuns, 0);
        EXPECT_TRUE(b.uploads.empty());
        EXPECT_FALSE(b.store.isModified(StructureKind::Motor));
        EXPECT_EQ(std::memcmp(&b.store.motor[3], &before, sizeof before), 0);
        EXPECT_TRUE(tool->canSaveData());  // the samples are still worth keeping
    }
}

TEST(ImExtractionTool, StepValuesNeedAUsableLineResistanceInTheChosenRecord) {
    const auto frames = stepFrames(stepSamples(10), 10);
    for (float line : {0.0f, std::numeric_limits<float>::quiet_NaN(),
                       std::numeric_limits<float>::infinity(), -0.05f}) {
        ImBench b;
        b.store.motor[3].lineResistance = line;
        auto tool = b.make();
        const MotorConfig before = b.store.motor[3];
        runWith(*tool, b, frames, cannedFit({0.8, 0.2, 0.01, 20, 0}, 19));
        EXPECT_EQ(b.chooserRuns, 1);
        EXPECT_EQ(tool->lastWrittenMotor(), -1);
        ASSERT_EQ(b.ui.boxes.size(), 1u) << line;
        EXPECT_NE(b.ui.boxes[0].text.find("no usable line resistance"), std::string::npos);
        EXPECT_TRUE(b.uploads.empty());
        EXPECT_FALSE(b.store.isModified(StructureKind::Motor));
        EXPECT_EQ(std::memcmp(&b.store.motor[3], &before, sizeof before), 0);
    }
    // A product beyond a single float is refused too.
    ImExtraction e;
    e.usable = true;
    e.relativeToLineResistance = true;
    e.rotorX = 1e300;
    e.rotorY = 1;
    MotorConfig m{};
    m.lineResistance = 0.05f;
    EXPECT_FALSE(rotorValues(e, m).has_value());
}

TEST(ImExtractionTool, AnUnknownModeReadsItsFramesFitsNothingAndWritesNothing) {
    ImBench b;
    auto tool = b.make();
    runWith(*tool, b, sweepFrames(std::vector<float>(5, 1.0f), sweepCurrents(5)),
            cannedFit(kCircuit, 5));
    ASSERT_TRUE(tool->figure().has_value());
    b.uploads.clear();
    b.chooserRuns = 0;

    ASSERT_TRUE(tool->acquire(5000));
    test::feed(*tool, stepFrames(stepSamples(3), 10, 7), 5000);  // every frame is taken
    EXPECT_FALSE(tool->busy());
    EXPECT_EQ(b.jobs.size(), 1u);
    EXPECT_EQ(tool->status(), im_status::unknownMode(7));
    EXPECT_EQ(tool->status().text, "Unknown mode 7, not fitted");
    EXPECT_EQ(tool->status().background, 0x6464E6u);
    EXPECT_EQ(tool->logText().substr(0, 31), "Acquisition mode 7 is neither 0");
    EXPECT_NE(tool->logText().find("3 frames were read"), std::string::npos);
    EXPECT_FALSE(tool->figure().has_value());
    EXPECT_TRUE(tool->extraction()->recording.currentA.empty());
    EXPECT_EQ(b.chooserRuns, 0);
    EXPECT_TRUE(b.uploads.empty());
    ASSERT_EQ(b.ui.boxes.size(), 1u);
    EXPECT_EQ(b.ui.boxes[0].caption, "Induction Motor Extraction");
    EXPECT_FALSE(tool->canSaveData());
}

TEST(ImExtractionTool, ClosingDuringTheFitDropsItsResult) {
    ImBench b;
    auto tool = b.make();
    ASSERT_TRUE(tool->acquire(0));
    test::feed(*tool, stepFrames(stepSamples(10), 10));
    ASSERT_EQ(b.jobs.size(), 1u);
    ASSERT_TRUE(tool->busy());
    // Shown again while the fit runs (hidden, not closed): it still says it is busy.
    tool->shown();
    EXPECT_EQ(tool->status(), im_status::extracting());
    const auto job = b.jobs[0];
    tool->closed();
    EXPECT_TRUE(job->cancelled());
    EXPECT_FALSE(tool->busy());
    EXPECT_FALSE(b.link.tcpOpen);
    EXPECT_EQ(b.link.sent.back().data, (CanFrame::Data{}));  // deselected
    job->publish(cannedFit({0.8, 0.2, 0.01, 20, 0}, 19));
    tool->poll(1e6);
    EXPECT_FALSE(tool->extraction().has_value());
    EXPECT_EQ(b.chooserRuns, 0);
    EXPECT_TRUE(b.ui.boxes.empty());

    // The next extraction runs as usual.
    tool->shown();
    runWith(*tool, b, stepFrames(stepSamples(10), 10), cannedFit({0.8, 0.2, 0.01, 20, 0}, 19),
            2000);
    EXPECT_EQ(tool->status(), im_status::completed());
}

TEST(ImExtractionTool, NoConnectionTurnsTheStatusRedBeforeTheBox) {
    ImBench b;
    b.link.connectResult = false;
    auto tool = b.make();
    b.ui.onBox = [&](const MessageBoxRequest&) { EXPECT_EQ(tool->status(), im_status::error()); };
    const auto generation = tool->generation();
    EXPECT_FALSE(tool->acquire(0));
    EXPECT_NE(tool->generation(), generation);  // the window shows the red status
    ASSERT_EQ(b.ui.boxes.size(), 1u);
    EXPECT_EQ(b.ui.boxes[0].caption, "Connect Failure");
    EXPECT_TRUE(b.link.sent.empty());
}

TEST(ImExtractionTool, SaveDataWritesTheSamplesAsFitImReadsThem) {
    test::TempFolder folder;
    ImBench b;
    auto tool = b.make();
    EXPECT_FALSE(tool->canSaveData());
    // Values a short decimal form would not give back exactly.
    std::vector<float> samples = stepSamples(10);
    samples[3] = 1.0f / 3;
    samples[4] = -7.1e-30f;
    runWith(*tool, b, stepFrames(samples, 25), cannedFit({0.8, 0.2, 0.01, 20, 0}, 19));
    const std::string path = (folder.path() / "step.txt").string();
    b.ui.fileAnswers = {path};
    ASSERT_TRUE(tool->saveData());
    ASSERT_EQ(b.ui.dialogs.size(), 1u);
    EXPECT_TRUE(b.ui.dialogs[0].save);
    EXPECT_EQ(b.ui.dialogs[0].defaultExtension, "txt");
    std::string error;
    const auto text = readTextFile(path, kImSampleFileMaxBytes, &error);
    ASSERT_TRUE(text) << error;
    EXPECT_EQ(text->substr(0, 7), "# S=25\n");
    const ImSampleFile back = parseImSampleFile(*text, ImModel::StepResponse);
    EXPECT_EQ(back.samplingInterval, 25);
    EXPECT_EQ(back.currentA, tool->extraction()->recording.currentA);
    // Re-fitting the file starts from exactly what the tool fitted.
    const ImFitInput again = stepFitInput(back.currentA, back.samplingInterval);
    EXPECT_EQ(again.x, b.jobs[0]->input().x);
    EXPECT_EQ(again.y, b.jobs[0]->input().y);

    // A file that cannot be written says so and leaves nothing behind; a cancelled dialog does
    // nothing.
    b.ui.fileAnswers = {(folder.path() / "missing" / "step.txt").string(), std::nullopt};
    EXPECT_FALSE(tool->saveData());
    ASSERT_EQ(b.ui.boxes.size(), 1u);
    EXPECT_EQ(b.ui.boxes[0].caption, "Save Data");
    EXPECT_FALSE(tool->saveData());
    EXPECT_EQ(b.ui.boxes.size(), 1u);
}

TEST(ImSampleFileWriter, SweepPairsReadBackBitForBit) {
    ImSampleFile s;
    s.amplitudeV = {1000.0 * 0.1f, 1e-310, 123456789.125};
    s.currentA = {1.0 / 3, -0.0, 2.5e17};
    const std::string text = formatImSampleFile(s, ImModel::FrequencyResponse);
    EXPECT_EQ(text.substr(0, 23), "# voltage_mV,current_A\n");
    const ImSampleFile back = parseImSampleFile(text, ImModel::FrequencyResponse);
    EXPECT_EQ(back.amplitudeV, s.amplitudeV);
    EXPECT_EQ(back.currentA, s.currentA);
    s.currentA.pop_back();
    EXPECT_THROW(formatImSampleFile(s, ImModel::FrequencyResponse), std::invalid_argument);
}

TEST(ImPlots, TheYAxisCoversWhatIsShownAndStaysDrawable) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // A falling step (a sensor wired the other way round) still gets one division.
    const std::vector<double> t{0, 0.001, 0.002};
    EXPECT_EQ(imStepPlot(t, std::vector<double>{-1, -2, -3}, std::vector<double>{-1, -2, nan})
                  .axes.yDivisions,
              1);
    EXPECT_EQ(imStepPlot(t, std::vector<double>{1, 2, 3}, std::vector<double>{1, 7.2, nan})
                  .axes.yDivisions,
              8);
    EXPECT_EQ(imStepPlot(t, std::vector<double>{1, 2, 3}, std::vector<double>{1, 1e300, 0})
                  .axes.yDivisions,
              1000000);
    const std::vector<double> logW{-0.5, 0.5, 1.5};
    const PlotFigure f =
        imSweepPlot(logW, std::vector<double>{9, 8, nan}, std::vector<double>{9, 45.5, 1});
    EXPECT_EQ(f.axes.yStep, 5);
    EXPECT_DOUBLE_EQ(f.axes.xStep, 2.0 / 3);
    EXPECT_EQ(f.axes.xMinimum, -0.5);
}

TEST(ImFitJob, ACancelledFitStopsWithoutAResult) {
    const std::vector<float> amps = sweepCurrents(10);
    const std::vector<double> volts(10, 1000.0);
    ImFitInput in = sweepFitInput(volts, std::vector<double>(amps.begin(), amps.end()));
    std::atomic<bool> cancel{true};
    const ImFitResult r = runFit(in, &cancel);
    EXPECT_TRUE(r.cancelled);
    EXPECT_FALSE(r.usable);
    EXPECT_EQ(r.parameters, in.start);

    ImFitJob job(in);
    job.cancel();
    job.run();
    std::string error;
    EXPECT_TRUE(job.ready());
    EXPECT_FALSE(job.result(&error).has_value());
    EXPECT_FALSE(error.empty());
    // Only the first outcome counts.
    job.publish(cannedFit(kCircuit, 10));
    EXPECT_FALSE(job.result().has_value());
}

// The fit on a real worker thread, collected by polling as the window's timer would.
TEST(ImExtractionThreads, TheWorkerFitsWhatTheInlineRunnerFitsAndSaysWhenDone) {
    test::ToolBench b;
    std::atomic<int> finished{0};
    ImExtractionTool tool(b.context(),
                          std::make_unique<ThreadFitRunner>([&finished] { ++finished; }));
    const auto frames = stepFrames(stepSamples(40, 250), 250);
    ASSERT_TRUE(tool.acquire(0));
    test::feed(tool, frames);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (tool.busy() && std::chrono::steady_clock::now() < end) {
        tool.poll(100);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_FALSE(tool.busy());
    EXPECT_EQ(finished.load(), 1);
    EXPECT_EQ(tool.status(), im_status::completed());
    const ImRecording& r = tool.extraction()->recording;
    const ImFitResult same = runFit(stepFitInput(r.currentA, r.samplingInterval));
    EXPECT_EQ(tool.extraction()->fit.parameters, same.parameters);
    EXPECT_EQ(tool.extraction()->fit.model, same.model);
    EXPECT_EQ(b.uploads, (std::vector<int>{4}));
}

TEST(ImExtractionThreads, ClosingOrDestroyingDuringAFitOnTheWorkerIsSafe) {
    for (int run = 0; run < 3; ++run) {
        test::ToolBench b;
        auto tool =
            std::make_unique<ImExtractionTool>(b.context(), std::make_unique<ThreadFitRunner>());
        ASSERT_TRUE(tool->acquire(0));
        test::feed(*tool, sweepFrames(std::vector<float>(40, 1.0f), sweepCurrents(40)));
        ASSERT_TRUE(tool->busy());
        if (run != 1) tool->closed();
        if (run == 2) {
            // Reopened at once: the new fit queues behind the cancelled one and completes.
            ASSERT_TRUE(tool->acquire(10));
            test::feed(*tool, stepFrames(stepSamples(5), 10), 10);
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (tool->busy() && std::chrono::steady_clock::now() < end) {
                tool->poll(100);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            EXPECT_EQ(tool->extraction()->recording.mode, 1);
        }
        tool.reset();  // cancels what still runs and joins the worker
        EXPECT_EQ(b.chooserRuns, run == 2 ? 1 : 0);
    }
}

}  // namespace
}  // namespace qv
