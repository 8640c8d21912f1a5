#pragma once
// The charts of the commissioning tools as data: the axes and the series of each, ready for the
// plot control to lay out and draw.
#include <optional>
#include <span>
#include <vector>

#include "tools/phase_analysis.h"
#include "tools/plot_layout.h"
#include "tools/pm_analysis.h"

namespace qv {

struct PlotFigure {
    PlotAxes axes;
    std::vector<PlotSeries> series;
};

// The three line-to-line voltages over the 500 ms.
PlotFigure lineVoltagePlot(const PhaseSamples& samples);
// The lower chart by sensor mode: halls (1), position (2), halls with the position added when
// halls are fitted, else position (3); nothing for any other mode.
std::optional<PlotFigure> sensorPlot(const PhaseSamples& samples, int sensorMode, int hallsPresent);
PlotFigure hallPlot(const PhaseSamples& samples);
PlotFigure positionPlot(const PhaseSamples& samples);
PlotSeries positionSeries(const PhaseSamples& samples);

// The DC V-I points with the fitted line, and the decay with the fitted exponential.
PlotFigure viPlot(const PmReport& report);
PlotFigure decayPlot(const PmReport& report);

// The induction-motor extraction's chart: the measured current ("Acquired") and the fitted one
// ("Best Fit") over ln ω of the frequency sweep, or over the time of the step response (the
// measured values less the zero reference). The y axis starts at 0 and reaches the largest
// finite value shown.
PlotFigure imSweepPlot(std::span<const double> logOmega, std::span<const double> currentA,
                       std::span<const double> fitted);
PlotFigure imStepPlot(std::span<const double> time, std::span<const double> current,
                      std::span<const double> fitted);

}  // namespace qv
