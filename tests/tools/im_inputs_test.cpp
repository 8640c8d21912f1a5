#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "tools/im_inputs.h"
#include "tools/im_log.h"

namespace qv {
namespace {

TEST(ImInputs, SweepFrequenciesRiseByFifteenPercentFromATenthOfAHertz) {
    const std::vector<double> w = sweepFrequencies(40);
    ASSERT_EQ(w.size(), 40u);
    EXPECT_EQ(w[0], 0.6283185307179586);
    EXPECT_EQ(w[1], 0.6283185307179586 * 1.15);
    EXPECT_EQ(w[2], w[1] * 1.15);
    EXPECT_NEAR(w[39] / (2 * M_PI), 0.1 * std::pow(1.15, 39), 1e-12);  // about 23 Hz
    const std::vector<double> logs = logFrequencies(w);
    EXPECT_NEAR(logs[0], -0.4647, 1e-4);
    EXPECT_EQ(logs[39], std::log(w[39]));
}

TEST(ImInputs, SweepStartsFromTheFirstPointsImpedance) {
    const std::vector<double> v{1200.0, 1300.0, 1400.0}, i{60.0, 50.0, 40.0};
    const ImFitInput in = sweepFitInput(v, i);
    EXPECT_EQ(in.model, ImModel::FrequencyResponse);
    EXPECT_EQ(in.start, (ImParameters{20.0, 20.0, 1.0, 10.0, 0.0}));
    EXPECT_EQ(in.iterations, 100000);
    EXPECT_EQ(in.y, i);
    EXPECT_EQ(in.amplitude, v);
    EXPECT_EQ(in.x, sweepFrequencies(3));
    EXPECT_THROW(sweepFitInput({}, {}), std::invalid_argument);
    EXPECT_THROW(sweepFitInput(v, std::vector<double>{1.0, 2.0}), std::invalid_argument);
}

TEST(ImInputs, StepDropsTheZeroReference) {
    // N = 100, S = 10: 200 samples 1 ms apart, 199 fitted points at t = 0 … 0.198 s.
    std::vector<double> samples(200);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = 0.25 + 0.125 * i;
    const ImFitInput in = stepFitInput(samples, 10);
    EXPECT_EQ(in.model, ImModel::StepResponse);
    ASSERT_EQ(in.x.size(), 199u);
    ASSERT_EQ(in.y.size(), 199u);
    EXPECT_EQ(in.x[0], 0.0);
    EXPECT_EQ(in.x[1], 0.001);
    EXPECT_EQ(in.x[198], 0.198);
    EXPECT_EQ(in.y[0], 0.125);  // I_1 − I_0
    EXPECT_EQ(in.y[198], 0.125 * 199);
    EXPECT_EQ(in.start, (ImParameters{0.3, 0.1, 0.01, 20.0, 0.0}));
    EXPECT_EQ(in.iterations, 20000);
    EXPECT_EQ(in.amplitude, std::vector<double>{0.0});
    EXPECT_EQ(stepFitInput(samples, 3).x[7], 0.0021);
    EXPECT_THROW(stepFitInput(std::vector<double>{1.0}, 10), std::invalid_argument);
    EXPECT_THROW(stepFitInput(samples, 0), std::invalid_argument);
    EXPECT_THROW(stepFitInput(samples, -10), std::invalid_argument);
}

TEST(ImLog, SweepText) {
    const std::vector<double> v{1234.5678, 987.0}, i{61.0004, 5.5};
    EXPECT_EQ(sweepLogText(v, i, {21.5, 17.25, 0.9, 6.5, -0.4}),
              "1234.568, 61.000; ...\r\n"
              "987.000, 5.500; ...\r\n"
              "\r\nRs = 21.500000 mR \r\nRr = 17.250000 mR \r\nLls = 0.900000 mH \r\n"
              "Lm = 6.500000 mH \r\nIb = -0.400000 A \r\n");
}

TEST(ImLog, StepText) {
    const std::vector<double> samples{0.125, 3.5, -0.0004};
    EXPECT_EQ(stepLogText(samples, {0.8, 0.2, 0.01, 25.0, 0.0003}),
              "Rr/Rs = 0.800000 \r\nLm/Rs = 0.200000 H/R \r\nLls/Rs = 0.010000 H/R \r\n"
              "scale = 25.000000 A \r\ntime offset = 0.000300 s \r\n\r\n Lm/Rr = 0.250000 s "
              "\r\n\r\n"
              "0.125; ...\r\n3.500; ...\r\n-0.000; ...\r\n");
}

TEST(ImLog, FixedFormatMatchesPrintf) {
    for (double v : {0.0, -0.0, 0.0005, 0.0015, 2.5e-7, -1.9999995, 123456789.123456789, 1e20,
                     -3.4e38, 1e300, double(INFINITY), -double(INFINITY)}) {
        for (int precision : {3, 6}) {
            char expected[512];
            std::snprintf(expected, sizeof expected, "%3.*f", precision, v);
            EXPECT_EQ(formatFixed(v, precision, 3), expected) << v;
        }
    }
    EXPECT_EQ(formatFixed(NAN, 6), "nan");
    EXPECT_EQ(formatFixed(1.5, 1, 6), "   1.5");
}

}  // namespace
}  // namespace qv
