#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <random>

#include "tools/im_exp.h"
#include "tools/im_models.h"

namespace qv {
namespace {

// Rs, Rr, Lls, Lm, Ib: a distinct value in every place.
constexpr ImParameters kSweepCircuit{23.0, 17.0, 0.9, 6.5, 0.4};
// ρ, μ, λs, I∞, t0
constexpr ImParameters kStepCircuit{0.55, 0.06, 0.006, 32.0, 0.0003};

TEST(ImModels, FrequencyResponseIsVoltageOverImpedanceLessBias) {
    // At ω = 0 only the stator resistance limits the current.
    EXPECT_DOUBLE_EQ(frequencyResponseModel(kSweepCircuit, 0.0, 1500.0), 1500.0 / 23.0 - 0.4);
    // Elsewhere |V / Z(jω)| − Ib, Z = Rs + jωLls + (jωLm·Rr) / (Rr + jωLm).
    for (double w : {0.6283185307179586, 3.0, 17.0, 146.0}) {
        const std::complex<double> jw(0.0, w);
        const std::complex<double> z = 23.0 + jw * 0.9 + jw * 6.5 * 17.0 / (17.0 + jw * 6.5);
        EXPECT_NEAR(frequencyResponseModel(kSweepCircuit, w, 1500.0), 1500.0 / std::abs(z) - 0.4,
                    1e-12)
            << w;
    }
}

// The current after the step, integrated from its differential equation: the admittance
// (ρ + μs) / (αs² + βs + ρ) driven by the step I∞, so α·i'' + β·i' + ρ·i = ρ·I∞ from
// i(0) = 0, i'(0) = μ·I∞/α.
double integratedStep(const ImParameters& p, double t) {
    const double rho = p[0], mu = p[1], ls = p[2], Iinf = p[3];
    const double alpha = mu * ls, beta = rho * ls + mu + rho * mu;
    auto slope = [&](double i, double di) { return (rho * Iinf - beta * di - rho * i) / alpha; };
    double i = 0.0, di = mu * Iinf / alpha;
    const int steps = 200000;
    const double h = t / steps;
    for (int n = 0; n < steps; ++n) {  // classical Runge-Kutta
        const double k1i = di, k1d = slope(i, di);
        const double k2i = di + h / 2 * k1d, k2d = slope(i + h / 2 * k1i, di + h / 2 * k1d);
        const double k3i = di + h / 2 * k2d, k3d = slope(i + h / 2 * k2i, di + h / 2 * k2d);
        const double k4i = di + h * k3d, k4d = slope(i + h * k3i, di + h * k3d);
        i += h / 6 * (k1i + 2 * k2i + 2 * k3i + k4i);
        di += h / 6 * (k1d + 2 * k2d + 2 * k3d + k4d);
    }
    return i;
}

TEST(ImModels, StepResponseIsTheCircuitsCurrentAfterAVoltageStep) {
    const ImParameters p = kStepCircuit;
    EXPECT_EQ(stepResponseModel(p, -p[4]), 0.0);  // τ = 0
    EXPECT_NEAR(stepResponseModel(p, 100.0), 32.0, 1e-12);
    for (double t : {0.001, 0.01, 0.05, 0.198})
        EXPECT_NEAR(stepResponseModel(p, t), integratedStep(p, t + p[4]), 1e-9) << t;
}

TEST(ImModels, StepStartValuesHaveRealPoles) {
    // ρ = 0.3, μ = 0.1, λs = 0.01: α = 0.001, β = 0.133, β² − 4αρ = 0.016489.
    const im_detail::StepTerms t = im_detail::stepTerms({0.3, 0.1, 0.01, 20.0, 0.0});
    EXPECT_NEAR(t.r1 + t.r2, 0.133 / 0.001, 1e-9);
    EXPECT_NEAR(t.r1 * t.r2, 0.3 / 0.001, 1e-9);
    EXPECT_NEAR((t.r2 - t.r1) * 0.001, std::sqrt(0.016489), 1e-15);
    EXPECT_NEAR(t.K1 + t.K2, 1.0, 1e-12);
    // A negative discriminant (possible only for ρ < 0) gives no finite value.
    EXPECT_TRUE(std::isnan(stepResponseModel({-0.5, 0.1, -0.3, 20.0, 0.0}, 0.01)));
}

TEST(ImModels, ExpIsWithinHalfAUnitInTheLastPlaceOverTheTablesRange) {
    std::mt19937_64 random(5);
    for (auto [low, high] : {std::pair{-30.0, 1.0}, {-700.0, -600.0}, {600.0, 709.0}}) {
        std::uniform_real_distribution<double> draw(low, high);
        double worst = 0;
        for (int n = 0; n < 200000; ++n) {
            const double x = draw(random);
            const long double exact = std::exp(static_cast<long double>(x));
            const double e = portableExp(x);
            const double ulp = std::nextafter(e, INFINITY) - e;
            worst = std::max(worst, static_cast<double>(std::fabs((e - exact) / ulp)));
        }
        EXPECT_LT(worst, 0.52) << low << " .. " << high;
    }
    EXPECT_EQ(portableExp(0.0), 1.0);
    EXPECT_EQ(portableExp(kExpTableLow), std::exp(kExpTableLow));
    EXPECT_EQ(portableExp(kExpTableHigh), std::exp(kExpTableHigh));
    // Outside the table's range the C library answers.
    EXPECT_EQ(portableExp(-740.0), std::exp(-740.0));
    EXPECT_EQ(portableExp(-1e6), 0.0);
    EXPECT_EQ(portableExp(710.0), INFINITY);
    EXPECT_EQ(portableExp(-INFINITY), 0.0);
    EXPECT_TRUE(std::isnan(portableExp(std::numeric_limits<double>::quiet_NaN())));
}

}  // namespace
}  // namespace qv
