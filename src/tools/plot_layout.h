#pragma once
// Where everything of a small x/y chart goes, in pixels of the control: the framed plot area,
// the grid with its solid ends and dotted middle, the tick labels, the two axis titles and the
// legend boxes. The widget supplies the size and the metrics of its font and only draws what
// this computes, so the arithmetic is the same on screen and in tests.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Measures text in the chart's font (an 8-point sans-serif face).
class FontMetrics {
  public:
    virtual ~FontMetrics() = default;
    virtual int textWidth(std::string_view text) const = 0;
};

// The font height of the chart: 8 points at the given logical pixels per inch (96 gives 10).
constexpr int chartFontHeight(int pixelsPerInch) {
    return pixelsPerInch * 8 / 72;
}

struct PlotAxes {
    int xDivisions = 10;
    int yDivisions = 10;
    std::string xTitle;
    std::string yTitle;
    int legendRows = 0;  // 0: no room for a legend
    int legendColumns = 1;
    int topMargin = 0;
    bool clear = true;
    double xMinimum = 0;
    double yMinimum = 0;
    double xStep = 1;
    double yStep = 1;
};

// Colours are 0x00BBGGRR, as the tools give them.
struct PlotSeries {
    std::vector<double> x;
    std::vector<double> y;
    std::uint32_t colour = 0;
    bool dashed = false;  // 5 pixels on, 5 off
    std::string legend;
};

struct PixelPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

struct PlotSegment {
    PixelPoint from;
    PixelPoint to;
    bool dotted = false;
};

enum class TextAnchor {
    TopCentre,            // x centred, top edge at the point
    RightMiddle,          // right edge at the point (top at point.y - font height / 2)
    RotatedCentreBottom,  // rotated 90 degrees (reads upwards), centred along the axis, the
                          // glyphs' bottom edge on the point (they extend to the left of it)
};

struct PlotText {
    PixelPoint at;
    TextAnchor anchor = TextAnchor::TopCentre;
    std::string text;
    PixelRect box;  // the rectangle the text occupies
};

// One legend entry: the text box (single line, vertically centred, cut with an ellipsis) and
// the 30-pixel sample line in the series pen.
struct LegendEntry {
    PixelRect textBox;
    PlotSegment sample;
};

class PlotLayout {
  public:
    // Lays out a chart of `width` x `height` pixels. The layout is unusable (valid() false, the
    // chart shows only its background) when a division count is below 1, a step or minimum is
    // not a finite number, a step is not positive, or the control is too small for one pixel
    // per division.
    PlotLayout(const PlotAxes& axes, int width, int height, int fontHeight,
               const FontMetrics& metrics);

    bool valid() const { return valid_; }
    int fontHeight() const { return fontHeight_; }
    const PixelRect& client() const { return client_; }
    // The framed area; series are clipped to it.
    const PixelRect& frame() const { return frame_; }
    int pixelsPerXDivision() const { return pxPerX_; }
    int pixelsPerYDivision() const { return pxPerY_; }
    int widestYLabel() const { return widestY_; }
    int legendItemWidth() const { return legendItemWidth_; }
    int legendCapacity() const { return legendRows_ * legendColumns_; }

    const std::vector<PlotSegment>& grid() const { return grid_; }
    const std::vector<PlotText>& xLabels() const { return xLabels_; }
    const std::vector<PlotText>& yLabels() const { return yLabels_; }
    const PlotText& xTitle() const { return xTitle_; }
    const PlotText& yTitle() const { return yTitle_; }

    // The pixel of a data point, converted to integers toward zero; nothing for a value that is
    // not finite. Points far outside the chart are pulled in to a bounded range first (the clip
    // hides them either way).
    std::optional<PixelPoint> map(double x, double y) const;
    // The legend entry of the series drawn `seriesIndex`-th since the axes call; nothing once
    // the legend grid is full (or there is none).
    std::optional<LegendEntry> legendEntry(int seriesIndex) const;

  private:
    bool valid_ = false;
    int fontHeight_ = 0;
    PixelRect client_;
    PixelRect frame_;
    int pxPerX_ = 0;
    int pxPerY_ = 0;
    int widestY_ = 0;
    int legendItemWidth_ = 0;
    int legendRows_ = 0;
    int legendColumns_ = 0;
    double xMinimum_ = 0;
    double yMinimum_ = 0;
    double xStep_ = 1;
    double yStep_ = 1;
    std::vector<PlotSegment> grid_;
    std::vector<PlotText> xLabels_;
    std::vector<PlotText> yLabels_;
    PlotText xTitle_;
    PlotText yTitle_;
};

// "%0.4g" of a tick value.
std::string formatTick(double value);

// A round axis step for the range 0 to `range`: `multiplier` is 1 or 2. Step 5 and 8 divisions
// for 37 with multiplier 1; step 10 and 4 divisions with multiplier 2.
struct NiceStep {
    double step = 1;
    int divisions = 1;
};
// A range that is not a positive finite number gives step 1 and 1 division.
NiceStep niceStep(int multiplier, double range);

}  // namespace qv
