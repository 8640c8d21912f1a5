#include "ui/plot_widget.h"

#include <QPaintEvent>
#include <QPainter>

namespace qv::ui {

CPlot::CPlot(QWidget* parent) : QWidget(parent) {
    // The image covers the whole control: nothing is erased before a paint.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    fontHeight_ = chartFontHeight(logicalDpiY());
    font_ = render::chartFont(fontHeight_);
}

qreal CPlot::pixelRatio() const {
    return ratioOverride_ > 0 ? ratioOverride_ : devicePixelRatioF();
}

QColor CPlot::ink() const {
    return palette().color(QPalette::ButtonText);
}

void CPlot::fillBackground() {
    image_.fill(palette().color(QPalette::Button));
}

render::PaintStyle CPlot::style() const {
    render::PaintStyle s;
    s.ink = ink();
    s.background = palette().color(QPalette::Button);
    // A line one pixel of the control wide covers that pixel (x to x + 1), as at ratio 1, when
    // drawn through its middle.
    s.lineOffset = qFuzzyCompare(image_.devicePixelRatio(), 1.0) ? 0 : 0.5;
    return s;
}

void CPlot::makeImage(QSize logicalSize) {
    const qreal ratio = pixelRatio();
    image_ = QImage(logicalSize * ratio, QImage::Format_RGB32);
    image_.setDevicePixelRatio(ratio);
    fillBackground();
}

int CPlot::axes(const PlotAxes& a) {
    if (a.clear) {
        // Created once, with the control's size at the time, and kept.
        if (image_.isNull()) makeImage(size());
        fillBackground();
        drawn_.clear();
    }
    drawn_.emplace_back(a);
    drawAxes(a);
    update();
    return 1;
}

void CPlot::drawAxes(const PlotAxes& a) {
    seriesCount_ = 0;
    const QtFontMetrics metrics(font_);
    const QSize area = image_.isNull() ? size() : image_.deviceIndependentSize().toSize();
    layout_.emplace(a, area.width(), area.height(), fontHeight_, metrics);
    if (image_.isNull() || !layout_->valid()) return;
    QPainter p(&image_);
    render::paintAxes(p, *layout_, font_, style());
}

int CPlot::series(const PlotSeries& s) {
    if (s.x.size() != s.y.size()) return 0;
    if (image_.isNull() || !layout_ || !layout_->valid()) return 1;
    drawn_.emplace_back(s);
    drawSeries(s);
    update();
    return 1;
}

void CPlot::drawSeries(const PlotSeries& s) {
    QPainter p(&image_);
    render::paintSeries(p, *layout_, s, seriesCount_, font_, style());
    ++seriesCount_;
}

void CPlot::draw(const PlotFigure& figure) {
    axes(figure.axes);
    for (const PlotSeries& s : figure.series) series(s);
}

void CPlot::clear() {
    if (image_.isNull()) makeImage(size());
    fillBackground();
    drawn_.clear();
    layout_.reset();
    seriesCount_ = 0;
    update();
}

void CPlot::redraw() {
    if (image_.isNull()) return;
    makeImage(image_.deviceIndependentSize().toSize());
    const auto calls = std::move(drawn_);
    drawn_.clear();
    for (const auto& call : calls) {
        if (const auto* a = std::get_if<PlotAxes>(&call)) {
            drawn_.emplace_back(*a);
            drawAxes(*a);
        } else if (const auto* s = std::get_if<PlotSeries>(&call)) {
            if (layout_ && layout_->valid()) drawSeries(*s);
            drawn_.emplace_back(*s);
        }
    }
}

void CPlot::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // The desktop's palette changed (a dark one, say): the chart in its colours.
    if (event->type() == QEvent::PaletteChange) {
        redraw();
        update();
    }
}

void CPlot::paintEvent(QPaintEvent* event) {
    ++paints_;
    QPainter p(this);
    if (image_.isNull()) {
        p.fillRect(event->rect(), palette().color(QPalette::Button));
        return;
    }
    // Another screen: the same calls again at its ratio.
    if (!qFuzzyCompare(image_.devicePixelRatio(), pixelRatio())) redraw();
    const qreal r = image_.devicePixelRatio();
    const QRect area = event->rect();
    p.drawImage(area, image_, QRectF(area.topLeft() * r, area.size() * r));
}

}  // namespace qv::ui
