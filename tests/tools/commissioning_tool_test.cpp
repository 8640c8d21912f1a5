#include "tools/commissioning_tool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tool_fixtures.h"
#include "tools/im_extraction.h"

namespace qv {
namespace {

constexpr std::uint32_t kBase = test::kToolBase;
using Bench = test::ToolBench;

using test::feed;

TEST(DuvodaRezirTool, ShowHideAndCloseTellTheController) {
    Bench b;
    DuvodaRezirTool tool(b.context());
    tool.shown();
    tool.hidden();
    ASSERT_EQ(b.link.sent.size(), 2u);
    EXPECT_EQ(b.link.sent[0].identifier, kBase + 15);
    EXPECT_EQ(b.link.sent[0].data, (CanFrame::Data{0, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(b.link.sent[1].data, (CanFrame::Data{}));
    EXPECT_EQ(b.link.closes, 2);
}

TEST(DuvodaRezirTool, SuccessfulRunWritesTheChosenMotorAndUploads) {
    Bench b;
    DuvodaRezirTool tool(b.context());
    test::MotorSpec m;
    m.reversed = true;
    const PhaseRecording rec = test::makePhaseRecording(m);
    ASSERT_TRUE(tool.acquire(0));
    EXPECT_TRUE(tool.busy());
    EXPECT_EQ(b.link.sent.back().data, requestCommand().encode());
    // A telemetry frame meanwhile is not the tool's.
    EXPECT_FALSE(tool.offerFrame(kBase + 2, {}, 0.5));
    const MotorConfig untouched = b.store.motor[2];
    feed(tool, test::phaseReplies(rec, kBase));
    EXPECT_FALSE(tool.busy());
    EXPECT_TRUE(b.ui.boxes.empty());
    ASSERT_TRUE(tool.report().has_value());
    EXPECT_TRUE(tool.report()->success());
    EXPECT_EQ(tool.recording()->samples, rec.samples);
    EXPECT_EQ(b.link.closes, 1);
    EXPECT_EQ(b.chooserRuns, 1);
    EXPECT_EQ(tool.lastWrittenMotor(), 3);
    EXPECT_EQ(+b.store.motor[3].phaseSequenceReversed, 1);
    EXPECT_TRUE(b.store.isModified(StructureKind::Motor));
    EXPECT_EQ(b.uploads, (std::vector<int>{8}));
    EXPECT_EQ(std::memcmp(&b.store.motor[2], &untouched, sizeof untouched), 0);
}

TEST(DuvodaRezirTool, FailedAnalysisAsksNothingAndWritesNothing) {
    Bench b;
    DuvodaRezirTool tool(b.context());
    test::MotorSpec m;
    m.sensorMode = 9;
    ASSERT_TRUE(tool.acquire(0));
    feed(tool, test::phaseReplies(test::makePhaseRecording(m), kBase));
    EXPECT_EQ(*tool.report()->verdict, "FAILED");
    EXPECT_EQ(b.chooserRuns, 0);
    EXPECT_TRUE(b.uploads.empty());
    EXPECT_FALSE(b.store.isModified(StructureKind::Motor));
}

TEST(DuvodaRezirTool, MissingFrameShowsTheBoxAfterClosingAndKeepsThePreviousResult) {
    Bench b;
    DuvodaRezirTool tool(b.context());
    const auto frames = test::phaseReplies(test::makePhaseRecording({}), kBase);
    ASSERT_TRUE(tool.acquire(0));
    feed(tool, frames);
    ASSERT_TRUE(tool.report().has_value());
    const auto samplesBefore = tool.recording()->samples;
    b.chosen = -1;

    ASSERT_TRUE(tool.acquire(1000));
    std::vector<std::pair<std::uint32_t, CanFrame::Data>> firstFour(frames.begin(),
                                                                    frames.begin() + 4);
    feed(tool, firstFour, 1000);
    tool.poll(1004 + 999);
    EXPECT_TRUE(tool.busy());
    EXPECT_TRUE(b.ui.boxes.empty());
    tool.poll(1004 + 1000);
    EXPECT_FALSE(tool.busy());
    ASSERT_EQ(b.ui.boxes.size(), 1u);
    EXPECT_EQ(b.ui.boxes[0].text,
              "Error occurred while receiving CAN packet 2 of DuvodaRezir acquisition");
    EXPECT_EQ(b.ui.boxes[0].caption, "Acquisition error");
    EXPECT_EQ(b.link.closes, 2);
    EXPECT_EQ(tool.recording()->samples, samplesBefore);
    EXPECT_EQ(b.uploads.size(), 1u);
}

TEST(DuvodaRezirTool, NoConnectionShowsConnectFailure) {
    Bench b;
    b.link.connectResult = false;
    DuvodaRezirTool tool(b.context());
    EXPECT_FALSE(tool.acquire(0));
    EXPECT_FALSE(tool.busy());
    ASSERT_EQ(b.ui.boxes.size(), 1u);
    EXPECT_EQ(b.ui.boxes[0].text,
              "Could not open TCP connection\r\n\r\nCheck your network and IP settings");
    EXPECT_EQ(b.ui.boxes[0].caption, "Connect Failure");
    EXPECT_TRUE(b.link.sent.empty());
}

TEST(DuvodaRezirTool, ClosingMidwayGivesUpAndDeselects) {
    Bench b;
    DuvodaRezirTool tool(b.context());
    ASSERT_TRUE(tool.acquire(0));
    EXPECT_FALSE(tool.acquire(1));  // already under way
    tool.offerFrame(kBase + 16, test::statusFrame(0, 0, 1, 1), 2);
    tool.closed();
    EXPECT_FALSE(tool.busy());
    EXPECT_EQ(b.link.sent.back().data, (CanFrame::Data{}));
    tool.poll(1e9);
    EXPECT_TRUE(b.ui.boxes.empty());
    EXPECT_FALSE(tool.wantedIdentifier().has_value());
}

// A PM acquisition: R = 0.05 ohm from three points, tau = 2 ms, Io = 20 A.
std::vector<std::pair<std::uint32_t, CanFrame::Data>> pmReplies(bool equalVoltages = false) {
    std::vector<std::pair<std::uint32_t, CanFrame::Data>> f;
    f.push_back({kBase + 16, test::statusFrame(10000, 4, 3, 2)});
    const auto w = [](int a, int b, int c, int d) {
        return packWords({static_cast<std::uint16_t>(a), static_cast<std::uint16_t>(b),
                          static_cast<std::uint16_t>(c), static_cast<std::uint16_t>(d)});
    };
    // Base voltage 100: 1 V = 327.68 counts; base current 327.68: 1 A = 100 counts.
    const int v1 = 328, v2 = equalVoltages ? 328 : 655, v3 = equalVoltages ? 328 : 983;
    const auto current = [](int v) {
        return static_cast<int>(std::lround(v * 100.0 / 32768 * 10 * 100));
    };
    f.push_back({kBase + 17, w(current(v2), v2, current(v1), v1)});
    f.push_back({kBase + 17, w(0, 0, current(v3), v3)});
    const auto amps = [](double t) {
        return static_cast<int>(std::lround(2000 * std::exp(-t / 0.002)));
    };
    f.push_back({kBase + 17, w(amps(4e-4), 4, amps(0), 0)});
    f.push_back({kBase + 17, w(amps(12e-4), 12, amps(8e-4), 8)});
    return f;
}

TEST(PmExtractionTool, CancelledSelectorWritesNothingButKeepsTheResult) {
    Bench b;
    b.chosen = -1;
    PmExtractionTool tool(b.context());
    const MotorConfig before = b.store.motor[0];
    ASSERT_TRUE(tool.acquire(0));
    feed(tool, pmReplies());
    ASSERT_TRUE(tool.report().has_value());
    EXPECT_TRUE(tool.report()->usable);
    EXPECT_FALSE(tool.report()->log.empty());
    EXPECT_EQ(b.chooserRuns, 1);
    EXPECT_EQ(tool.lastWrittenMotor(), -1);
    EXPECT_TRUE(b.uploads.empty());
    EXPECT_FALSE(b.store.isModified(StructureKind::Motor));
    EXPECT_EQ(std::memcmp(&b.store.motor[0], &before, sizeof before), 0);
    // An index beyond the ten records is no choice either.
    b.chosen = 10;
    ASSERT_TRUE(tool.acquire(100));
    feed(tool, pmReplies(), 100);
    EXPECT_TRUE(b.uploads.empty());

    b.chosen = 9;
    ASSERT_TRUE(tool.acquire(200));
    feed(tool, pmReplies(), 200);
    EXPECT_EQ(b.uploads, (std::vector<int>{6}));
    EXPECT_EQ(+b.store.motor[9].lineResistance, static_cast<float>(tool.report()->resistance));
    EXPECT_EQ(+b.store.motor[9].lineInductance, static_cast<float>(tool.report()->inductance));
}

TEST(PmExtractionTool, UnusableFitIsExplainedAndNeverOffered) {
    Bench b;
    PmExtractionTool tool(b.context());
    ASSERT_TRUE(tool.acquire(0));
    feed(tool, pmReplies(true));
    EXPECT_FALSE(tool.report()->usable);
    EXPECT_EQ(b.chooserRuns, 0);
    ASSERT_EQ(b.ui.boxes.size(), 1u);
    EXPECT_EQ(b.ui.boxes[0].caption, "Parameter extraction");
    EXPECT_EQ(b.ui.boxes[0].text, tool.report()->problem);
    EXPECT_EQ(b.link.closes, 1);
}

// Each tool's first wait starts once its request is out, however long the connect took: the
// controller keeps its whole time to answer (DuvodaRezir 100 ms, the extractions 2 s and 120 s).
TEST(CommissioningTools, FirstWaitStartsAfterTheRequestNotBeforeTheConnect) {
    Bench b;
    std::unique_ptr<CommissioningTool> tools[] = {
        std::make_unique<DuvodaRezirTool>(b.context()),
        std::make_unique<PmExtractionTool>(b.context()),
        std::make_unique<ImExtractionTool>(b.context(), std::make_unique<ThreadFitRunner>())};
    const int waits[] = {100, 2000, 120000};
    double clock = 0;
    for (int i = 0; i < 3; ++i) {
        b.link.whileConnecting = [&] { clock += waits[i] + 150; };
        ASSERT_TRUE(tools[i]->acquire([&] { return clock; }));
        tools[i]->poll(clock + waits[i] - 1);
        EXPECT_TRUE(tools[i]->busy()) << "tool " << i;
        tools[i]->poll(clock + waits[i]);
        EXPECT_FALSE(tools[i]->busy());
        ASSERT_EQ(b.ui.boxes.size(), static_cast<std::size_t>(i + 1));
        EXPECT_EQ(b.ui.boxes[i].text.rfind("No reply from the controller", 0), 0u);
    }
}

}  // namespace
}  // namespace qv
