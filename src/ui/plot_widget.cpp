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

void CPlot::fillBackground() {
    image_.fill(palette().color(QPalette::Button));
}

int CPlot::axes(const PlotAxes& a) {
    if (a.clear) {
        // Created once, with the control's size at the time, and kept.
        if (image_.isNull()) image_ = QImage(size(), QImage::Format_RGB32);
        fillBackground();
    }
    seriesCount_ = 0;
    const QtFontMetrics metrics(font_);
    const QSize area = image_.isNull() ? size() : image_.size();
    layout_.emplace(a, area.width(), area.height(), fontHeight_, metrics);
    if (image_.isNull() || !layout_->valid()) {
        update();
        return 1;
    }
    QPainter p(&image_);
    render::paintAxes(p, *layout_, font_);
    p.end();
    update();
    return 1;
}

int CPlot::series(const PlotSeries& s) {
    if (s.x.size() != s.y.size()) return 0;
    if (image_.isNull() || !layout_ || !layout_->valid()) return 1;
    QPainter p(&image_);
    render::paintSeries(p, *layout_, s, seriesCount_, font_, palette().color(QPalette::Button));
    ++seriesCount_;
    p.end();
    update();
    return 1;
}

void CPlot::draw(const PlotFigure& figure) {
    axes(figure.axes);
    for (const PlotSeries& s : figure.series) series(s);
}

void CPlot::clear() {
    if (image_.isNull()) image_ = QImage(size(), QImage::Format_RGB32);
    fillBackground();
    layout_.reset();
    seriesCount_ = 0;
    update();
}

void CPlot::paintEvent(QPaintEvent* event) {
    ++paints_;
    QPainter p(this);
    if (image_.isNull()) {
        p.fillRect(event->rect(), palette().color(QPalette::Button));
        return;
    }
    p.drawImage(event->rect(), image_, event->rect());
}

}  // namespace qv::ui
