#pragma once
// CPlot: the small x/y chart of the commissioning tools. The axes call lays the chart out with
// the Qt-free PlotLayout and draws it into an off-screen image; each series call draws one
// poly-line and its legend entry into the same image. Painting only copies the image, so a
// repaint never flickers and never recomputes anything.
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QWidget>
#include <optional>

#include "render/plot_painter.h"
#include "tools/plot_layout.h"
#include "tools/tool_plots.h"

namespace qv::ui {

using render::colourOf;
using render::QtFontMetrics;

class CPlot : public QWidget {
    Q_OBJECT

  public:
    explicit CPlot(QWidget* parent = nullptr);

    // Lays out and draws the empty chart; the series count starts again. Returns 1.
    int axes(const PlotAxes& axes);
    // Draws one series and, while the legend has room, its entry. Returns 1, or 0 without
    // drawing when the two arrays differ in length.
    int series(const PlotSeries& series);
    // One axes call, then one series call per series.
    void draw(const PlotFigure& figure);
    // Back to the empty background (nothing to show).
    void clear();

    // The 8-point sans-serif face (drawn turned for the Y title) and its height in pixels.
    const QFont& chartFont() const { return font_; }
    int fontHeight() const { return fontHeight_; }
    // What the last axes call computed (nothing before the first one).
    const std::optional<PlotLayout>& layout() const { return layout_; }
    int seriesCount() const { return seriesCount_; }
    // The off-screen image (null until the first clearing axes call).
    const QImage& image() const { return image_; }
    // Paint events received (each one only copies the image).
    int paints() const { return paints_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void fillBackground();

    QFont font_;
    int fontHeight_ = 10;
    QImage image_;
    std::optional<PlotLayout> layout_;
    int seriesCount_ = 0;
    int paints_ = 0;
};

}  // namespace qv::ui
