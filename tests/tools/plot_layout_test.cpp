#include "tools/plot_layout.h"

#include <gtest/gtest.h>

#include <cmath>

namespace qv {
namespace {

// Every character 6 pixels wide.
class FixedMetrics : public FontMetrics {
  public:
    int textWidth(std::string_view text) const override {
        return 6 * static_cast<int>(text.size());
    }
};

TEST(NiceStep, RoundStepsForTheRange) {
    const NiceStep a = niceStep(1, 37);
    EXPECT_DOUBLE_EQ(a.step, 5);
    EXPECT_EQ(a.divisions, 8);
    const NiceStep b = niceStep(2, 37);
    EXPECT_DOUBLE_EQ(b.step, 10);
    EXPECT_EQ(b.divisions, 4);
    const NiceStep c = niceStep(1, 0.037);
    EXPECT_NEAR(c.step, 0.005, 1e-15);
    EXPECT_EQ(c.divisions, 8);
    // Each mantissa band: 1.5 takes 0.2, 2.5 takes 0.3, 7 takes 1.
    EXPECT_DOUBLE_EQ(niceStep(1, 1.5).step, 0.2);
    EXPECT_DOUBLE_EQ(niceStep(1, 250).step, 30);
    EXPECT_EQ(niceStep(1, 250).divisions, 9);
    EXPECT_DOUBLE_EQ(niceStep(1, 7).step, 1);
    EXPECT_EQ(niceStep(1, 7).divisions, 8);
}

TEST(NiceStep, RangesWithoutAScaleGetOneUnitDivision) {
    for (double v : {0.0, -3.0, std::nan(""), static_cast<double>(INFINITY)}) {
        const NiceStep s = niceStep(1, v);
        EXPECT_EQ(s.step, 1);
        EXPECT_EQ(s.divisions, 1);
    }
}

PlotAxes axes() {
    PlotAxes a;
    a.xDivisions = 10;
    a.yDivisions = 4;
    a.xTitle = "Time (ms)";
    a.yTitle = "Volts";
    a.legendRows = 1;
    a.legendColumns = 3;
    a.topMargin = 20;
    a.xMinimum = 0;
    a.xStep = 50;
    a.yMinimum = -10;
    a.yStep = 5;
    return a;
}

TEST(PlotLayout, FrameGridLabelsAndTitlesOfADefinedChart) {
    // Y labels "10", "5", "0", "-5", "-10": widest 3 characters = 18 px; last X label "500"
    // = 18 px; font height 10.
    const FixedMetrics m;
    const PlotLayout l(axes(), 600, 300, 10, m);
    ASSERT_TRUE(l.valid());
    EXPECT_EQ(l.widestYLabel(), 18);
    // left 18 + 20 + 16; right 600 - 9 - 20 = 571, snapped to 54 + 10 * 51; bottom
    // 300 - 10 * 3 - 24 - 10 = 236; top 20, snapped to 236 - 4 * 54.
    EXPECT_EQ(l.frame(), (PixelRect{54, 20, 564, 236}));
    EXPECT_EQ(l.pixelsPerXDivision(), 51);
    EXPECT_EQ(l.pixelsPerYDivision(), 54);
    EXPECT_EQ(l.legendItemWidth(), (571 - 54) / 3 - 50);

    ASSERT_EQ(l.xLabels().size(), 11u);
    EXPECT_EQ(l.xLabels()[2].text, "100");
    EXPECT_EQ(l.xLabels()[2].at, (PixelPoint{54 + 2 * 51, 244}));
    EXPECT_EQ(l.xLabels()[2].box, (PixelRect{156 - 9, 244, 156 + 9, 254}));
    ASSERT_EQ(l.yLabels().size(), 5u);
    EXPECT_EQ(l.yLabels()[0].text, "10");
    EXPECT_EQ(l.yLabels()[4].text, "-10");
    EXPECT_EQ(l.yLabels()[1].box, (PixelRect{46 - 6, 74 - 5, 46, 74 + 5}));

    // Each grid line: 10 solid pixels at both ends, dotted between.
    ASSERT_EQ(l.grid().size(), 3u * (11 + 5));
    const PlotSegment& first = l.grid()[0];
    EXPECT_EQ(first.from, (PixelPoint{54, 236}));
    EXPECT_EQ(first.to, (PixelPoint{54, 226}));
    EXPECT_FALSE(first.dotted);
    EXPECT_TRUE(l.grid()[1].dotted);
    EXPECT_EQ(l.grid()[1].to, (PixelPoint{54, 30}));
    const PlotSegment& row = l.grid()[3 * 11 + 1];
    EXPECT_EQ(row.from, (PixelPoint{64, 20}));
    EXPECT_EQ(row.to, (PixelPoint{554, 20}));

    EXPECT_EQ(l.xTitle().at, (PixelPoint{309, 262}));
    EXPECT_EQ(l.yTitle().at, (PixelPoint{20, 128}));
    EXPECT_EQ(l.yTitle().anchor, TextAnchor::RotatedCentreBottom);
    EXPECT_EQ(l.yTitle().box, (PixelRect{10, 128 - 15, 20, 128 + 15}));
}

TEST(PlotLayout, TenDivisionsOver505PixelsGiveFiftyEachAndMoveTheRightEdge) {
    const FixedMetrics m;
    PlotAxes a = axes();
    // left = 18 + 20 + 16 = 54; right = width - 9 - 20 must be 54 + 505.
    const PlotLayout l(a, 54 + 505 + 29, 300, 10, m);
    ASSERT_TRUE(l.valid());
    EXPECT_EQ(l.pixelsPerXDivision(), 50);
    EXPECT_EQ(l.frame().left, 54);
    EXPECT_EQ(l.frame().right, 54 + 500);
}

TEST(PlotLayout, LegendHoldsRowsTimesColumnsEntries) {
    const FixedMetrics m;
    PlotAxes a = axes();
    a.legendRows = 2;
    a.legendColumns = 2;
    const PlotLayout l(a, 600, 300, 10, m);
    ASSERT_TRUE(l.valid());
    EXPECT_EQ(l.legendCapacity(), 4);
    EXPECT_FALSE(l.legendEntry(4).has_value());  // the fifth series is drawn without one
    const auto e = l.legendEntry(3);             // row 1, column 1
    ASSERT_TRUE(e.has_value());
    const int item = l.legendItemWidth();
    EXPECT_EQ(e->textBox.left, item + 50 + l.frame().left + 35);
    EXPECT_EQ(e->textBox.top, 300 - 1 * 14 - 4);
    EXPECT_EQ(e->textBox.width(), item);
    EXPECT_EQ(e->sample.from, (PixelPoint{e->textBox.left - 35, e->textBox.top + 5}));
    EXPECT_EQ(e->sample.to, (PixelPoint{e->textBox.left - 5, e->textBox.top + 5}));
    const auto first = l.legendEntry(0);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->textBox.top, 300 - 2 * 14 - 4);
    // Bottom: 300 - 10 * 4 - 24 - 10 leaves the two legend rows below the labels.
    EXPECT_EQ(l.frame().bottom, 226);
}

TEST(PlotLayout, PointsMapLinearlyAndOutsideValuesLandOutsideTheFrame) {
    const FixedMetrics m;
    const PlotLayout l(axes(), 600, 300, 10, m);
    EXPECT_EQ(*l.map(0, -10), (PixelPoint{54, 236}));
    EXPECT_EQ(*l.map(500, 10), (PixelPoint{564, 20}));
    EXPECT_EQ(*l.map(25, -7.5), (PixelPoint{54 + 25, 236 - 27}));
    // Beyond the scale: outside the frame, where the clip stops it.
    const auto high = l.map(250, 40);
    ASSERT_TRUE(high.has_value());
    EXPECT_LT(high->y, l.frame().top);
    const auto far = l.map(1e300, -1e300);
    ASSERT_TRUE(far.has_value());
    EXPECT_GT(far->x, l.frame().right);
    EXPECT_GT(far->y, l.frame().bottom);
    EXPECT_FALSE(l.map(std::nan(""), 0).has_value());
}

TEST(PlotLayout, UnusableScalesOrTinyControlsDrawNothing) {
    const FixedMetrics m;
    for (auto change :
         {+[](PlotAxes& a) { a.xDivisions = 0; }, +[](PlotAxes& a) { a.yDivisions = -2; },
          +[](PlotAxes& a) { a.xStep = 0; }, +[](PlotAxes& a) { a.yStep = std::nan(""); },
          +[](PlotAxes& a) { a.xMinimum = static_cast<double>(INFINITY); }}) {
        PlotAxes a = axes();
        change(a);
        const PlotLayout l(a, 600, 300, 10, m);
        EXPECT_FALSE(l.valid());
        EXPECT_FALSE(l.map(1, 1).has_value());
        EXPECT_FALSE(l.legendEntry(0).has_value());
    }
    EXPECT_FALSE(PlotLayout(axes(), 60, 40, 10, m).valid());
    PlotAxes noColumns = axes();
    noColumns.legendColumns = 0;
    const PlotLayout l(noColumns, 600, 300, 10, m);
    EXPECT_TRUE(l.valid());
    EXPECT_EQ(l.legendCapacity(), 0);
}

TEST(PlotLayout, TickLabelsUseFourSignificantDigits) {
    EXPECT_EQ(formatTick(0.1 * 3), "0.3");
    EXPECT_EQ(formatTick(12345), "1.234e+04");
    EXPECT_EQ(formatTick(-2.5), "-2.5");
    EXPECT_EQ(chartFontHeight(96), 10);
    EXPECT_EQ(chartFontHeight(120), 13);
}

}  // namespace
}  // namespace qv
