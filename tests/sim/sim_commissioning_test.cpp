// A simulated controller's side of the commissioning exchange, on a bus without sockets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "sim/commissioning_motor.h"
#include "sim/controller.h"
#include "sim/object_table.h"
#include "tools/phase_acquisition.h"
#include "tools/phase_analysis.h"
#include "tools/pm_analysis.h"

namespace qv::sim {
namespace {

constexpr std::uint32_t kBase = 0x400;

PrivateConfig storedPrivateConfigOf(std::uint32_t base) {
    PrivateConfig p{};
    const auto stream = makeConfigStream(1, base, 5);
    std::memcpy(&p, stream.data() + 30, sizeof p);
    return p;
}

class Recorder : public Node {
  public:
    void onFrame(const CanFrame& frame, double) override {
        if (frame.identifier() == kBase + 16 || frame.identifier() == kBase + 17)
            frames.push_back(frame);
    }
    void tick(double) override {}
    std::vector<CanFrame> frames;
    int status() const {
        int n = 0;
        for (const auto& f : frames) n += f.identifier() == kBase + 16;
        return n;
    }
    int data() const { return static_cast<int>(frames.size()) - status(); }
};

CanFrame command(std::uint16_t tool, std::uint16_t start) {
    CanFrame::Data d{};
    d[4] = static_cast<std::uint8_t>(tool);
    d[6] = static_cast<std::uint8_t>(start);
    return CanFrame(kBase + 15, false, false, 8, d);
}

std::uint16_t word(const CanFrame& f, std::size_t w) {
    return static_cast<std::uint16_t>(f.data()[2 * w] | f.data()[2 * w + 1] << 8);
}

class Bench {
  public:
    explicit Bench(const CommissioningOptions& o = {}) {
        ControllerSettings s;
        s.device = parseDevice("0x400:5:KX01");
        s.clock = [this] { return now; };
        controller = std::make_unique<Controller>(bus, s);
        std::vector<std::unique_ptr<SimTool>> tools;
        tools.push_back(std::make_unique<PhaseAllocationTool>(o.motor));
        tools.push_back(std::make_unique<PmParameterTool>(o.motor));
        auto behaviour = std::make_unique<CommissioningExchange>(o.faults, std::move(tools), 3);
        exchange = behaviour.get();
        controller->addBehaviour(std::move(behaviour));
        bus.attach(*controller);
        bus.attach(recorder);
    }
    void send(const CanFrame& f) {
        bus.send(f, &recorder);
        bus.deliver(now);
    }
    void runFor(double ms) {
        for (const double end = now + ms; now < end; now += 0.25) {
            controller->tick(now);
            bus.deliver(now);
        }
    }

    double now = 0;
    Bus bus;
    Recorder recorder;
    std::unique_ptr<Controller> controller;
    CommissioningExchange* exchange = nullptr;
};

TEST(SimCommissioning, SelectedToolAnswersARequestWithItsFramesInOrder) {
    CommissioningOptions o;
    o.motor.sensorMode = 3;
    Bench b(o);
    b.send(command(1, 0));
    EXPECT_EQ(b.exchange->selectedTool(), 1);
    b.send(command(0, 1));  // the request carries no tool number
    b.runFor(1000);
    ASSERT_EQ(b.recorder.status(), 3);
    ASSERT_EQ(b.recorder.data(), 500);
    const auto& f = b.recorder.frames;
    EXPECT_EQ(f.front().identifier(), kBase + 16);
    EXPECT_EQ(word(f[0], 3), 1);
    EXPECT_EQ(f[0].data()[4], 3);  // sensor mode
    EXPECT_EQ(f[0].data()[5], 1);  // halls fitted
    EXPECT_EQ(word(f[1], 3), 2);
    EXPECT_EQ(f[2].identifier(), kBase + 17);
    EXPECT_EQ(word(f.back(), 3), 3);
    EXPECT_EQ(b.exchange->acquisitions(), 1);
}

TEST(SimCommissioning, NothingSelectedOrDeselectedMeansNoReply) {
    Bench b;
    b.send(command(0, 1));
    b.runFor(1000);
    EXPECT_TRUE(b.recorder.frames.empty());
    b.send(command(2, 0));
    b.send(command(0, 0));
    b.send(command(0, 1));
    b.runFor(1000);
    EXPECT_TRUE(b.recorder.frames.empty());
    b.send(command(9, 0));  // a tool this controller does not have
    b.send(command(0, 1));
    b.runFor(1000);
    EXPECT_TRUE(b.recorder.frames.empty());
}

TEST(SimCommissioning, PmTestReportsCountsAndTimeBaseFirst) {
    CommissioningOptions o;
    o.motor.viPoints = 7;
    o.motor.decayPoints = 10;
    Bench b(o);
    b.send(command(2, 0));
    b.send(command(0, 1));
    b.runFor(1000);
    ASSERT_EQ(b.recorder.status(), 1);
    EXPECT_EQ(b.recorder.data(), 4 + 5);
    const CanFrame& s = b.recorder.frames[0];
    EXPECT_EQ(word(s, 0), PmParameterTool::kTimeBase);
    EXPECT_EQ(word(s, 1), 10);
    EXPECT_EQ(word(s, 2), 7);
    EXPECT_EQ(word(s, 3), 3);
    // The odd seventh point leaves the last resistance frame's second point empty.
    EXPECT_EQ(word(b.recorder.frames[4], 0), 0);
    EXPECT_EQ(word(b.recorder.frames[4], 1), 0);
    // The decay starts at time 0 at its highest current.
    EXPECT_EQ(word(b.recorder.frames[5], 3), 0);
    EXPECT_GT(static_cast<std::int16_t>(word(b.recorder.frames[5], 2)),
              static_cast<std::int16_t>(word(b.recorder.frames[5], 0)));
}

TEST(SimCommissioning, FaultsLeaveOutOrSpoilTheChosenReplies) {
    const auto run = [](ToolFaults f) {
        CommissioningOptions o;
        o.faults = f;
        auto b = std::make_unique<Bench>(o);
        b->send(command(1, 0));
        b->send(command(0, 1));
        b->runFor(1000);
        return b;
    };
    ToolFaults omit;
    omit.omitData = 3;
    auto b = run(omit);
    EXPECT_EQ(b->recorder.data(), 499);
    EXPECT_EQ(b->recorder.status(), 3);
    ToolFaults stop;
    stop.stopData = 2;
    b = run(stop);
    EXPECT_EQ(b->recorder.data(), 2);
    EXPECT_EQ(b->recorder.status(), 2);  // nor the final status
    ToolFaults status;
    status.omitStatus = 0;
    b = run(status);
    EXPECT_EQ(b->recorder.status(), 2);
    EXPECT_EQ(word(b->recorder.frames[0], 3), 2);
    ToolFaults wrong;
    wrong.wrongPhase = 2;
    b = run(wrong);
    EXPECT_EQ(word(b->recorder.frames.back(), 3), 0);
    ToolFaults silent;
    silent.silent = true;
    b = run(silent);
    EXPECT_TRUE(b->recorder.frames.empty());
}

TEST(SimCommissioning, ResetForgetsTheSelectionAndTheRepliesUnderWay) {
    Bench b;
    b.send(command(1, 0));
    b.send(command(0, 1));
    b.runFor(100);
    b.controller->setMuted(true);
    b.controller->setMuted(false);
    b.runFor(1000);
    EXPECT_EQ(b.exchange->selectedTool(), 0);
    EXPECT_LT(b.recorder.data(), 500);
    EXPECT_EQ(b.recorder.status(), 1);
}

TEST(SimMotor, TruthFollowsTheWiring) {
    SimMotor m;
    m.hallWiring = {2, 0, 1};
    const MotorModel model(m);
    const auto table = model.hallTable();
    // Three sensors 120 degrees apart never read all low or all high.
    EXPECT_EQ(table[0].previous, 0);
    EXPECT_EQ(table[7].previous, 7);
    int entered = 0;
    for (int s = 1; s < 7; ++s) entered += table[static_cast<std::size_t>(s)].previous != s;
    EXPECT_EQ(entered, 6);
    // With A-B-C the edges sit at the shift plus whole 60 degrees of the controller's frame.
    for (int s = 1; s < 7; ++s) {
        const double deg = table[static_cast<std::size_t>(s)].angle * 360 - m.hallShiftDegrees;
        EXPECT_NEAR(deg / 60, std::round(deg / 60), 1e-9);
    }
    m.poleRatio = 32;
    EXPECT_EQ(MotorModel(m).poleRatio(), 1);
    m.poleRatio = -6;
    EXPECT_EQ(MotorModel(m).poleRatio(), -6);
}

// Runs the simulated acquisition without a bus and hands its frames to the program's script.
template <typename Script>
Script replay(SimTool& tool, std::uint64_t seed, Script script) {
    std::mt19937_64 rng(seed);
    ToolSetting setting;
    setting.calibration = storedPrivateConfigOf(kBase);
    setting.rng = &rng;
    for (const ToolReply& r : tool.acquire(setting)) {
        EXPECT_TRUE(script.nextStep().has_value());
        EXPECT_EQ(script.nextStep()->offset, r.status ? 16u : 17u);
        EXPECT_TRUE(script.accept(r.data));
    }
    EXPECT_FALSE(script.nextStep().has_value());
    return script;
}

TEST(SimMotor, EveryStartAngleAndWiringGivesTheTruth) {
    const std::array<std::array<int, 3>, 6> wirings{
        {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}}};
    int runs = 0;
    for (bool reversed : {false, true})
        for (const auto& wiring : wirings)
            for (std::uint64_t seed = 1; seed <= 12; ++seed) {
                SimMotor m;
                m.phasesReversed = reversed;
                m.hallWiring = wiring;
                m.sensorMode = 3;
                m.hallShiftDegrees = static_cast<double>(seed % 5) * 5 - 10;
                PhaseAllocationTool tool(m);
                const auto script =
                    replay(tool, seed,
                           PhaseAcquisitionScript(phaseCalibration(storedPrivateConfigOf(kBase))));
                const PhaseReport r = analysePhases(script.recording());
                ASSERT_TRUE(r.success()) << r.text << " seed " << seed;
                const MotorModel model(m);
                EXPECT_EQ(r.lines.phaseOrder, model.phaseOrder());
                const auto truth = model.hallTable();
                for (std::size_t s = 1; s < 7; ++s) {
                    EXPECT_EQ(r.table[s].previous, truth[s].previous) << "seed " << seed;
                    const double d = std::remainder((r.table[s].angle - truth[s].angle) * 360, 360);
                    EXPECT_LE(std::fabs(d), 2.5 * 360 * m.speedHz / 1000) << "seed " << seed;
                }
                EXPECT_NEAR(r.position->poleRatio, 4, 0.1);
                ++runs;
            }
    EXPECT_EQ(runs, 144);
}

TEST(SimMotor, WindingIsRecoveredWithinTwoPercentForManySeeds) {
    for (std::uint64_t seed = 1; seed <= 50; ++seed) {
        SimMotor m;
        m.resistanceOhm = 0.02 + 0.01 * static_cast<double>(seed % 7);
        m.inductanceHenry = 50e-6 * static_cast<double>(1 + seed % 5);
        PmParameterTool tool(m);
        const auto cal = storedPrivateConfigOf(kBase);
        const auto script =
            replay(tool, seed, PmAcquisitionScript(cal.baseVoltage, cal.baseCurrent));
        const PmReport r = analysePm(script.recording());
        ASSERT_TRUE(r.usable) << r.problem;
        EXPECT_NEAR(r.resistance, m.resistanceOhm, 0.02 * m.resistanceOhm) << "seed " << seed;
        EXPECT_NEAR(r.inductance, m.inductanceHenry, 0.02 * m.inductanceHenry) << "seed " << seed;
    }
}

TEST(SimOptions, CommissioningSettingsAreParsedAndChecked) {
    const Options o =
        parseOptions({"--motor-phase-order", "acb", "--motor-hall-wiring", "312",
                      "--motor-sensor-mode", "3", "--motor-pole-ratio", "-5", "--motor-resistance",
                      "0.2", "--tool-stop-data", "7", "--tool-silent"});
    const SimMotor& m = o.commissioning.motor;
    EXPECT_TRUE(m.phasesReversed);
    EXPECT_EQ(m.hallWiring, (std::array<int, 3>{2, 0, 1}));
    EXPECT_EQ(m.sensorMode, 3);
    EXPECT_EQ(m.poleRatio, -5);
    EXPECT_DOUBLE_EQ(m.resistanceOhm, 0.2);
    EXPECT_EQ(o.commissioning.faults.stopData, 7);
    EXPECT_TRUE(o.commissioning.faults.silent);
    for (const auto& bad : std::vector<std::vector<std::string>>{{"--motor-phase-order", "abd"},
                                                                 {"--motor-hall-wiring", "113"},
                                                                 {"--motor-pole-ratio", "0"},
                                                                 {"--motor-speed", "fast"},
                                                                 {"--motor-noise", "50"},
                                                                 {"--tool-omit-data", "-1"}})
        EXPECT_THROW(parseOptions(bad), UsageError) << bad[0];
}

}  // namespace
}  // namespace qv::sim
