#pragma once
// Draws the charts of the commissioning tools with Qt's painter, from the Qt-free layout
// (PlotLayout): the plot widget paints them into its off-screen image, and the PNG writer into
// a picture file. Both therefore look the same.
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <memory>
#include <optional>
#include <string>

#include "tools/commissioning_pass.h"
#include "tools/plot_layout.h"
#include "tools/tool_plots.h"

class QGuiApplication;

namespace qv::render {

// The layout's text measurements in a Qt font.
class QtFontMetrics : public FontMetrics {
  public:
    explicit QtFontMetrics(const QFont& font) : metrics_(font) {}
    int textWidth(std::string_view text) const override;

  private:
    QFontMetrics metrics_;
};

// 0x00BBGGRR as a Qt colour.
QColor colourOf(std::uint32_t colourRef);

// The chart's face: a sans-serif font of `pixelHeight` pixels.
QFont chartFont(int pixelHeight);

// The colours of a chart and where its one-pixel lines fall.
struct PaintStyle {
    QColor ink = Qt::black;         // frame, grid and texts
    QColor background = Qt::white;  // behind the legend's texts
    // Lines are drawn this far right and down: 0.5 centres a line one layout pixel wide on that
    // pixel in an image of a device pixel ratio other than 1 (0 at ratio 1).
    qreal lineOffset = 0;
};

// The grid, the tick labels, the axis titles and the frame.
void paintAxes(QPainter& p, const PlotLayout& layout, const QFont& font, const PaintStyle& style);
// One series (clipped to the frame) and, while the legend has room, its entry as series
// `index` since the axes.
void paintSeries(QPainter& p, const PlotLayout& layout, const PlotSeries& series, int index,
                 const QFont& font, const PaintStyle& style);

// A whole chart in an image of `width` x `height` pixels on `background`.
QImage renderFigure(const PlotFigure& figure, int width, int height, int fontHeight,
                    const QColor& background);

// A Qt GUI application on Qt's offscreen platform (it needs no display), for a program that has
// none of its own (qvcli): fonts are found through it. Nothing when one runs already.
class OffscreenApplication {
  public:
    OffscreenApplication();
    ~OffscreenApplication();
    OffscreenApplication(const OffscreenApplication&) = delete;
    OffscreenApplication& operator=(const OffscreenApplication&) = delete;

  private:
    std::unique_ptr<QGuiApplication> application_;
};

// Writes the report's charts as PNG files (white background). Needs a Qt GUI application (the
// program's own, or an OffscreenApplication).
class PngPlotRenderer final : public PlotRenderer {
  public:
    static constexpr int kWidth = 800;
    static constexpr int kHeight = 360;
    static constexpr int kFontHeight = 13;

    bool writePng(const PlotFigure& figure, const std::string& path, std::string* error) override;
};

}  // namespace qv::render
