#pragma once
// What the telemetry plot window shows: the values chosen, each on the left or the right y
// axis, and the span of the strip chart. The window only draws what this says.
#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace qv {

class TelemetryPanel;

enum class PlotAxis { Left, Right };

struct PlottedSeries {
    int cell = 0;
    PlotAxis axis = PlotAxis::Left;
    std::string unit;
};

// The spans the strip chart offers, in seconds (10 s to 10 min).
inline constexpr std::array<int, 6> kPlotSpansSeconds = {10, 30, 60, 120, 300, 600};
inline constexpr int kDefaultPlotSpanSeconds = 60;

class PlotSelection {
  public:
    // A value joins the left axis when that axis is empty or shows its unit, else the right
    // axis (the second unit, e.g. rpm on the left and A on the right).
    void add(int cell, const std::string& unit);
    void remove(int cell);
    void setAxis(int cell, PlotAxis axis);
    bool contains(int cell) const;
    const std::vector<PlottedSeries>& series() const { return series_; }
    // The units on one axis, in the order their values were chosen, joined by ", ".
    std::string axisUnits(PlotAxis axis) const;

  private:
    std::vector<PlottedSeries> series_;
};

// Column names for a CSV export of these cells: the telemetry log's name where it has the
// same quantity in the same unit, else the value's caption with its unit in parentheses.
std::vector<std::string> exportColumnNames(const std::vector<int>& cells,
                                           const TelemetryPanel& panel, std::int32_t deviceType,
                                           std::int32_t activeMotor);

// "telemetry_%Y-%m-%d_%H-%M-%S" + extension, a suggestion for the export dialogs.
std::string exportFileName(const std::tm& local, const char* extension);

}  // namespace qv
