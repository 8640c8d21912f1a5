#include "tools/pm_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qv {

namespace {

constexpr const char* kNotUsable = "not usable";

// printf-style text of any length: a value read from a file may have hundreds of digits.
template <typename... Values>
std::string format(const char* pattern, Values... values) {
    const int length = std::snprintf(nullptr, 0, pattern, values...);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), pattern, values...);
    text.pop_back();
    return text;
}

bool positiveFinite(double v) {
    return std::isfinite(v) && v > 0;
}

template <typename T>
std::span<const T> firstPoints(const std::vector<T>& v, int count) {
    const auto n = std::min(v.size(), static_cast<std::size_t>(std::max(count, 0)));
    return std::span<const T>(v).first(n);
}

}  // namespace

PmSamples pmSamples(const PmRecording& r) {
    PmSamples s;
    const double volts = r.baseVoltage / 32768;
    const double amps = r.baseCurrent / 32768;
    const auto resistanceFrames =
        std::min(static_cast<std::size_t>(pmFrameCount(r.n1)), r.frames.size());
    for (std::size_t f = 0; f < r.frames.size(); ++f) {
        const PmFrame& w = r.frames[f];
        if (f < resistanceFrames) {
            s.voltage.push_back(w[3] * volts);
            s.current.push_back(w[2] * amps);
            s.voltage.push_back(w[1] * volts);
            s.current.push_back(w[0] * amps);
        } else {
            // Raw time / S, divided (a multiplication by 1/S differs in the last bit). A time
            // base that is not above 0 is refused before any frame is read; should one reach
            // here, the times are not numbers rather than a division by zero.
            const double timeBase = r.s > 0 ? static_cast<double>(r.s) : std::nan("");
            s.decayTime.push_back(w[3] / timeBase);
            s.decayCurrent.push_back(w[2] * amps);
            s.decayTime.push_back(w[1] / timeBase);
            s.decayCurrent.push_back(w[0] * amps);
        }
    }
    return s;
}

LineFit fitLine(std::span<const double> x, std::span<const double> y) {
    const std::size_t count = std::min(x.size(), y.size());
    const double n = static_cast<double>(count);
    double sx = 0, sy = 0, sxy = 0, sxx = 0;
    for (std::size_t k = 0; k < count; ++k) {
        sx += x[k];
        sy += y[k];
        sxy += x[k] * y[k];
        sxx += x[k] * x[k];
    }
    LineFit f;
    f.m = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    f.c = (sy - f.m * sx) / n;
    return f;
}

DecayFit fitDecay(std::span<const double> t, std::span<const double> i) {
    const std::size_t count = std::min(t.size(), i.size());
    double s0 = 0, s1 = 0, s2 = 0, l0 = 0, l1 = 0;
    for (std::size_t k = 0; k < count; ++k) {
        // The logarithm of a current that is not above 0 is no number; so is the fit.
        const double ln = i[k] > 0 ? std::log(i[k]) : std::nan("");
        s0 += i[k];
        s1 += t[k] * i[k];
        s2 += t[k] * t[k] * i[k];
        l0 += i[k] * ln;
        l1 += t[k] * i[k] * ln;
    }
    const double d = s0 * s2 - s1 * s1;
    const double b = (s0 * l1 - s1 * l0) / d;
    const double a = (s2 * l0 - s1 * l1) / d;
    return {-1 / b, std::exp(a)};
}

PmReport analysePm(const PmRecording& recording) {
    PmReport r;
    r.samples = pmSamples(recording);
    r.n1 = recording.n1;
    r.n2 = recording.n2;
    const PmSamples& s = r.samples;

    char line[64];
    std::snprintf(line, sizeof line, "%d, %d\r\n", r.n1, r.n2);
    r.log = line;
    r.log += "Resistance Acq\r\n";
    for (int k = 0; k < r.n1 && static_cast<std::size_t>(k) < s.voltage.size(); ++k)
        r.log += format("%0.4f, %0.2f\r\n", s.voltage[static_cast<std::size_t>(k)],
                        s.current[static_cast<std::size_t>(k)]);
    r.log += "\r\nRL Acq\r\n";
    for (int k = 0; k < r.n2 && static_cast<std::size_t>(k) < s.decayTime.size(); ++k)
        r.log += format("%0.4f, %0.2f\r\n", s.decayTime[static_cast<std::size_t>(k)] * 1000,
                        s.decayCurrent[static_cast<std::size_t>(k)]);

    r.line = fitLine(firstPoints(s.voltage, r.n1), firstPoints(s.current, r.n1));
    r.decay = fitDecay(firstPoints(s.decayTime, r.n2), firstPoints(s.decayCurrent, r.n2));
    r.log += format("\r\nR fit\r\nm=%0.4f\r\nc=%0.4f\r\n", r.line.m, r.line.c);
    r.log += format("\r\nRL fit\r\ntau=%0.6f\r\nIo=%0.4f\r\n", r.decay.tau, r.decay.io);

    r.resistance = 0.5 / r.line.m;
    r.inductance = 0.5 * r.decay.tau / r.line.m;
    const bool resistanceOk = positiveFinite(r.resistance);
    const bool inductanceOk = resistanceOk && positiveFinite(r.inductance);
    r.resistanceText = resistanceOk ? format("%0.1fmR", r.resistance * 1000) : kNotUsable;
    r.inductanceText = inductanceOk ? format("%0.1fuH", r.inductance * 1e6) : kNotUsable;
    r.usable = resistanceOk && inductanceOk;
    if (!resistanceOk)
        r.problem = format(
            "The DC V-I points give no usable resistance (slope %g A/V): the current must rise "
            "with the applied voltage, and the voltages must not all be equal",
            r.line.m);
    else if (!inductanceOk)
        r.problem = format(
            "The current decay gives no usable inductance (time constant %g s, initial current "
            "%g A): every decay current must be above 0 and fall with time",
            r.decay.tau, r.decay.io);
    return r;
}

bool writePmResult(const PmReport& report, MotorConfig& motor) {
    if (!report.usable || !positiveFinite(report.resistance) || !positiveFinite(report.inductance))
        return false;
    const auto r = static_cast<float>(report.resistance);
    const auto l = static_cast<float>(report.inductance);
    if (!positiveFinite(r) || !positiveFinite(l)) return false;
    motor.lineResistance = r;
    motor.lineInductance = l;
    return true;
}

}  // namespace qv
