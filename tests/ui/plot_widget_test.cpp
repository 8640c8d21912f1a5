// The plot control draws what its layout computed: frame, grid, labels, series, clipping and
// legend, into an image that painting only copies.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPaintEvent>

#include "ui/plot_widget.h"

namespace qv {
namespace {

using ui::CPlot;

PlotAxes tenByFour() {
    PlotAxes a;
    a.xDivisions = 10;
    a.yDivisions = 4;
    a.xTitle = "Time (ms)";
    a.yTitle = "Volts";
    a.legendRows = 1;
    a.legendColumns = 3;
    a.topMargin = 20;
    a.xStep = 50;
    a.yMinimum = -10;
    a.yStep = 5;
    return a;
}

bool isBlack(const QImage& image, int x, int y) {
    return image.pixelColor(x, y) == QColor(Qt::black);
}

int countColour(const QImage& image, const QColor& colour, const QRect& inside, bool wantInside) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (inside.contains(x, y) == wantInside && image.pixelColor(x, y) == colour) ++n;
    return n;
}

bool anyDark(const QImage& image, const PixelRect& box) {
    for (int y = box.top; y < box.bottom; ++y)
        for (int x = box.left; x < box.right; ++x)
            if (image.pixelColor(x, y).lightness() < 100) return true;
    return false;
}

// The width at which the area between the label columns is `span` pixels wide.
int widthForSpan(const CPlot& plot, const PlotAxes& a, int span) {
    const ui::QtFontMetrics m(plot.chartFont());
    int widest = 0;
    for (int j = 0; j <= a.yDivisions; ++j)
        widest =
            std::max(widest, m.textWidth(formatTick(a.yMinimum + a.yStep * (a.yDivisions - j))));
    const int left = widest + 2 * plot.fontHeight() + 16;
    const int lastX = m.textWidth(formatTick(a.xMinimum + a.xDivisions * a.xStep));
    return left + span + lastX / 2 + 20;
}

TEST(PlotWidget, TenDivisionsOver505PixelsAreDrawnFiftyApartWithTheFrameAtLeftPlus500) {
    CPlot plot;
    EXPECT_EQ(plot.fontHeight(), chartFontHeight(plot.logicalDpiY()));
    EXPECT_EQ(plot.chartFont().pixelSize(), plot.fontHeight());
    const PlotAxes a = tenByFour();
    plot.setFixedSize(widthForSpan(plot, a, 505), 300);
    ASSERT_EQ(plot.axes(a), 1);
    ASSERT_TRUE(plot.layout() && plot.layout()->valid());
    const PlotLayout& l = *plot.layout();
    EXPECT_EQ(l.pixelsPerXDivision(), 50);
    const PixelRect& f = l.frame();
    EXPECT_EQ(f.right, f.left + 500);

    const QImage& image = plot.image();
    const QColor background = plot.palette().color(QPalette::Button);
    const int between = f.top + l.pixelsPerYDivision() / 2;  // between two grid rows
    EXPECT_TRUE(isBlack(image, f.left, between));
    EXPECT_TRUE(isBlack(image, f.right, between));
    EXPECT_EQ(image.pixelColor(f.right + 3, between), background);
    EXPECT_EQ(image.pixelColor(f.left + 505, between), background);
    for (int i = 0; i <= 10; ++i) {
        const int x = f.left + 50 * i;
        // Solid for 10 pixels from each end, dotted between.
        for (int d = 0; d < 10; ++d) {
            EXPECT_TRUE(isBlack(image, x, f.bottom - d)) << i << " " << d;
            EXPECT_TRUE(isBlack(image, x, f.top + d)) << i << " " << d;
        }
        if (i > 0 && i < 10) {  // the frame covers the outer two
            int dark = 0, light = 0;
            for (int y = f.top + 12; y < f.bottom - 12; ++y)
                (isBlack(image, x, y) ? dark : light)++;
            EXPECT_GT(dark, 0) << i;
            EXPECT_GT(light, 0) << i;
        }
        EXPECT_TRUE(anyDark(image, l.xLabels()[static_cast<std::size_t>(i)].box)) << i;
        // Nothing drawn between the grid lines inside the frame.
        if (i < 10) {
            EXPECT_EQ(image.pixelColor(x + 25, between), background) << i;
        }
    }
    for (const PlotText& t : l.yLabels()) EXPECT_TRUE(anyDark(image, t.box)) << t.text;
    EXPECT_TRUE(anyDark(image, l.xTitle().box));
    EXPECT_TRUE(anyDark(image, l.yTitle().box));
    // The rotated title is taller than wide.
    EXPECT_GT(l.yTitle().box.height(), l.yTitle().box.width());
}

TEST(PlotWidget, LegendHoldsRowsTimesColumnsAndTracesStayInsideTheFrame) {
    CPlot plot;
    plot.setFixedSize(600, 320);
    PlotAxes a = tenByFour();
    a.legendRows = 2;
    a.legendColumns = 2;
    plot.axes(a);
    const PlotLayout& l = *plot.layout();
    const std::uint32_t colours[] = {0x0000FF, 0x00FF00, 0xFF0000, 0xFFFF00, 0xFF00FF};
    for (int k = 0; k < 5; ++k) {
        PlotSeries s;
        s.colour = colours[k];
        s.legend = "Series " + std::to_string(k + 1);
        // Each runs from inside the scale far beyond its top.
        s.x = {0, 250, 500};
        s.y = {-8.0 + k, 40.0, -8.0 + k};
        EXPECT_EQ(plot.series(s), 1);
    }
    EXPECT_EQ(plot.seriesCount(), 5);
    const QImage& image = plot.image();
    const PixelRect& f = l.frame();
    const QRect frame(QPoint(f.left, f.top), QPoint(f.right, f.bottom));
    for (int k = 0; k < 4; ++k) {
        const auto e = l.legendEntry(k);
        ASSERT_TRUE(e.has_value());
        const QColor c = ui::colourOf(colours[k]);
        EXPECT_EQ(image.pixelColor((e->sample.from.x + e->sample.to.x) / 2, e->sample.from.y), c)
            << k;
        EXPECT_TRUE(anyDark(image, e->textBox)) << k;
    }
    // The fifth is drawn, inside the frame only: no legend entry, nothing over the labels.
    const QColor fifth = ui::colourOf(colours[4]);
    EXPECT_FALSE(l.legendEntry(4).has_value());
    EXPECT_GT(countColour(image, fifth, frame, true), 100);
    EXPECT_EQ(countColour(image, fifth, frame, false), 0);
    for (int k = 0; k < 4; ++k) {
        const QColor c = ui::colourOf(colours[k]);
        const auto e = *l.legendEntry(k);
        const QRect sample(QPoint(e.sample.from.x, e.sample.from.y),
                           QPoint(e.sample.to.x, e.sample.to.y));
        int outside = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (!frame.contains(x, y) && !sample.contains(x, y) && image.pixelColor(x, y) == c)
                    ++outside;
        EXPECT_EQ(outside, 0) << k;
    }

    // Arrays of different lengths draw nothing.
    const QImage before = image.copy();
    PlotSeries bad;
    bad.x = {0, 1, 2};
    bad.y = {0, 1};
    bad.colour = 0x123456;
    EXPECT_EQ(plot.series(bad), 0);
    EXPECT_EQ(plot.image(), before);
    EXPECT_EQ(plot.seriesCount(), 5);
}

TEST(PlotWidget, DashedSeriesAlternateFivePixelsOnAndOff) {
    CPlot plot;
    plot.setFixedSize(600, 300);
    plot.axes(tenByFour());
    PlotSeries s;
    s.colour = 0xFF0000;
    s.dashed = true;
    s.x = {10, 490};
    s.y = {2.5, 2.5};  // between two grid rows
    plot.series(s);
    const PlotLayout& l = *plot.layout();
    const auto from = *l.map(10, 2.5);
    const auto to = *l.map(490, 2.5);
    const QColor blue = ui::colourOf(0xFF0000);
    std::vector<int> runs;
    bool on = plot.image().pixelColor(from.x, from.y) == blue;
    EXPECT_TRUE(on);
    int run = 0;
    for (int x = from.x; x < to.x; ++x) {
        const bool here = plot.image().pixelColor(x, from.y) == blue;
        if (here != on) {
            runs.push_back(run);
            run = 0;
            on = here;
        }
        ++run;
    }
    ASSERT_GT(runs.size(), 20u);
    // Grid columns may cut a gap; every run away from them is 5 long.
    int fives = 0;
    for (std::size_t i = 1; i < runs.size(); ++i) fives += runs[i] == 5;
    EXPECT_GE(fives, static_cast<int>(runs.size()) * 3 / 4);
}

TEST(PlotWidget, PaintingCopiesTheImageWithoutDrawingAgain) {
    CPlot plot;
    plot.setFixedSize(400, 250);
    plot.show();
    QApplication::processEvents();
    plot.axes(tenByFour());
    PlotSeries s;
    s.x = {0, 500};
    s.y = {-10, 10};
    s.colour = 0x00FF00;
    plot.series(s);
    const QImage drawn = plot.image().copy();
    const int paints = plot.paints();
    plot.repaint();
    plot.repaint();
    EXPECT_EQ(plot.paints(), paints + 2);
    EXPECT_EQ(plot.image(), drawn);
    EXPECT_EQ(plot.grab().toImage().convertToFormat(QImage::Format_RGB32), drawn);

    // Axes that cannot be laid out leave only the background.
    PlotAxes none = tenByFour();
    none.xStep = 0;
    plot.axes(none);
    EXPECT_FALSE(plot.layout()->valid());
    const QColor background = plot.palette().color(QPalette::Button);
    EXPECT_EQ(countColour(plot.image(), background, plot.rect(), false), 0);
    EXPECT_EQ(plot.series(s), 1);  // drawn nowhere
    EXPECT_EQ(countColour(plot.image(), background, plot.rect(), false), 0);
}

// Aligned 2 x 2 blocks whose pixels are not all alike. A picture blown up from half the pixels
// has none.
int mixedBlocks(const QImage& image) {
    int n = 0;
    for (int y = 0; y + 1 < image.height(); y += 2)
        for (int x = 0; x + 1 < image.width(); x += 2) {
            const QRgb p = image.pixel(x, y);
            if (image.pixel(x + 1, y) != p || image.pixel(x, y + 1) != p ||
                image.pixel(x + 1, y + 1) != p)
                ++n;
        }
    return n;
}

// At a device pixel ratio of 2 the chart has the same layout in the control's pixels, twice
// the device pixels each way, and is drawn at that resolution (text and slopes are finer than
// 2 x 2 blocks); moved to another ratio it draws the same calls again.
TEST(PlotWidget, DrawnAtTheDevicePixelRatio) {
    PlotSeries slope;
    slope.x = {0, 500};
    slope.y = {-10, 10};
    slope.colour = 0x0000FF;
    slope.legend = "Phase A";
    auto drawn = [&](qreal ratio, CPlot& plot) {
        plot.setPixelRatio(ratio);
        plot.setFixedSize(400, 250);
        plot.axes(tenByFour());
        plot.series(slope);
    };
    CPlot one, two;
    drawn(1, one);
    drawn(2, two);
    const QImage& a = one.image();
    const QImage& b = two.image();
    ASSERT_EQ(b.size(), QSize(800, 500));
    EXPECT_EQ(b.devicePixelRatio(), 2.0);
    EXPECT_EQ(two.layout()->frame(), one.layout()->frame());

    // The frame's left edge, one pixel of the control, is two device pixels wide.
    const PixelRect& f = two.layout()->frame();
    const int y = 2 * (f.top + two.layout()->pixelsPerYDivision() / 2);
    const QColor background = two.palette().color(QPalette::Button);
    EXPECT_TRUE(isBlack(b, 2 * f.left, y));
    EXPECT_TRUE(isBlack(b, 2 * f.left + 1, y));
    EXPECT_EQ(b.pixelColor(2 * f.left - 1, y), background);
    EXPECT_EQ(b.pixelColor(2 * f.left + 2, y), background);

    EXPECT_EQ(mixedBlocks(a.scaled(a.size() * 2)), 0);  // what blowing up would give
    EXPECT_GT(mixedBlocks(b), 200);

    // Moved to a screen of ratio 2: the same picture as one drawn there.
    one.show();
    QApplication::processEvents();
    one.setPixelRatio(2);
    one.repaint();
    EXPECT_EQ(one.image(), b);
    EXPECT_EQ(one.image().devicePixelRatio(), 2.0);
}

}  // namespace
}  // namespace qv
