#include "tools/tool_plots.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

constexpr std::uint32_t kRed = 0x0000FF;
constexpr std::uint32_t kGreen = 0x00FF00;
constexpr std::uint32_t kBlue = 0xFF0000;
constexpr std::uint32_t kCyan = 0xFFFF00;

PlotAxes timeAxes(std::string yTitle, int legendColumns) {
    PlotAxes a;
    a.xDivisions = 20;
    a.xStep = 25;
    a.xTitle = "Time (ms)";
    a.yTitle = std::move(yTitle);
    a.legendRows = 1;
    a.legendColumns = legendColumns;
    a.topMargin = 20;
    a.clear = true;
    return a;
}

std::vector<double> indices(std::size_t n) {
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = static_cast<double>(i);
    return x;
}

PlotSeries series(std::vector<double> x, std::vector<double> y, std::uint32_t colour, bool dashed,
                  std::string legend) {
    return {std::move(x), std::move(y), colour, dashed, std::move(legend)};
}

PlotSeries hallSeries(const PhaseSamples& s, int bit, double base, std::uint32_t colour,
                      std::string legend) {
    std::vector<double> y;
    y.reserve(s.hall.size());
    for (int h : s.hall) y.push_back(base + 0.25 * ((h >> bit) & 1));
    return series(indices(s.hall.size()), std::move(y), colour, false, std::move(legend));
}

PlotAxes niceAxes(double xMax, double yMax, std::string xTitle, std::string yTitle) {
    const NiceStep x = niceStep(1, xMax);
    const NiceStep y = niceStep(2, yMax);
    PlotAxes a;
    a.xDivisions = x.divisions;
    a.xStep = x.step;
    a.yDivisions = y.divisions;
    a.yStep = y.step;
    a.xTitle = std::move(xTitle);
    a.yTitle = std::move(yTitle);
    a.legendRows = 1;
    a.legendColumns = 2;
    a.topMargin = 20;
    a.clear = true;
    return a;
}

PlotAxes imAxes(std::string xTitle) {
    PlotAxes a;
    a.xDivisions = 3;
    a.xTitle = std::move(xTitle);
    a.yTitle = "current (A)";
    a.legendRows = 2;
    a.legendColumns = 1;
    a.topMargin = 20;
    a.clear = true;
    return a;
}

double largestShown(std::span<const double> a, std::span<const double> b) {
    double top = 0;
    for (const auto values : {a, b})
        for (double v : values)
            if (std::isfinite(v)) top = std::max(top, v);
    return top;
}

// The measured and the fitted series over the same abscissae (as many points as all three have).
void addImSeries(PlotFigure& f, std::span<const double> x, std::span<const double> measured,
                 std::span<const double> fitted, bool fitDashed) {
    const std::size_t n = std::min({x.size(), measured.size(), fitted.size()});
    const std::vector<double> xs(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n));
    f.series.push_back(series(xs,
                              {measured.begin(), measured.begin() + static_cast<std::ptrdiff_t>(n)},
                              kRed, false, "Acquired"));
    f.series.push_back(series(xs, {fitted.begin(), fitted.begin() + static_cast<std::ptrdiff_t>(n)},
                              kBlue, fitDashed, "Best Fit"));
}

}  // namespace

PlotFigure lineVoltagePlot(const PhaseSamples& s) {
    double lo = 0, hi = 0;
    for (const auto* line : {&s.vAB, &s.vBC, &s.vCA})
        for (double v : *line)
            if (std::isfinite(v)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
    const double l = std::trunc(lo / 5 - 1);
    const double u = std::trunc(hi / 5 + 1);
    PlotFigure f;
    f.axes = timeAxes("Phase Voltage (V)", 3);
    f.axes.yMinimum = 5 * l;
    f.axes.yStep = 5;
    f.axes.yDivisions = static_cast<int>(std::clamp(u - l, 1.0, 1.0e6));
    f.series.push_back(series(indices(s.vAB.size()), s.vAB, kRed, false, "VAB"));
    f.series.push_back(series(indices(s.vBC.size()), s.vBC, kGreen, false, "VBC"));
    f.series.push_back(series(indices(s.vCA.size()), s.vCA, kBlue, false, "VCA"));
    return f;
}

PlotFigure hallPlot(const PhaseSamples& s) {
    PlotFigure f;
    f.axes = timeAxes("Hall Number", 4);
    f.axes.yDivisions = 4;
    f.axes.yStep = 0.25;
    f.series.push_back(hallSeries(s, 0, 0.6667, kRed, "Hall #1"));
    f.series.push_back(hallSeries(s, 1, 0.3333, kGreen, "Hall #2"));
    f.series.push_back(hallSeries(s, 2, 0.0, kBlue, "Hall #3"));
    return f;
}

PlotSeries positionSeries(const PhaseSamples& s) {
    std::vector<double> y;
    y.reserve(s.position.size());
    for (int p : s.position) y.push_back(p / 65536.0);
    return series(indices(s.position.size()), std::move(y), kCyan, false, "Position");
}

PlotFigure positionPlot(const PhaseSamples& s) {
    PlotFigure f;
    f.axes = timeAxes("Position", 1);
    f.axes.yDivisions = 4;
    f.axes.yStep = 0.25;
    f.series.push_back(positionSeries(s));
    return f;
}

std::optional<PlotFigure> sensorPlot(const PhaseSamples& s, int sensorMode, int hallsPresent) {
    switch (sensorMode) {
        case 1:
            return hallPlot(s);
        case 2:
            return positionPlot(s);
        case 3:
            if (hallsPresent == 0) return positionPlot(s);
            {
                PlotFigure f = hallPlot(s);
                f.series.push_back(positionSeries(s));
                return f;
            }
        default:
            return std::nullopt;
    }
}

PlotFigure viPlot(const PmReport& r) {
    const auto n = static_cast<std::size_t>(std::max(r.n1, 0));
    const auto& v = r.samples.voltage;
    const auto& i = r.samples.current;
    const std::size_t count = std::min({n, v.size(), i.size()});
    const double vLast = count > 0 ? v[count - 1] : 0;
    PlotFigure f;
    f.axes =
        niceAxes(vLast, r.line.m * vLast + r.line.c, "Applied Voltage (V)", "Measured Current (A)");
    f.series.push_back(series({v.begin(), v.begin() + static_cast<std::ptrdiff_t>(count)},
                              {i.begin(), i.begin() + static_cast<std::ptrdiff_t>(count)}, kRed,
                              false, "Acquired"));
    std::vector<double> fx, fy;
    for (std::size_t k = 0; k < count; ++k) {
        fx.push_back(static_cast<double>(k) * vLast / static_cast<double>(n));
        fy.push_back(r.line.m * fx.back() + r.line.c);
    }
    f.series.push_back(series(std::move(fx), std::move(fy), kBlue, true, "Bestfit"));
    return f;
}

PlotFigure decayPlot(const PmReport& r) {
    const auto n = static_cast<std::size_t>(std::max(r.n2, 0));
    const auto& t = r.samples.decayTime;
    const auto& i = r.samples.decayCurrent;
    const std::size_t count = std::min({n, t.size(), i.size()});
    const double tLast = count > 0 ? t[count - 1] : 0;
    PlotFigure f;
    f.axes = niceAxes(tLast * 1000, r.decay.io, "Time (ms)", "Phase Current (A)");
    std::vector<double> ax, ay, fx, fy;
    for (std::size_t k = 0; k < count; ++k) {
        ax.push_back(t[k] * 1000);
        ay.push_back(i[k]);
        const double tk = static_cast<double>(k) * tLast / static_cast<double>(n);
        fx.push_back(tk * 1000);
        fy.push_back(r.decay.io * std::exp(-tk / r.decay.tau));
    }
    f.series.push_back(series(std::move(ax), std::move(ay), kRed, false, "Acquired"));
    f.series.push_back(series(std::move(fx), std::move(fy), kBlue, true, "Bestfit"));
    return f;
}

PlotFigure imSweepPlot(std::span<const double> logOmega, std::span<const double> currentA,
                       std::span<const double> fitted) {
    PlotFigure f;
    f.axes = imAxes("log freq (^10 rad/s)");
    if (!logOmega.empty()) {
        f.axes.xMinimum = logOmega.front();
        f.axes.xStep = (logOmega.back() - logOmega.front()) / 3;
    }
    f.axes.yDivisions = 10;
    f.axes.yStep = 1 + std::trunc(largestShown(currentA, fitted) / 10);
    addImSeries(f, logOmega, currentA, fitted, true);
    return f;
}

PlotFigure imStepPlot(std::span<const double> time, std::span<const double> current,
                      std::span<const double> fitted) {
    PlotFigure f;
    f.axes = imAxes("time (s)");
    if (!time.empty()) f.axes.xStep = std::ceil(2.5 * (time.back() - time.front())) / 10;
    // One division per ampere; at least one, and never more than a count an int holds.
    f.axes.yDivisions = static_cast<int>(
        std::clamp(std::trunc(std::ceil(largestShown(current, fitted))), 1.0, 1.0e6));
    f.axes.yStep = 1.0;
    addImSeries(f, time, current, fitted, false);
    return f;
}

}  // namespace qv
