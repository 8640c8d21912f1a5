#include "monitor/plot_selection.h"

#include <algorithm>

#include "monitor/telemetry_readings.h"

namespace qv {

void PlotSelection::add(int cell, const std::string& unit) {
    if (contains(cell)) return;
    PlotAxis axis = PlotAxis::Left;
    for (const PlottedSeries& s : series_) {
        if (s.axis == PlotAxis::Left && s.unit != unit) {
            axis = PlotAxis::Right;
            break;
        }
    }
    series_.push_back({cell, axis, unit});
}

void PlotSelection::remove(int cell) {
    std::erase_if(series_, [cell](const PlottedSeries& s) { return s.cell == cell; });
}

void PlotSelection::setAxis(int cell, PlotAxis axis) {
    for (PlottedSeries& s : series_)
        if (s.cell == cell) s.axis = axis;
}

bool PlotSelection::contains(int cell) const {
    return std::any_of(series_.begin(), series_.end(),
                       [cell](const PlottedSeries& s) { return s.cell == cell; });
}

std::string PlotSelection::axisUnits(PlotAxis axis) const {
    std::vector<std::string> units;
    for (const PlottedSeries& s : series_)
        if (s.axis == axis && std::find(units.begin(), units.end(), s.unit) == units.end())
            units.push_back(s.unit);
    std::string text;
    for (const std::string& u : units) {
        if (!text.empty()) text += ", ";
        text += u.empty() ? std::string("-") : u;
    }
    return text;
}

std::vector<std::string> exportColumnNames(const std::vector<int>& cells,
                                           const TelemetryPanel& panel, std::int32_t type,
                                           std::int32_t activeMotor) {
    std::vector<std::string> names;
    for (const int cell : cells) {
        if (auto log = readingLogColumn(cell, type, activeMotor)) {
            names.push_back(*log);
            continue;
        }
        std::string name = readingCaption(cell, panel, type, activeMotor);
        const std::string unit = readingUnit(cell, type, activeMotor);
        if (!unit.empty()) name += " (" + unit + ")";
        names.push_back(name);
    }
    return names;
}

std::string exportFileName(const std::tm& local, const char* extension) {
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "telemetry_%Y-%m-%d_%H-%M-%S", &local);
    return std::string(text, n) + extension;
}

}  // namespace qv
