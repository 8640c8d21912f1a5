// The simulated induction motor at standstill: its currents against the circuit's closed forms,
// the frames it sends, and its settings.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "sim/commissioning_im.h"
#include "sim/options.h"
#include "tools/im_acquisition.h"
#include "tools/im_inputs.h"

namespace qv::sim {
namespace {

struct Circuit {
    double rs, rr, lls, lm;
};

SimMotor motorOf(const Circuit& c) {
    SimMotor m;
    m.resistanceOhm = c.rs;
    m.rotorResistanceOhm = c.rr;
    m.leakageInductanceHenry = c.lls;
    m.magnetisingInductanceHenry = c.lm;
    return m;
}

const Circuit kCircuits[] = {{0.05, 0.05, 1e-3, 0.02},
                             {0.05, 0.04, 0.2e-3, 3e-3},
                             {0.1, 0.08, 1e-3, 0.02},
                             {2, 0.5, 1e-6, 1}};

TEST(SimInductionMotor, CurrentsAreThoseOfTheCircuit) {
    for (const Circuit& c : kCircuits) {
        const InductionMotorTool tool(motorOf(c));
        // The step from the state equations against the transfer function's partial fractions.
        const ImParameters ratios{c.rr / c.rs, c.lm / c.rs, c.lls / c.rs, 3.0 / c.rs, 0};
        for (double t : {1e-7, 1e-4, 3e-3, 0.05, 0.7, 9.0})
            EXPECT_NEAR(tool.stepCurrent(3.0, t), stepResponseModel(ratios, t), 1e-9 * 3.0 / c.rs)
                << c.rs << " " << t;
        EXPECT_EQ(tool.stepCurrent(3.0, 0), 0);
        EXPECT_NEAR(tool.stepCurrent(3.0, 1e4), 3.0 / c.rs, 1e-9);
        // The sweep's impedance against the magnitude formula (mV, mΩ and mH give A).
        const ImParameters milli{c.rs * 1000, c.rr * 1000, c.lls * 1000, c.lm * 1000, 0};
        for (double w : {0.0, 0.628, 13.0, 150.0, 4000.0})
            EXPECT_NEAR(2.0 / std::abs(tool.impedance(w)), frequencyResponseModel(milli, w, 2000),
                        1e-12 * 2.0 / c.rs);
    }
}

// The simulated frames, offered to the program's acquisition in order.
ImAcquisitionScript replay(const SimMotor& motor, std::uint64_t seed = 1) {
    InductionMotorTool tool(motor);
    std::mt19937_64 rng(seed);
    ToolSetting setting;
    setting.rng = &rng;
    ImAcquisitionScript script;
    for (const ToolReply& r : tool.acquire(setting)) {
        const auto step = script.nextStep();
        if (!step) {
            ADD_FAILURE() << "a frame more than the status announced";
            break;
        }
        EXPECT_EQ(step->offset, r.status ? 16u : 17u);
        if (!script.accept(r.data)) break;
    }
    return script;
}

TEST(SimInductionMotor, SweepReportsEachAppliedVoltageWithItsCurrent) {
    SimMotor m;
    m.noisePercent = 0;
    const InductionMotorTool tool(m);
    const ImAcquisitionScript script = replay(m);
    EXPECT_FALSE(script.nextStep().has_value());
    const ImRecording& r = script.recording();
    EXPECT_EQ(r.mode, 0);
    EXPECT_EQ(r.count, 40);
    ASSERT_EQ(r.currentA.size(), 40u);
    const auto omega = sweepFrequencies(40);
    for (std::size_t k = 0; k < 40; ++k) {
        const double volts = tool.sweepVolts(omega[k]);
        EXPECT_EQ(r.amplitudeV[k], static_cast<double>(static_cast<float>(volts)) * 1000);
        EXPECT_FLOAT_EQ(static_cast<float>(r.currentA[k]),
                        static_cast<float>(volts / std::abs(tool.impedance(omega[k]))));
    }
    // The current starts at the chosen amplitude and falls as the impedance grows, but the
    // voltage rises: neither stays constant.
    EXPECT_FLOAT_EQ(static_cast<float>(r.currentA[0]), 20.0f);
    EXPECT_LT(r.currentA[39], 0.8 * r.currentA[0]);
    EXPECT_GT(r.amplitudeV[39], 1.2 * r.amplitudeV[0]);
}

TEST(SimInductionMotor, StepSamplesStartWithTheSensorOffsetBeforeTheStep) {
    SimMotor m;
    m.imMode = 1;
    m.imInterval = 50;
    m.imPoints = 30;
    m.noisePercent = 0;
    const InductionMotorTool tool(m);
    const ImRecording r = replay(m).recording();
    EXPECT_EQ(r.samplingInterval, 50);
    ASSERT_EQ(r.currentA.size(), 60u);
    EXPECT_FLOAT_EQ(static_cast<float>(r.currentA[0]), 0.25f);
    EXPECT_FLOAT_EQ(static_cast<float>(r.currentA[1]), 0.25f);  // the moment of the step
    for (int j = 2; j < 60; ++j)
        EXPECT_FLOAT_EQ(
            static_cast<float>(r.currentA[static_cast<std::size_t>(j)]),
            static_cast<float>(0.25 + tool.stepCurrent(tool.stepVolts(), (j - 1) * 5e-3)));
    EXPECT_DOUBLE_EQ(tool.stepVolts() / m.resistanceOhm, m.imCurrentAmps);

    // Noise is drawn from the seed: the same seed, the same samples.
    m.noisePercent = 0.5;
    EXPECT_EQ(replay(m, 7).recording().currentA, replay(m, 7).recording().currentA);
    EXPECT_NE(replay(m, 7).recording().currentA, replay(m, 8).recording().currentA);
}

TEST(SimInductionMotor, CountsModesAndIntervalsGoOutAsChosen) {
    SimMotor m;
    m.imPoints = 0;
    ImAcquisitionScript empty = replay(m);
    ASSERT_TRUE(empty.error().has_value());
    EXPECT_EQ(empty.error()->stage, im_stage::kStatus);
    m.imPoints = -1;
    m.imMode = 9;
    const ImAcquisitionScript other = replay(m);
    EXPECT_EQ(other.recording().count, 100);
    EXPECT_EQ(other.framesReceived(), 100);
    EXPECT_TRUE(other.recording().currentA.empty());
    m.imMode = 1;
    m.imInterval = -20;
    const ImAcquisitionScript negative = replay(m);
    EXPECT_EQ(negative.recording().samplingInterval, -20);
    EXPECT_EQ(negative.error()->stage, im_stage::kInterval);
}

TEST(SimInductionMotor, TheSweepFitFindsTheDefaultCircuitForEverySeed) {
    const SimMotor m;
    for (std::uint64_t seed = 1; seed <= 3; ++seed) {
        const ImRecording r = replay(m, seed).recording();
        const ImFitResult fit = runFit(sweepFitInput(r.amplitudeV, r.currentA));
        ASSERT_TRUE(fit.usable);
        const double truth[] = {m.resistanceOhm, m.rotorResistanceOhm, m.leakageInductanceHenry,
                                m.magnetisingInductanceHenry};
        for (std::size_t j = 0; j < 4; ++j)
            EXPECT_NEAR(fit.parameters[j] / 1000, truth[j], 0.05 * truth[j])
                << "seed " << seed << " parameter " << j;
    }
}

TEST(SimOptions, InductionMotorSettingsAreParsedAndChecked) {
    const Options o = parseOptions({"--motor-rr", "0.03", "--motor-lls", "0.0004", "--motor-lm",
                                    "0.015", "--motor-im-mode", "1", "--motor-im-points", "0",
                                    "--motor-im-interval", "-5", "--motor-im-current", "35"});
    const SimMotor& m = o.commissioning.motor;
    EXPECT_DOUBLE_EQ(m.rotorResistanceOhm, 0.03);
    EXPECT_DOUBLE_EQ(m.leakageInductanceHenry, 0.0004);
    EXPECT_DOUBLE_EQ(m.magnetisingInductanceHenry, 0.015);
    EXPECT_EQ(m.imMode, 1);
    EXPECT_EQ(m.imFrameCount(), 0);
    EXPECT_EQ(m.imInterval, -5);
    EXPECT_DOUBLE_EQ(m.imCurrentAmps, 35);
    EXPECT_EQ(SimMotor{}.imFrameCount(), 40);
    for (const auto& bad : std::vector<std::vector<std::string>>{{"--motor-rr", "0"},
                                                                 {"--motor-lm", "x"},
                                                                 {"--motor-im-points", "65536"},
                                                                 {"--motor-im-interval", "40000"},
                                                                 {"--motor-im-mode", "-1"}})
        EXPECT_THROW(parseOptions(bad), UsageError) << bad[0];
    bool registered = false;
    for (const auto& [name, factory] : registeredSimTools())
        registered |= name == "induction_motor";
    EXPECT_TRUE(registered);
}

}  // namespace
}  // namespace qv::sim
