#pragma once
// CPlot: the small x/y chart of the commissioning tools. The axes call lays the chart out with
// the Qt-free PlotLayout and draws it into an off-screen image; each series call draws one
// poly-line and its legend entry into the same image. Painting only copies the image, so a
// repaint never flickers and never recomputes anything.
//
// The image has the screen's device pixels (twice as many each way at a device pixel ratio of
// 2): the layout stays in the control's own pixels and text and lines are drawn sharp, never
// blown up. Moved to a screen of another ratio, or given another palette, the chart draws its
// calls again once. Frame, grid and texts are drawn in the palette's button text colour on its
// button colour, so that a dark palette keeps them legible.
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QWidget>
#include <optional>
#include <variant>
#include <vector>

#include "tools/plot_layout.h"
#include "tools/tool_plots.h"

namespace qv::ui {

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
    // The off-screen image (null until the first clearing axes call), in device pixels.
    const QImage& image() const { return image_; }
    // Draws at this device pixel ratio instead of the screen's (0: the screen's again).
    void setPixelRatio(qreal ratio) { ratioOverride_ = ratio; }
    qreal pixelRatio() const;
    // Paint events received (each one only copies the image).
    int paints() const { return paints_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void fillBackground();
    // A new image of `logicalSize` at pixelRatio(), filled with the background.
    void makeImage(QSize logicalSize);
    void drawAxes(const PlotAxes& axes);
    void drawSeries(const PlotSeries& series);
    void drawText(QPainter& p, const PlotText& text);
    void alignLines(QPainter& p) const;
    // The same image again from the calls it shows (another ratio or palette).
    void redraw();
    // The ink of frame, grid and texts: readable on the background.
    QColor ink() const;

    QFont font_;
    int fontHeight_ = 10;
    QImage image_;
    std::optional<PlotLayout> layout_;
    int seriesCount_ = 0;
    int paints_ = 0;
    qreal ratioOverride_ = 0;
    // The calls the image shows since it was last cleared, to draw them again at another ratio.
    std::vector<std::variant<PlotAxes, PlotSeries>> drawn_;
};

}  // namespace qv::ui
