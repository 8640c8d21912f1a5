// The commissioning tools through the program's CAN port against simulated controllers: the
// analyses find the simulator's wiring and winding, faults give the tools' messages, and
// telemetry keeps flowing while an acquisition waits.
#include <gtest/gtest.h>

#include <cmath>

#include "commissioning_rig.h"
#include "sim/commissioning_motor.h"
#include "tools/im_extraction.h"

namespace qv {
namespace {

constexpr std::uint32_t kBase = test::kToolRigBase;
using test::Rig;

double circularDegrees(double fractionA, double fractionB) {
    const double d = std::fmod((fractionA - fractionB) * 360 + 540, 360.0);
    return std::fabs((d < 0 ? d + 360 : d) - 180);
}

struct Case {
    const char* name;
    sim::SimMotor motor;
};

sim::SimMotor motor(bool reversed, int mode, std::array<int, 3> wiring, int poleRatio = 4,
                    int halls = -1) {
    sim::SimMotor m;
    m.phasesReversed = reversed;
    m.sensorMode = mode;
    m.hallWiring = wiring;
    m.poleRatio = poleRatio;
    m.hallsPresent = halls;
    return m;
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class PhaseAllocation : public ::testing::TestWithParam<Case> {};

TEST_P(PhaseAllocation, FindsTheSimulatedWiringAndWritesIt) {
    const sim::SimMotor& m = GetParam().motor;
    sim::CommissioningOptions options;
    options.motor = m;
    Rig rig(options);
    DuvodaRezirTool tool(rig.context());
    const int telemetry = rig.run(tool);
    ASSERT_TRUE(rig.ui.boxes.empty()) << rig.ui.boxes[0].text;
    ASSERT_TRUE(tool.report().has_value());
    const PhaseReport& r = *tool.report();
    ASSERT_TRUE(r.success()) << r.text;
    EXPECT_GT(telemetry, 0) << "telemetry stopped during the acquisition";

    const sim::MotorModel model(m);
    EXPECT_EQ(r.lines.phaseOrder, model.phaseOrder());
    ASSERT_EQ(rig.uploads, (std::vector<int>{8}));
    const MotorConfig& written = rig.store.motor[5];
    EXPECT_EQ(+written.phaseSequenceReversed, m.phasesReversed ? 1 : 0);

    const auto truth = model.hallTable();
    // An edge shows at the first sample after it, between crossings that are whole samples.
    const double tolerance = 2.5 * 360 * m.speedHz / 1000;
    const bool halls = m.hallsFitted() && (m.sensorMode == 1 || m.sensorMode == 3);
    const bool position = m.sensorMode == 2 || m.sensorMode == 3;
    int ratioState = -1;
    for (int s = 0; s < 8; ++s) {
        const auto& t = truth[static_cast<std::size_t>(s)];
        const bool entered = t.previous != s;
        if (halls) {
            EXPECT_EQ(+written.hallPrevious[s], t.previous) << "state " << s;
            if (entered) {
                EXPECT_LE(circularDegrees(written.hallAngle[s], t.angle), tolerance)
                    << "state " << s << ": " << written.hallAngle[s] * 360 << " vs "
                    << t.angle * 360;
            }
        } else {
            EXPECT_EQ(+written.hallPrevious[s], s);
        }
        if (position && written.hallPrevious[s] == s && ratioState < 0) ratioState = s;
    }
    if (position) {
        ASSERT_TRUE(r.position.has_value());
        ASSERT_GE(ratioState, 0);
        EXPECT_EQ(+written.hallAngle[ratioState], static_cast<float>(model.poleRatio()));
        // The offset is the reading at one of the reference crossings: a whole number of
        // 1 / |ratio| from the first, within a sample and a half of turning.
        const double period = 1.0 / std::abs(m.poleRatio);
        const double diff = r.position->positionOffset - model.positionAtReference();
        const double off = std::fabs(diff / period - std::round(diff / period)) * period;
        EXPECT_LE(off, 1.5 * m.speedHz / 1000 * period + 16.0 / 65536) << diff;
        for (int s = ratioState + 1; s < 8; ++s)
            if (written.hallPrevious[s] == s) {
                EXPECT_EQ(+written.hallAngle[s], static_cast<float>(r.position->positionOffset));
            }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Motors, PhaseAllocation,
    ::testing::Values(Case{"HallsForward", motor(false, 1, {0, 1, 2})},
                      Case{"HallsReversed", motor(true, 1, {2, 0, 1})},
                      Case{"HallsForwardOtherWiring", motor(false, 1, {1, 0, 2})},
                      Case{"PositionOnly", motor(false, 2, {0, 1, 2}, 4)},
                      Case{"PositionBackwardsReversed", motor(true, 2, {0, 1, 2}, -7)},
                      Case{"BothReversed", motor(true, 3, {1, 2, 0}, 5)},
                      Case{"BothWithoutHalls", motor(false, 3, {0, 1, 2}, 3, 0)}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(PmExtractionEndToEnd, RecoversResistanceAndInductanceWithinTwoPercent) {
    for (const auto& [r, l, n1] : {std::tuple{0.05, 100e-6, 20}, std::tuple{0.2, 1e-3, 7}}) {
        sim::CommissioningOptions options;
        options.motor.resistanceOhm = r;
        options.motor.inductanceHenry = l;
        options.motor.viPoints = n1;
        Rig rig(options);
        PmExtractionTool tool(rig.context());
        EXPECT_GT(rig.run(tool), 0);
        ASSERT_TRUE(rig.ui.boxes.empty()) << rig.ui.boxes[0].text;
        ASSERT_TRUE(tool.report().has_value());
        const PmReport& report = *tool.report();
        ASSERT_TRUE(report.usable) << report.problem;
        EXPECT_EQ(report.n1, n1);
        EXPECT_NEAR(report.resistance, r, 0.02 * r);
        EXPECT_NEAR(report.inductance, l, 0.02 * l);
        EXPECT_EQ(rig.uploads, (std::vector<int>{6}));
        EXPECT_EQ(+rig.store.motor[5].lineResistance, static_cast<float>(report.resistance));
        EXPECT_EQ(+rig.store.motor[5].lineInductance, static_cast<float>(report.inductance));
    }
}

std::string phaseFailure(sim::ToolFaults faults) {
    sim::CommissioningOptions options;
    options.faults = faults;
    Rig rig(options);
    DuvodaRezirTool tool(rig.context());
    rig.run(tool);
    EXPECT_TRUE(rig.uploads.empty());
    if (rig.ui.boxes.size() != 1) return "boxes: " + std::to_string(rig.ui.boxes.size());
    EXPECT_EQ(rig.ui.boxes[0].caption, "Acquisition error");
    return rig.ui.boxes[0].text;
}

TEST(CommissioningFaultsEndToEnd, PhaseAllocationNamesWhatIsMissing) {
    sim::ToolFaults silent;
    silent.silent = true;
    EXPECT_EQ(phaseFailure(silent), "No reply from the controller");
    sim::ToolFaults noSpeed;
    noSpeed.wrongPhase = 1;
    EXPECT_EQ(phaseFailure(noSpeed), "Failed to obtain sufficient speed");
    sim::ToolFaults cut;
    cut.stopData = 2;
    EXPECT_EQ(phaseFailure(cut),
              "Error occurred while receiving CAN packet 2 of DuvodaRezir acquisition");
    sim::ToolFaults noFinal;
    noFinal.omitStatus = 2;
    EXPECT_EQ(phaseFailure(noFinal),
              "Error occurred while receiving CAN packet 500 of DuvodaRezir acquisition");
}

TEST(CommissioningFaultsEndToEnd, PmExtractionNamesWhatIsMissingAndRefusesBadCounts) {
    const auto failure = [](sim::ToolFaults faults, int n1) {
        sim::CommissioningOptions options;
        options.faults = faults;
        options.motor.viPoints = n1;
        Rig rig(options);
        PmExtractionTool tool(rig.context());
        rig.run(tool);
        EXPECT_TRUE(rig.uploads.empty());
        return rig.ui.boxes.size() == 1 ? rig.ui.boxes[0].text : std::string("no box");
    };
    sim::ToolFaults cut;
    cut.stopData = 1;
    EXPECT_EQ(failure(cut, 20),
              "Error occurred while receiving CAN packet 2 of resistance acquisition");
    sim::ToolFaults wrong;
    wrong.wrongPhase = 0;
    EXPECT_EQ(failure(wrong, 20),
              "No reply from the controller in response to data acquisition request");
    EXPECT_EQ(failure({}, 40),
              "The controller reported 40 resistance points and 20 inductance points; each "
              "count must be between 1 and 30");
}

// The rig's bridge forwards a connection's identifiers only over it. DuvodaRezir (as the PM
// extraction) queues its request on the tool connection, whose prefix asks for base + 15 and the
// two after it: every reply comes over it (a prefix that left one out would bring it by
// multicast). The IM extraction sends its request at once by multicast and nothing over the
// connection, so the bridge learns no range and the replies come by multicast. A connect of
// 150 ms takes nothing from the 100 ms DuvodaRezir's controller has for its first reply.
TEST(CommissioningOverTcp, RequestsAndRepliesTakeThePathsTheirConnectionAskedFor) {
    {
        Rig rig({});
        rig.setConnectDelay(150);
        DuvodaRezirTool tool(rig.context());
        rig.run(tool);
        ASSERT_TRUE(rig.ui.boxes.empty()) << rig.ui.boxes[0].text;
        EXPECT_TRUE(tool.report() && tool.report()->success());
        EXPECT_EQ(rig.overTcp, 3 + 500);
        EXPECT_EQ(rig.byMulticast, 0);
        EXPECT_EQ(rig.bridge().framesFromTcp, 2u);  // the selection and the request
    }
    {
        sim::CommissioningOptions options;
        options.motor.imPoints = 6;
        Rig rig(options);
        ImExtractionTool tool(rig.context(), std::make_unique<ThreadFitRunner>());
        rig.run(tool);
        ASSERT_TRUE(tool.extraction().has_value());
        EXPECT_EQ(rig.overTcp, 0);
        EXPECT_EQ(rig.byMulticast, 1 + 6);
        EXPECT_EQ(rig.bridge().framesFromTcp, 1u);  // the selection alone
    }
}

}  // namespace
}  // namespace qv
