#include "tools/pm_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "tools/tool_plots.h"

namespace qv {
namespace {

// Base values that make one count 1/32768 of 32768: raw words are the values themselves
// (voltage in V, current in A) before scaling by these.
constexpr double kBaseVoltage = 32768.0 / 1000;  // 1 count = 1 mV
constexpr double kBaseCurrent = 32768.0 / 100;   // 1 count = 10 mA

std::int16_t volts(double v) {
    return static_cast<std::int16_t>(std::lround(v * 1000));
}
std::int16_t amps(double a) {
    return static_cast<std::int16_t>(std::lround(a * 100));
}

// Points pairwise into frames: point i in words 3 and 2, point i + 1 in words 1 and 0.
PmRecording recording(const std::vector<std::pair<double, double>>& vi,
                      const std::vector<std::pair<int, double>>& decay, int s, int n1 = -1,
                      int n2 = -1) {
    PmRecording r;
    r.baseVoltage = kBaseVoltage;
    r.baseCurrent = kBaseCurrent;
    r.n1 = n1 < 0 ? static_cast<int>(vi.size()) : n1;
    r.n2 = n2 < 0 ? static_cast<int>(decay.size()) : n2;
    r.s = s;
    for (std::size_t i = 0; i < vi.size(); i += 2) {
        const auto b = i + 1 < vi.size() ? vi[i + 1] : std::pair<double, double>{0, 0};
        r.frames.push_back(
            {amps(b.second), volts(b.first), amps(vi[i].second), volts(vi[i].first)});
    }
    for (std::size_t j = 0; j < decay.size(); j += 2) {
        const auto b = j + 1 < decay.size() ? decay[j + 1] : std::pair<int, double>{0, 0};
        r.frames.push_back({amps(b.second), static_cast<std::int16_t>(b.first),
                            amps(decay[j].second), static_cast<std::int16_t>(decay[j].first)});
    }
    return r;
}

// Io = 20 A, tau = 2 ms, raw time in units of 0.1 ms (S = 10000), every 0.4 ms.
std::vector<std::pair<int, double>> decay(int n) {
    std::vector<std::pair<int, double>> d;
    for (int k = 0; k < n; ++k) d.push_back({4 * k, 20 * std::exp(-(4 * k * 1e-4) / 0.002)});
    return d;
}

TEST(FitLine, OrdinaryLeastSquares) {
    const std::vector<double> x{1, 2, 3}, y{10, 20, 30};
    const LineFit f = fitLine(x, y);
    EXPECT_DOUBLE_EQ(f.m, 10);
    EXPECT_NEAR(f.c, 0, 1e-12);
    const std::vector<double> x2{0, 1, 2, 3}, y2{1, 2.9, 5.1, 7};
    const LineFit g = fitLine(x2, y2);
    EXPECT_NEAR(g.m, 2.02, 1e-12);
    EXPECT_NEAR(g.c, 0.97, 1e-12);
    EXPECT_FALSE(std::isfinite(fitLine(std::vector<double>{2, 2, 2}, y).m));
}

TEST(FitDecay, RecoversAnExactExponential) {
    std::vector<double> t, i;
    for (int k = 0; k < 12; ++k) {
        t.push_back(k * 4e-4);
        i.push_back(20 * std::exp(-t.back() / 0.002));
    }
    const DecayFit f = fitDecay(t, i);
    EXPECT_NEAR(f.tau, 0.002, 1e-12);
    EXPECT_NEAR(f.io, 20, 1e-9);
    i[5] = 0;
    EXPECT_FALSE(std::isfinite(fitDecay(t, i).tau));
    i[5] = -1;
    EXPECT_FALSE(std::isfinite(fitDecay(t, i).io));
}

TEST(PmAnalysis, FiftyMilliohmsAndAHundredMicrohenries) {
    const PmReport r = analysePm(recording({{1, 10}, {2, 20}, {3, 30}}, decay(10), 10000));
    EXPECT_NEAR(r.line.m, 10, 1e-9);
    EXPECT_NEAR(r.line.c, 0, 1e-9);
    EXPECT_NEAR(r.resistance, 0.05, 1e-12);
    EXPECT_EQ(r.resistanceText, "50.0mR");
    // Currents are stored to 10 mA, which moves the fit a little.
    EXPECT_NEAR(r.decay.tau, 0.002, 2e-6);
    EXPECT_NEAR(r.decay.io, 20, 0.01);
    EXPECT_NEAR(r.inductance, 0.0001, 1e-7);
    EXPECT_EQ(r.inductanceText, "100.0uH");
    EXPECT_TRUE(r.usable);
    EXPECT_TRUE(r.problem.empty());

    MotorConfig motor{};
    ASSERT_TRUE(writePmResult(r, motor));
    EXPECT_EQ(+motor.lineResistance, static_cast<float>(r.resistance));
    EXPECT_EQ(+motor.lineInductance, static_cast<float>(r.inductance));
}

TEST(PmAnalysis, LogListsPointsThenFits) {
    const PmReport r = analysePm(recording({{1, 10}, {2, 20.5}}, {{0, 8}, {25, 4}}, 10000));
    EXPECT_EQ(r.log.substr(0, r.log.find("\r\nR fit")),
              "2, 2\r\nResistance Acq\r\n1.0000, 10.00\r\n2.0000, 20.50\r\n\r\nRL Acq\r\n"
              "0.0000, 8.00\r\n2.5000, 4.00\r\n");
    EXPECT_NE(r.log.find("\r\nR fit\r\nm=10.5000\r\nc=-0.5000\r\n\r\nRL fit\r\ntau=0.003607\r\n"
                         "Io=8.0000\r\n"),
              std::string::npos)
        << r.log;
}

TEST(PmAnalysis, OddCountReadsWholeFramesButFitsOnlyItsPoints) {
    // Five points in three frames; the sixth slot holds an outlier the fit must not see.
    PmRecording rec =
        recording({{1, 10}, {2, 20}, {3, 30}, {4, 40}, {5, 50}, {6, 200}}, decay(4), 10000, 5);
    ASSERT_EQ(rec.frames.size(), 5u);
    const PmReport r = analysePm(rec);
    EXPECT_EQ(r.samples.voltage.size(), 6u);
    EXPECT_NEAR(r.samples.current[5], 200, 1e-9);
    EXPECT_NEAR(r.line.m, 10, 1e-9);
    EXPECT_EQ(r.resistanceText, "50.0mR");
    EXPECT_EQ(std::count(r.log.begin(), r.log.end(), '\n'), 1 + 1 + 5 + 2 + 4 + 4 + 4);
}

TEST(PmAnalysis, UnusableFitsAreShownSoAndNeverWritten) {
    MotorConfig motor{};
    motor.lineResistance = 0.25f;
    motor.lineInductance = 3e-4f;
    // Every applied voltage equal.
    PmReport r = analysePm(recording({{2, 10}, {2, 20}, {2, 30}}, decay(6), 10000));
    EXPECT_FALSE(r.usable);
    EXPECT_EQ(r.resistanceText, "not usable");
    EXPECT_EQ(r.inductanceText, "not usable");
    EXPECT_NE(r.problem.find("no usable resistance"), std::string::npos);
    EXPECT_FALSE(writePmResult(r, motor));
    // A decay current at zero.
    auto d = decay(6);
    d[3].second = 0;
    r = analysePm(recording({{1, 10}, {2, 20}}, d, 10000));
    EXPECT_FALSE(r.usable);
    EXPECT_EQ(r.resistanceText, "50.0mR");
    EXPECT_EQ(r.inductanceText, "not usable");
    EXPECT_NE(r.problem.find("no usable inductance"), std::string::npos);
    EXPECT_FALSE(writePmResult(r, motor));
    // Current falling with voltage: a negative resistance is no result either.
    r = analysePm(recording({{1, 30}, {2, 20}, {3, 10}}, decay(6), 10000));
    EXPECT_FALSE(r.usable);
    EXPECT_FALSE(writePmResult(r, motor));
    EXPECT_EQ(+motor.lineResistance, 0.25f);
    EXPECT_EQ(+motor.lineInductance, 3e-4f);
}

TEST(PmAnalysis, ZeroTimeBaseGivesNoNumbersInsteadOfDividing) {
    const PmReport r = analysePm(recording({{1, 10}, {2, 20}}, decay(4), 0));
    EXPECT_TRUE(std::isnan(r.samples.decayTime[1]));
    EXPECT_FALSE(r.usable);
    EXPECT_TRUE(pmCountsRefusal(2, 4, 0).has_value());
    EXPECT_FALSE(pmCountsRefusal(30, 1, 1).has_value());
}

// Every decay time is the raw time divided by S, to the last bit; a flat decay then has a slope
// of exactly 0 and a time constant of -inf (a multiplication by 1/S gave 1.8e14 s here, which
// passed as a usable inductance).
TEST(PmAnalysis, DecayTimeIsTheRawTimeDividedByTheTimeBase) {
    PmRecording r = recording({{1, 10}, {2, 20}}, {}, 1);
    std::mt19937 random(5);
    for (int i = 0; i < 2000; ++i) {
        r.s = 1 + static_cast<int>(random() % 32767);
        const auto raw = static_cast<std::int16_t>(random());
        r.frames.resize(1);
        r.frames.push_back({1, raw, 1, 1});
        EXPECT_EQ(pmSamples(r).decayTime.at(1), raw / static_cast<double>(r.s))
            << raw << "/" << r.s;
    }
    r.baseCurrent = 40;
    r.n2 = 2;
    r.s = 5598;
    r.frames.resize(1);
    r.frames.push_back({21569, 15568, 21569, 10072});
    const PmReport flat = analysePm(r);
    EXPECT_EQ(flat.decay.tau, -INFINITY);
    EXPECT_NE(flat.log.find("tau=-inf"), std::string::npos);
    EXPECT_FALSE(flat.usable);
    // A base current read from a file may print with hundreds of digits: every line stays whole.
    r.baseCurrent = 1e300;
    const PmReport huge = analysePm(r);
    EXPECT_EQ(std::count(huge.log.begin(), huge.log.end(), '\n'), 12 + r.n1 + r.n2);
}

TEST(PmPlots, ScalesComeFromTheLastPointAndTheFit) {
    const PmReport r = analysePm(recording({{1, 10}, {2, 20}, {3, 30}}, decay(10), 10000));
    const PlotFigure vi = viPlot(r);
    // Vlast = 3: step 0.3, 11 divisions; m Vlast + c = 30 with multiplier 2: step 6, 6.
    EXPECT_DOUBLE_EQ(vi.axes.xStep, 0.3);
    EXPECT_EQ(vi.axes.xDivisions, 11);
    EXPECT_NEAR(vi.axes.yStep, 6, 1e-9);
    EXPECT_EQ(vi.axes.yDivisions, 6);
    EXPECT_EQ(vi.axes.xTitle, "Applied Voltage (V)");
    ASSERT_EQ(vi.series.size(), 2u);
    EXPECT_EQ(vi.series[0].legend, "Acquired");
    EXPECT_FALSE(vi.series[0].dashed);
    EXPECT_EQ(vi.series[0].colour, 0x0000FFu);
    EXPECT_EQ(vi.series[1].legend, "Bestfit");
    EXPECT_TRUE(vi.series[1].dashed);
    EXPECT_EQ(vi.series[1].colour, 0xFF0000u);
    EXPECT_EQ(vi.series[1].x, (std::vector<double>{0, 1, 2}));
    const PlotFigure d = decayPlot(r);
    EXPECT_EQ(d.axes.yTitle, "Phase Current (A)");
    EXPECT_NEAR(d.series[0].x.back(), 3.6, 1e-12);  // ms
    EXPECT_NEAR(d.series[1].x[1], 0.36, 1e-12);     // k Tlast / N2
    EXPECT_NEAR(d.series[1].y[0], r.decay.io, 1e-12);
}

}  // namespace
}  // namespace qv
