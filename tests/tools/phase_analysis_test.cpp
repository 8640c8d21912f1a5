#include "tools/phase_analysis.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tool_fixtures.h"

namespace qv {
namespace {

const std::string kForward =
    "All line to line voltages have been successfully acquired\r\n\r\n"
    "Phase allocation to the controller is : \r\nI) A\r\nII) B\r\nIII) C\r\n";
const std::string kReversed =
    "All line to line voltages have been successfully acquired\r\n\r\n"
    "Phase allocation to the controller is : \r\nI) A\r\nII) C\r\nIII) B\r\n";
// The analysis places an edge at the first sample after it, between crossings truncated to
// whole samples: within two samples (3.6 degrees each at 100 samples a revolution).
constexpr double kSampleDegrees = 2 * 3.6;

TEST(FindZeroCrossing, FitsTheFirstCompleteCrossingOfAKnownLine) {
    // x = j - 10.5: below half the minimum at j = 0, the window runs from j = 6 (above -5.25)
    // to j = 16 (above 4.75) and the line crosses at 10.5.
    std::vector<double> up;
    for (int j = 0; j <= 20; ++j) up.push_back(j - 10.5);
    EXPECT_NEAR(findZeroCrossing(up, true, "AB"), 10.5, 1e-9);
    // The same line falling, after a first sample above half the maximum.
    std::vector<double> down;
    for (int j = 0; j <= 20; ++j) down.push_back(8.25 - 0.75 * j);
    EXPECT_NEAR(findZeroCrossing(down, false, "BC"), 11.0, 1e-9);
    // The index is relative to the first sample passed; only the first crossing counts.
    std::vector<double> two = up;
    two.insert(two.end(), up.begin(), up.end());
    EXPECT_NEAR(findZeroCrossing(std::span<const double>(two).subspan(21), true, "AB"), 10.5, 1e-9);
    EXPECT_NEAR(findZeroCrossing(two, true, "AB"), 10.5, 1e-9);
}

TEST(FindZeroCrossing, NoCompleteCrossingThrowsWithTheLineAndDirection) {
    const auto thrown = [](std::vector<double> x, bool positive) -> std::string {
        try {
            findZeroCrossing(x, positive, "CA");
        } catch (const PSZCException& e) {
            EXPECT_EQ(e.lineName, "CA");
            EXPECT_EQ(e.positiveGoing, positive);
            return "thrown";
        }
        return "no";
    };
    EXPECT_EQ(thrown({}, true), "thrown");
    EXPECT_EQ(thrown({1, 2, 3, 4, 5}, false), "thrown");  // never above half the max first
    EXPECT_EQ(thrown({-4, -4, -4}, true), "thrown");
    // A window of one sample: from below lo straight past hi.
    EXPECT_EQ(thrown({-10, -9, 0, 10, 10}, true), "thrown");
    // A flat window (every sample equal between the levels) has no finite crossing.
    EXPECT_EQ(thrown({-10, 1, 1, 1, 10}, true), "thrown");
    EXPECT_EQ(thrown({-10, -1, 1, 10}, true), "no");
}

TEST(CheckCrossingAngle, PassesStrictlyInsideTwentyFiveDegrees) {
    EXPECT_NO_THROW(checkCrossingAngle(60, 84.999, "CA", false));
    EXPECT_NO_THROW(checkCrossingAngle(60, 35.001, "CA", false));
    EXPECT_THROW(checkCrossingAngle(60, 85, "CA", false), PSZCPosException);
    EXPECT_THROW(checkCrossingAngle(60, 35, "CA", false), PSZCPosException);
    EXPECT_THROW(checkCrossingAngle(420, std::nan(""), "BC", true), PSZCPosException);
    try {
        checkCrossingAngle(240, 300, "BC", true);
        ADD_FAILURE();
    } catch (const PSZCPosException& e) {
        EXPECT_EQ(e.lineName, "BC");
        EXPECT_TRUE(e.positiveGoing);
    }
}

TEST(PhaseAnalysis, HallsOnlyForwardGivesTheWiredTableAndEightLines) {
    test::MotorSpec m;
    m.hallWiring = {2, 0, 1};
    const PhaseReport r = analysePhases(test::makePhaseRecording(m));
    EXPECT_EQ(r.text, kForward);
    EXPECT_EQ(r.textColour, tool_colour::kSuccess);
    ASSERT_TRUE(r.verdict.has_value());
    EXPECT_EQ(*r.verdict, "SUCCESS");
    EXPECT_EQ(r.verdictColour, tool_colour::kSuccess);
    EXPECT_EQ(r.lines.phaseOrder, 1);
    test::expectHallTable(r.table, test::expectedHallTable(m), kSampleDegrees);
    ASSERT_EQ(r.list.size(), 8u);
    EXPECT_EQ(r.list[0], "360\xC2\xB0 000=>000");
    EXPECT_EQ(r.list[7], "360\xC2\xB0 111=>111");

    MotorConfig motor{};
    motor.phaseSequenceReversed = 7;
    ASSERT_TRUE(writePhaseResult(r, motor));
    EXPECT_EQ(+motor.phaseSequenceReversed, 0);
    for (std::size_t s = 0; s < 8; ++s) {
        EXPECT_EQ(+motor.hallAngle[s], static_cast<float>(r.table[s].angle));
        EXPECT_EQ(+motor.hallPrevious[s], r.table[s].previous);
    }
}

TEST(PhaseAnalysis, SwappedPhasesReverseTheOrderAndTheTable) {
    test::MotorSpec m;
    m.reversed = true;
    m.hallShiftDegrees = -11;
    m.hallWiring = {1, 2, 0};
    const PhaseReport r = analysePhases(test::makePhaseRecording(m));
    EXPECT_EQ(r.text, kReversed);
    EXPECT_TRUE(r.success());
    EXPECT_EQ(r.lines.phaseOrder, -1);
    test::expectHallTable(r.table, test::expectedHallTable(m), kSampleDegrees);
    MotorConfig motor{};
    ASSERT_TRUE(writePhaseResult(r, motor));
    EXPECT_EQ(+motor.phaseSequenceReversed, 1);
}

TEST(PhaseAnalysis, ListLinesShowAngleAndEdgeInBinary) {
    HallTable t = resetHallTable();
    t[5] = {1.0 / 6, 4};
    t[3] = {-0.02, 1};
    const auto lines = hallListLines(t);
    EXPECT_EQ(lines[5], " 60\xC2\xB0 100=>101");
    EXPECT_EQ(lines[3], " -7\xC2\xB0 001=>011");
    EXPECT_EQ(positionListLines({-3.5, 0.25}),
              (std::vector<std::string>{"Pole ratio:", " -4", "Offset:", " 90.0\xC2\xB0"}));
}

// Shifts one line by `degrees` at 100 samples a revolution.
PhaseRecording withShiftedLineCA(const test::MotorSpec& m, double degrees) {
    PhaseRecording r = test::makePhaseRecording(m);
    // Line CA = input 1 minus input 3: shifting input 1 (controller phase C) moves it.
    test::MotorSpec shifted = m;
    shifted.startDegrees -= degrees;
    const PhaseRecording s = test::makePhaseRecording(shifted);
    for (std::size_t i = 0; i < r.samples.size(); ++i) r.samples[i].r1 = s.samples[i].r1;
    return r;
}

TEST(PhaseAnalysis, ACrossingFarFromItsPlaceIsNotValidAndGivesNoVerdict) {
    test::MotorSpec m;
    // Moving phase C 50 degrees later puts the negative crossing of CA near 85 degrees.
    const PhaseReport r = analysePhases(withShiftedLineCA(m, 50));
    EXPECT_EQ(r.text,
              "The position of the negative going zero crossing of line to line voltage CA is "
              "not valid\r\n");
    EXPECT_EQ(r.textColour, tool_colour::kFailure);
    EXPECT_FALSE(r.verdict.has_value());
    EXPECT_TRUE(r.list.empty());
    MotorConfig motor{};
    EXPECT_FALSE(writePhaseResult(r, motor));
    // A smaller displacement is still accepted.
    EXPECT_TRUE(analysePhases(withShiftedLineCA(m, 10)).success());
}

TEST(PhaseAnalysis, MissingCrossingNamesTheLine) {
    test::MotorSpec m;
    PhaseRecording r = test::makePhaseRecording(m);
    for (auto& s : r.samples) s.r2 = s.r3;  // line AB flat at zero
    const PhaseReport report = analysePhases(r);
    EXPECT_EQ(report.text,
              "An error occurred when attempting to find the positive going zero crossing of "
              "line to line voltage AB\r\n");
    EXPECT_FALSE(report.verdict.has_value());
}

TEST(PhaseAnalysis, BouncingOrMissingHallChangeFails) {
    test::MotorSpec m;
    PhaseRecording bounce = test::makePhaseRecording(m);
    // A contact bounce: the state flickers back for one sample just after an edge.
    int bounced = 0;
    for (std::size_t i = 30; i + 1 < bounce.samples.size() && !bounced; ++i)
        if (bounce.samples[i].hall != bounce.samples[i - 1].hall) {
            bounce.samples[i + 1].hall = bounce.samples[i - 1].hall;
            bounce.samples[i + 2].hall = bounce.samples[i].hall;
            bounced = 1;
        }
    ASSERT_TRUE(bounced);
    PhaseReport r = analysePhases(bounce);
    EXPECT_EQ(r.text, kForward);
    ASSERT_TRUE(r.verdict.has_value());
    EXPECT_EQ(*r.verdict, "FAILED");
    EXPECT_EQ(r.verdictColour, tool_colour::kFailure);
    EXPECT_TRUE(r.list.empty());
    MotorConfig motor{};
    EXPECT_FALSE(writePhaseResult(r, motor));

    // Hall 2 stuck: two of the six edges never come.
    PhaseRecording stuck = test::makePhaseRecording(m);
    for (auto& s : stuck.samples) s.hall &= ~2;
    EXPECT_EQ(*analysePhases(stuck).verdict, "FAILED");
}

TEST(PhaseAnalysis, PositionOnlyPutsRatioInStateZeroAndOffsetInTheRest) {
    test::MotorSpec m;
    m.sensorMode = 2;
    m.hallsPresent = 0;
    m.poleRatio = 4;  // 16384 counts a period
    m.positionAtStart = 0.3;
    const PhaseReport r = analysePhases(test::makePhaseRecording(m));
    ASSERT_TRUE(r.success());
    ASSERT_TRUE(r.position.has_value());
    EXPECT_NEAR(r.position->poleRatio, 4, 0.05);
    // The first crossing is a quarter period in (sample 25): 0.3 + 25 / 400 of the range.
    EXPECT_NEAR(r.position->positionOffset, 0.3 + 25.0 / 400, 1.0 / 400 + 8.0 / 65536);
    ASSERT_EQ(r.list.size(), 4u);
    EXPECT_EQ(r.list[0], "Pole ratio:");
    EXPECT_EQ(r.list[1], " 4");
    MotorConfig motor{};
    ASSERT_TRUE(writePhaseResult(r, motor));
    for (std::uint16_t s = 0; s < 8; ++s) EXPECT_EQ(+motor.hallPrevious[s], s);
    EXPECT_EQ(+motor.hallAngle[0], 4.0f);
    for (std::size_t s = 1; s < 8; ++s)
        EXPECT_EQ(+motor.hallAngle[s], static_cast<float>(r.position->positionOffset));
    EXPECT_EQ(+motor.phaseSequenceReversed, 0);
}

TEST(PhaseAnalysis, PoleRatioAboveSixteenBecomesOneAndDirectionGivesTheSign) {
    test::MotorSpec m;
    m.sensorMode = 2;
    m.poleRatio = 32;  // 2048 counts a period
    PhaseReport r = analysePhases(test::makePhaseRecording(m));
    ASSERT_TRUE(r.success());
    EXPECT_EQ(r.position->poleRatio, 1.0);
    m.poleRatio = -4;
    r = analysePhases(test::makePhaseRecording(m));
    EXPECT_NEAR(r.position->poleRatio, -4, 0.05);
    EXPECT_EQ(r.list[1], " -4");
    m.poleRatio = 2;  // half the range a period: the short way round is ambiguous in sign
    r = analysePhases(test::makePhaseRecording(m));
    EXPECT_NEAR(r.position->poleRatio, 2, 0.05);
}

TEST(PhaseAnalysis, PositionWrappingWithinThePeriodStillGivesTheRatio) {
    // From 0.9 of the range the reading passes 65536 before the next crossing.
    test::MotorSpec m;
    m.sensorMode = 2;
    m.poleRatio = 4;
    m.positionAtStart = 0.88;
    const PhaseReport r = analysePhases(test::makePhaseRecording(m));
    ASSERT_TRUE(r.success());
    EXPECT_NEAR(r.position->poleRatio, 4, 0.05);
    EXPECT_EQ(r.list[1], " 4");
}

TEST(PhaseAnalysis, BothSensorsListHallsThenPosition) {
    test::MotorSpec m;
    m.sensorMode = 3;
    m.hallsPresent = 1;
    const PhaseReport r = analysePhases(test::makePhaseRecording(m));
    ASSERT_TRUE(r.success());
    ASSERT_EQ(r.list.size(), 12u);
    EXPECT_EQ(r.list[8], "Pole ratio:");
    // The states that never occur take the ratio (0) and the offset (7).
    EXPECT_EQ(r.table[0].angle, 4.0);
    EXPECT_EQ(r.table[7].angle, r.position->positionOffset);
    HallTable expected = test::expectedHallTable(m);
    expected[0].angle = 4.0;
    expected[7].angle = r.position->positionOffset;
    test::expectHallTable(r.table, expected, kSampleDegrees);
}

TEST(PhaseAnalysis, BothModesWithoutHallsIgnoreWhatTheHallInputsRead) {
    test::MotorSpec m;
    m.sensorMode = 3;
    m.hallsPresent = 0;
    PhaseRecording rec = test::makePhaseRecording(m);
    // Unconnected inputs that happen to toggle like real halls must not reach the table.
    test::MotorSpec halls = m;
    halls.sensorMode = 1;
    const PhaseRecording withHalls = test::makePhaseRecording(halls);
    for (std::size_t i = 0; i < rec.samples.size(); ++i)
        rec.samples[i].hall = withHalls.samples[i].hall;
    const PhaseReport r = analysePhases(rec);
    ASSERT_TRUE(r.success());
    ASSERT_EQ(r.list.size(), 4u);
    for (int s = 0; s < 8; ++s) EXPECT_EQ(r.table[static_cast<std::size_t>(s)].previous, s);
}

TEST(PhaseAnalysis, OtherSensorModesFail) {
    for (int mode : {0, 4, 255}) {
        test::MotorSpec m;
        m.sensorMode = mode;
        const PhaseReport r = analysePhases(test::makePhaseRecording(m));
        EXPECT_EQ(r.text, kForward);
        ASSERT_TRUE(r.verdict.has_value());
        EXPECT_EQ(*r.verdict, "FAILED");
    }
}

TEST(PhaseAnalysis, CrossingsAtTheEndOfTheSamplesNeverReadOutside) {
    const std::vector<int> position(500, 800);
    const std::vector<int> hall(500, 3);
    HallTable t = resetHallTable();
    const HallTable before = t;
    EXPECT_FALSE(analysePosition(position, {499, 0, 0, 0, 0, 0, 499, 0}, t).has_value());
    EXPECT_FALSE(analysePosition(position, {10, 0, 0, 0, 0, 0, 500, 0}, t).has_value());
    EXPECT_FALSE(analysePosition(position, {-1, 0, 0, 0, 0, 0, 100, 0}, t).has_value());
    EXPECT_EQ(t, before);
    EXPECT_TRUE(analysePosition(position, {498, 0, 0, 0, 0, 0, 499, 0}, t).has_value());
    EXPECT_FALSE(analyseHalls(hall, {0, 100, 200, 300, 400, 450, 480, 500}, 1, t));
    EXPECT_FALSE(analyseHalls(hall, {0, 100, 200, 300, 400, 450, 480, -3}, 1, t));
    EXPECT_FALSE(analyseHalls(std::vector<int>(500, 9), {0, 1, 2, 3, 4, 5, 6, 7}, 1, t));
    // Recordings that end early or hold nothing fail with a text, never reading beyond them.
    for (int n : {0, 1, 2, 60, 130}) {
        test::MotorSpec m;
        m.samples = n;
        const PhaseReport r = analysePhases(test::makePhaseRecording(m));
        EXPECT_FALSE(r.lines.ok) << n;
        EXPECT_FALSE(r.text.empty());
        EXPECT_FALSE(r.verdict.has_value());
    }
}

TEST(PhaseAnalysis, ACrossingTheFitPutsOutsideTheSamplesIsNotFound) {
    // The window holds two nearly equal samples: the fitted line crosses zero far beyond the
    // 500 samples (index 1e13), which is no crossing of this record.
    PhaseSamples s;
    s.vAB.assign(500, 10.0);
    s.vAB[0] = -10;
    s.vAB[1] = -1;
    s.vAB[2] = -1 + 1e-13;
    s.vBC = s.vCA = s.vAB;
    s.hall.assign(500, 0);
    s.position.assign(500, 0);
    EXPECT_GT(findZeroCrossing(s.vAB, true, "AB"), 1e12);
    const LineVoltageResult r = analyseLineVoltages(s);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.text,
              "An error occurred when attempting to find the positive going zero crossing of "
              "line to line voltage AB\r\n");
}

TEST(PhaseAnalysis, VoltsFollowTheCalibrationOfEachInput) {
    PhaseRecording r;
    r.calibration = test::testCalibration();
    r.samples.push_back({3, 8, 32768, 16384, 49152});
    const PhaseSamples s = phaseSamples(r);
    const double v1 = (0.5 - 0.01f) * 1.1f * 100;
    const double v2 = (0.25 + 0.02f) * 0.9f * 100;
    const double v3 = (0.75 + 0.005f) * 1.0f * 100;
    EXPECT_DOUBLE_EQ(s.vAB[0], v3 - v2);
    EXPECT_DOUBLE_EQ(s.vBC[0], v2 - v1);
    EXPECT_DOUBLE_EQ(s.vCA[0], v1 - v3);
    EXPECT_EQ(s.hall[0], 3);
    EXPECT_EQ(s.position[0], 8);

    PrivateConfig p{};
    p.baseVoltage = 250;
    p.phaseAVoltage = {1.5f, 0.25f};
    p.phaseBVoltage = {2.5f, 0.5f};
    p.phaseCVoltage = {3.5f, 0.75f};
    const PhaseCalibration c = phaseCalibration(p);
    EXPECT_EQ(c.baseVoltage, 250);
    EXPECT_EQ(c.phaseA.gain, 1.5f);
    EXPECT_EQ(c.phaseB.offset, 0.5f);
    EXPECT_EQ(c.phaseC.gain, 3.5f);
}

TEST(PhaseAnalysis, NoisyVoltagesStillGiveTheTable) {
    test::MotorSpec m;
    m.hallWiring = {1, 0, 2};
    PhaseRecording r = test::makePhaseRecording(m);
    std::uint32_t seed = 12345;
    for (auto& s : r.samples)
        for (std::uint16_t* v : {&s.r1, &s.r2, &s.r3}) {
            seed = seed * 1664525u + 1013904223u;
            *v = static_cast<std::uint16_t>(*v + static_cast<int>(seed >> 24) - 128);
        }
    const PhaseReport report = analysePhases(r);
    ASSERT_TRUE(report.success()) << report.text;
    test::expectHallTable(report.table, test::expectedHallTable(m), 1.25 * kSampleDegrees);
}

}  // namespace
}  // namespace qv
