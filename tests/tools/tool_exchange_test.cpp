#include "tools/tool_exchange.h"

#include <gtest/gtest.h>

#include "tool_fixtures.h"
#include "tools/phase_acquisition.h"
#include "tools/pm_acquisition.h"

namespace qv {
namespace {

constexpr std::uint32_t kBase = 0x440;

TEST(ToolExchange, FramesHaveTheirFixedLayouts) {
    EXPECT_EQ(selectCommand(2).encode(), (CanFrame::Data{0, 0, 0, 0, 2, 0, 0, 0}));
    EXPECT_EQ(deselectCommand().encode(), (CanFrame::Data{}));
    EXPECT_EQ(requestCommand().encode(), (CanFrame::Data{0, 0, 0, 0, 0, 0, 1, 0}));
    const ToolCommand c{1.5f, 0x0302, 0x0504};
    EXPECT_EQ(ToolCommand::decode(c.encode()), c);
    const auto status = AcquisitionStatus::decode({1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(status.word0, 0x0201);
    EXPECT_EQ(status.word1, 0x0403);
    EXPECT_EQ(status.word2, 0x0605);
    EXPECT_EQ(status.phase, 0x0807);
    EXPECT_EQ(dataWords(packWords({0x1111, 0x2222, 0x3333, 0xFFFF})),
              (std::array<std::uint16_t, 4>{0x1111, 0x2222, 0x3333, 0xFFFF}));
    EXPECT_EQ(dataFloats(packFloats({-2.5f, 1e-3f})), (std::array<float, 2>{-2.5f, 1e-3f}));
}

TEST(ToolExchange, SelectionSendsOneFrameAndAlwaysClosesTheConnection) {
    test::FakeLink link;
    selectTool(link, kBase, 1);
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0].identifier, kBase + 15);
    EXPECT_EQ(link.sent[0].data, (CanFrame::Data{0, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_TRUE(link.sent[0].overTcp);
    EXPECT_EQ(link.closes, 1);
    // A failed connection still sends (by multicast); a closed port sends nothing, yet closes.
    link.connectResult = false;
    deselectTool(link, kBase);
    ASSERT_EQ(link.sent.size(), 2u);
    EXPECT_EQ(link.sent[1].data, (CanFrame::Data{}));
    link.open = false;
    selectTool(link, kBase, 3);
    EXPECT_EQ(link.sent.size(), 2u);
    EXPECT_EQ(link.closes, 3);
}

// Wants two status frames on base + 16 (timeouts 100 and 300 ms); refuses a phase 9.
class TwoStatusScript : public AcquisitionScript {
  public:
    std::optional<AcquisitionStep> nextStep() const override {
        if (taken >= 2) return std::nullopt;
        return AcquisitionStep{kAcquisitionStatusOffset, taken == 0 ? 100 : 300};
    }
    bool accept(const CanFrame::Data& data) override {
        if (AcquisitionStatus::decode(data).phase == 9) return false;
        ++taken;
        return true;
    }
    void timedOut() override { timedOutAt = taken; }
    MessageBoxRequest failureMessage() const override { return acquisitionErrorMessage("x"); }
    int taken = 0;
    int timedOutAt = -1;
};

TEST(ToolAcquisition, RequestsThenTakesOnlyTheFrameItWaitsFor) {
    test::FakeLink link;
    TwoStatusScript script;
    ToolAcquisition a(link, kBase, script);
    EXPECT_EQ(a.start(1000), ToolAcquisition::State::Waiting);
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0].identifier, kBase + 15);
    EXPECT_EQ(link.sent[0].data, requestCommand().encode());
    EXPECT_EQ(*a.wantedIdentifier(), kBase + 16);
    EXPECT_EQ(*a.deadlineMs(), 1100);
    // Telemetry, another device's status and a data frame are left for the decoder.
    EXPECT_FALSE(a.offerFrame(kBase + 1, {}, 1010));
    EXPECT_FALSE(a.offerFrame(0x400 + 16, test::statusFrame(0, 0, 0, 1), 1010));
    EXPECT_FALSE(a.offerFrame(kBase + 17, {}, 1010));
    EXPECT_TRUE(a.offerFrame(kBase + 16, test::statusFrame(0, 0, 0, 1), 1050));
    // The next wait starts when the frame was taken.
    EXPECT_EQ(*a.deadlineMs(), 1350);
    a.poll(1349);
    EXPECT_TRUE(a.waiting());
    EXPECT_TRUE(a.offerFrame(kBase + 16, test::statusFrame(0, 0, 0, 2), 1349));
    EXPECT_EQ(a.state(), ToolAcquisition::State::Complete);
    // Complete: the connection is left to the tool, which closes it after its analysis.
    EXPECT_EQ(link.closes, 0);
    EXPECT_FALSE(a.offerFrame(kBase + 16, test::statusFrame(0, 0, 0, 2), 1350));
}

TEST(ToolAcquisition, TimeOutIsJudgedOnlyWhenPolled) {
    test::FakeLink link;
    TwoStatusScript script;
    ToolAcquisition a(link, kBase, script);
    a.start(0);
    // A frame that arrived in time is taken even though it is handed over late: the caller
    // offers what it has received before it polls.
    EXPECT_TRUE(a.offerFrame(kBase + 16, test::statusFrame(0, 0, 0, 1), 250));
    a.poll(250);
    EXPECT_TRUE(a.waiting());
    a.poll(549);
    EXPECT_TRUE(a.waiting());
    a.poll(550);
    EXPECT_EQ(a.state(), ToolAcquisition::State::Failed);
    EXPECT_EQ(script.timedOutAt, 1);
    EXPECT_EQ(link.closes, 1);
    EXPECT_FALSE(a.wantedIdentifier().has_value());
}

TEST(ToolAcquisition, RefusedFrameFailsAtOnceAndClosesTheConnection) {
    test::FakeLink link;
    TwoStatusScript script;
    ToolAcquisition a(link, kBase, script);
    a.start(0);
    EXPECT_TRUE(a.offerFrame(kBase + 16, test::statusFrame(0, 0, 0, 9), 5));
    EXPECT_EQ(a.state(), ToolAcquisition::State::Failed);
    EXPECT_EQ(link.closes, 1);
    EXPECT_EQ(script.timedOutAt, -1);
}

TEST(ToolAcquisition, NoConnectionSendsNothing) {
    test::FakeLink link;
    link.connectResult = false;
    TwoStatusScript script;
    ToolAcquisition a(link, kBase, script);
    EXPECT_EQ(a.start(0), ToolAcquisition::State::NotConnected);
    EXPECT_TRUE(link.sent.empty());
    EXPECT_FALSE(a.offerFrame(kBase + 16, test::statusFrame(0, 0, 0, 1), 1));
}

TEST(ToolAcquisition, ImmediateRequestGoesOutByMulticastAndAbandonCloses) {
    test::FakeLink link;
    TwoStatusScript script;
    ToolAcquisition a(link, kBase, script, RequestSending::Immediate);
    a.start(0);
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_FALSE(link.sent[0].overTcp);
    a.abandon();
    EXPECT_EQ(link.closes, 1);
    EXPECT_EQ(a.state(), ToolAcquisition::State::Idle);
    a.poll(1e9);
    EXPECT_EQ(script.timedOutAt, -1);
}

// Runs a script with the given frames, one per millisecond, then polls far in the future.
template <typename Script>
void run(Script& script, const std::vector<std::pair<std::uint32_t, CanFrame::Data>>& frames) {
    test::FakeLink link;
    ToolAcquisition a(link, kBase, script);
    a.start(0);
    double t = 0;
    for (const auto& [id, data] : frames) a.offerFrame(id, data, ++t);
    a.poll(t + 1e6);
}

TEST(PhaseAcquisition, StepsTimeoutsAndMessages) {
    test::MotorSpec m;
    m.sensorMode = 3;
    m.hallsPresent = 1;
    const auto recording = test::makePhaseRecording(m);
    auto frames = test::phaseReplies(recording, kBase);
    {
        PhaseAcquisitionScript s(test::testCalibration());
        run(s, frames);
        ASSERT_FALSE(s.error().has_value());
        EXPECT_EQ(s.recording().sensorMode, 3);
        EXPECT_EQ(s.recording().hallsPresent, 1);
        EXPECT_EQ(s.recording().samples, recording.samples);
        EXPECT_EQ(s.recording().finalWords, (std::array<std::int16_t, 3>{100, 200, 300}));
    }
    const auto failure = [&](std::vector<std::pair<std::uint32_t, CanFrame::Data>> f) {
        PhaseAcquisitionScript s(test::testCalibration());
        run(s, f);
        EXPECT_TRUE(s.error().has_value());
        return s.failureMessage();
    };
    // The third data frame missing (nothing comes after it), then the final status missing.
    auto noThird = frames;
    noThird.resize(2 + 2);
    const auto box = failure(noThird);
    EXPECT_EQ(box.text, "Error occurred while receiving CAN packet 2 of DuvodaRezir acquisition");
    EXPECT_EQ(box.caption, "Acquisition error");
    EXPECT_EQ(box.icon, MessageIcon::Error);
    auto noFinal = frames;
    noFinal.pop_back();
    EXPECT_EQ(failure(noFinal).text,
              "Error occurred while receiving CAN packet 500 of DuvodaRezir acquisition");
    // No reply, a wrong phase (treated like no reply), no speed.
    EXPECT_EQ(failure({}).text, "No reply from the controller");
    auto wrongPhase = frames;
    wrongPhase[0].second = test::statusFrame(0, 0, 3, 2);
    EXPECT_EQ(failure(wrongPhase).text, "No reply from the controller");
    EXPECT_EQ(failure({frames[0]}).text, "Failed to obtain sufficient speed");
    auto badFinal = frames;
    badFinal.back().second = test::statusFrame(0, 0, 0, 2);
    EXPECT_EQ(failure(badFinal).text,
              "Error occurred while receiving CAN packet 500 of DuvodaRezir acquisition");
}

TEST(PhaseAcquisition, TimeoutsAreThoseOfEachStep) {
    PhaseAcquisitionScript s(test::testCalibration());
    EXPECT_EQ(s.nextStep()->timeoutMs, 100);
    s.accept(test::statusFrame(0, 0, 1, 1));
    EXPECT_EQ(s.nextStep()->timeoutMs, 10000);
    s.accept(test::statusFrame(0, 0, 0, 2));
    EXPECT_EQ(s.nextStep()->timeoutMs, 1000);
    EXPECT_EQ(s.nextStep()->offset, kAcquisitionDataOffset);
    for (int i = 0; i < 500; ++i) s.accept({});
    EXPECT_EQ(s.nextStep()->timeoutMs, 500);
    EXPECT_EQ(s.nextStep()->offset, kAcquisitionStatusOffset);
    s.accept(test::statusFrame(0, 0, 0, 3));
    EXPECT_FALSE(s.nextStep().has_value());
}

TEST(PhaseAcquisition, SampleWordsSplitIntoHallAndPosition) {
    const auto s = decodePhaseSample({0xFD, 0xFF, 1, 0, 2, 0, 3, 0x80});
    EXPECT_EQ(s.hall, 5);
    EXPECT_EQ(s.position, 0xFFF8);
    EXPECT_EQ(s.r1, 1);
    EXPECT_EQ(s.r2, 2);
    EXPECT_EQ(s.r3, 0x8003);
    EXPECT_EQ(decodePhaseSample(encodePhaseSample(s)), s);
}

CanFrame::Data words(std::int16_t a, std::int16_t b, std::int16_t c, std::int16_t d) {
    return packWords({static_cast<std::uint16_t>(a), static_cast<std::uint16_t>(b),
                      static_cast<std::uint16_t>(c), static_cast<std::uint16_t>(d)});
}

TEST(PmAcquisition, CountsFramesAndReportsTheMissingOne) {
    // N1 = 5 (three frames), N2 = 4 (two frames), S = 1000.
    std::vector<std::pair<std::uint32_t, CanFrame::Data>> frames{
        {kBase + 16, test::statusFrame(1000, 4, 5, 3)}};
    for (std::int16_t f = 0; f < 5; ++f)
        frames.push_back({kBase + 17, words(f, static_cast<std::int16_t>(f + 10),
                                            static_cast<std::int16_t>(f + 20),
                                            static_cast<std::int16_t>(f + 30))});
    {
        PmAcquisitionScript s(100, 200);
        run(s, frames);
        ASSERT_FALSE(s.error().has_value());
        EXPECT_EQ(s.recording().n1, 5);
        EXPECT_EQ(s.recording().n2, 4);
        EXPECT_EQ(s.recording().s, 1000);
        ASSERT_EQ(s.recording().frames.size(), 5u);
        EXPECT_EQ(s.recording().frames[4], (PmFrame{4, 14, 24, 34}));
    }
    const auto failure = [&](std::vector<std::pair<std::uint32_t, CanFrame::Data>> f) {
        PmAcquisitionScript s(100, 200);
        run(s, f);
        EXPECT_TRUE(s.error().has_value());
        return s.failureMessage().text;
    };
    auto noSecond = frames;
    noSecond.resize(2);
    EXPECT_EQ(failure(noSecond),
              "Error occurred while receiving CAN packet 2 of resistance acquisition");
    auto noDecay = frames;
    noDecay.pop_back();
    EXPECT_EQ(failure(noDecay),
              "Error occurred while receiving CAN packet 2 of inductance acquisition");
    EXPECT_EQ(failure({}), "No reply from the controller in response to data acquisition request");
    auto wrongPhase = frames;
    wrongPhase[0].second = test::statusFrame(1000, 4, 5, 1);
    EXPECT_EQ(failure(wrongPhase),
              "No reply from the controller in response to data acquisition request");
    auto phase2 = frames;
    phase2[0].second = test::statusFrame(1000, 4, 5, 2);
    PmAcquisitionScript ok(100, 200);
    run(ok, phase2);
    EXPECT_FALSE(ok.error().has_value());
}

TEST(PmAcquisition, CountsThatDoNotFitAndAZeroTimeBaseAreRefusedAtTheStatus) {
    const auto refusal = [](std::int16_t s, std::int16_t n2, std::int16_t n1) {
        PmAcquisitionScript script(100, 200);
        run(script, {{kBase + 16, words(s, n2, n1, 3)}});
        EXPECT_TRUE(script.recording().frames.empty());
        return script.failureMessage().text;
    };
    EXPECT_EQ(refusal(1000, 10, 31),
              "The controller reported 31 resistance points and 10 inductance points; each "
              "count must be between 1 and 30");
    EXPECT_EQ(refusal(1000, 32767, 30),
              "The controller reported 30 resistance points and 32767 inductance points; each "
              "count must be between 1 and 30");
    EXPECT_EQ(refusal(1000, 5, -4),
              "The controller reported -4 resistance points and 5 inductance points; each "
              "count must be between 1 and 30");
    EXPECT_EQ(refusal(0, 5, 5),
              "The controller reported a decay time base of 0; it must be above 0");
    EXPECT_EQ(refusal(-100, 5, 5),
              "The controller reported a decay time base of -100; it must be above 0");
    // 29 and 30 still fit: 15 frames each.
    PmAcquisitionScript full(100, 200);
    test::FakeLink link;
    ToolAcquisition a(link, kBase, full);
    a.start(0);
    a.offerFrame(kBase + 16, words(1000, 29, 30, 3), 1);
    for (int f = 0; f < 30; ++f) EXPECT_TRUE(a.offerFrame(kBase + 17, {}, 2 + f));
    EXPECT_EQ(a.state(), ToolAcquisition::State::Complete);
    EXPECT_EQ(full.recording().frames.size(), 30u);
}

}  // namespace
}  // namespace qv
