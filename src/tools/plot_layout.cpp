#include "tools/plot_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qv {

namespace {

// Far outside any control, yet safe to convert to int.
constexpr double kPixelBound = 1.0e6;

int toPixel(double v) {
    return static_cast<int>(std::clamp(v, -kPixelBound, kPixelBound));
}

bool finite(double v) {
    return std::isfinite(v);
}

}  // namespace

std::string formatTick(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%0.4g", value);
    return text;
}

PlotLayout::PlotLayout(const PlotAxes& axes, int width, int height, int fontHeight,
                       const FontMetrics& metrics)
    : fontHeight_(fontHeight), client_{0, 0, width, height} {
    if (axes.xDivisions < 1 || axes.yDivisions < 1 || !finite(axes.xMinimum) ||
        !finite(axes.yMinimum) || !finite(axes.xStep) || !finite(axes.yStep) || axes.xStep <= 0 ||
        axes.yStep <= 0)
        return;
    xMinimum_ = axes.xMinimum;
    yMinimum_ = axes.yMinimum;
    xStep_ = axes.xStep;
    yStep_ = axes.yStep;
    const bool legend = axes.legendRows > 0 && axes.legendColumns > 0;
    legendRows_ = legend ? axes.legendRows : 0;
    legendColumns_ = legend ? axes.legendColumns : 0;
    const int fh = fontHeight;

    const double yTop = axes.yMinimum + axes.yStep * axes.yDivisions;
    widestY_ = 0;
    for (int j = 0; j <= axes.yDivisions; ++j)
        widestY_ = std::max(widestY_, metrics.textWidth(formatTick(yTop - j * axes.yStep)));
    const int lastX = metrics.textWidth(formatTick(axes.xMinimum + axes.xDivisions * axes.xStep));

    int left = client_.left + widestY_ + 2 * fh + 16;
    int top = client_.top + axes.topMargin;
    int right = client_.right - lastX / 2 - 20;
    int bottom = client_.bottom - fh * (legendRows_ + 2) - 24;
    if (legendRows_ > 0) bottom -= fh;

    if (legend) legendItemWidth_ = (right - left) / legendColumns_ - 50;
    pxPerX_ = (right - left) / axes.xDivisions;
    pxPerY_ = (bottom - top) / axes.yDivisions;
    if (pxPerX_ < 1 || pxPerY_ < 1) return;
    right = left + pxPerX_ * axes.xDivisions;
    top = bottom - pxPerY_ * axes.yDivisions;
    frame_ = {left, top, right, bottom};

    for (int i = 0; i <= axes.xDivisions; ++i) {
        const int x = left + i * pxPerX_;
        grid_.push_back({{x, bottom}, {x, bottom - 10}, false});
        grid_.push_back({{x, bottom - 10}, {x, top + 10}, true});
        grid_.push_back({{x, top + 10}, {x, top}, false});
        PlotText label{
            {x, bottom + 8}, TextAnchor::TopCentre, formatTick(axes.xMinimum + i * axes.xStep), {}};
        const int w = metrics.textWidth(label.text);
        label.box = {x - w / 2, bottom + 8, x - w / 2 + w, bottom + 8 + fh};
        xLabels_.push_back(std::move(label));
    }
    for (int j = 0; j <= axes.yDivisions; ++j) {
        const int y = top + j * pxPerY_;
        grid_.push_back({{left, y}, {left + 10, y}, false});
        grid_.push_back({{left + 10, y}, {right - 10, y}, true});
        grid_.push_back({{right - 10, y}, {right, y}, false});
        PlotText label{
            {left - 8, y}, TextAnchor::RightMiddle, formatTick(yTop - j * axes.yStep), {}};
        const int w = metrics.textWidth(label.text);
        label.box = {left - 8 - w, y - fh / 2, left - 8, y - fh / 2 + fh};
        yLabels_.push_back(std::move(label));
    }

    xTitle_ = {{(left + right) / 2, bottom + fh + 16}, TextAnchor::TopCentre, axes.xTitle, {}};
    const int xw = metrics.textWidth(axes.xTitle);
    xTitle_.box = {xTitle_.at.x - xw / 2, xTitle_.at.y, xTitle_.at.x - xw / 2 + xw,
                   xTitle_.at.y + fh};
    yTitle_ = {{left - widestY_ - 16, (bottom + top) / 2},
               TextAnchor::RotatedCentreBottom,
               axes.yTitle,
               {}};
    const int yw = metrics.textWidth(axes.yTitle);
    yTitle_.box = {yTitle_.at.x - fh, yTitle_.at.y - yw / 2, yTitle_.at.x,
                   yTitle_.at.y - yw / 2 + yw};
    valid_ = true;
}

std::optional<PixelPoint> PlotLayout::map(double x, double y) const {
    if (!valid_ || !finite(x) || !finite(y)) return std::nullopt;
    const double px = frame_.left + (x - xMinimum_) * pxPerX_ / xStep_;
    const double py = frame_.bottom - (y - yMinimum_) * pxPerY_ / yStep_;
    if (!finite(px) || !finite(py)) return std::nullopt;
    return PixelPoint{toPixel(px), toPixel(py)};
}

std::optional<LegendEntry> PlotLayout::legendEntry(int seriesIndex) const {
    if (!valid_ || seriesIndex < 0 || seriesIndex >= legendCapacity()) return std::nullopt;
    const int column = seriesIndex % legendColumns_;
    const int row = seriesIndex / legendColumns_;
    const int fh = fontHeight_;
    const int boxLeft = column * (legendItemWidth_ + 50) + frame_.left + 35;
    const int boxTop = client_.bottom - (legendRows_ - row) * (fh + 4) - 4;
    LegendEntry e;
    e.textBox = {boxLeft, boxTop, boxLeft + legendItemWidth_, boxTop + fh};
    const int middle = boxTop + fh / 2;
    e.sample = {{boxLeft - 35, middle}, {boxLeft - 5, middle}, false};
    return e;
}

NiceStep niceStep(int multiplier, double range) {
    if (!finite(range) || range <= 0) return {};
    const int m = std::max(multiplier, 1);
    const int e = static_cast<int>(std::floor(std::log10(range)));
    double power = 1;
    for (int i = 0; i < std::abs(e); ++i) power *= 10;
    if (e < 0) power = 1 / power;
    const double h = range / power;
    const double base = h <= 1 ? 0.1 : h <= 2 ? 0.2 : h <= 3 ? 0.3 : h <= 5 ? 0.5 : 1.0;
    NiceStep s;
    s.step = base * m * power;
    s.divisions = static_cast<int>(std::floor(h / (base * m))) + 1;
    return s;
}

}  // namespace qv
