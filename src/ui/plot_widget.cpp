#include "ui/plot_widget.h"

#include <QPaintEvent>
#include <QPainter>

namespace qv::ui {

namespace {

QPoint toQt(PixelPoint p) {
    return {p.x, p.y};
}

// Both corners inside the rectangle (the layout's right and bottom are pixels of the frame).
QRect toQt(const PixelRect& r) {
    return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QPen seriesPen(const PlotSeries& s) {
    QPen pen(colourOf(s.colour), 1);
    if (s.dashed) pen.setDashPattern({5, 5});  // in pen widths: 5 pixels on, 5 off
    return pen;
}

}  // namespace

int QtFontMetrics::textWidth(std::string_view text) const {
    return metrics_.horizontalAdvance(
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

QColor colourOf(std::uint32_t c) {
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

CPlot::CPlot(QWidget* parent) : QWidget(parent) {
    // The image covers the whole control: nothing is erased before a paint.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    fontHeight_ = chartFontHeight(logicalDpiY());
    font_ = QFont(QStringLiteral("Sans Serif"));
    font_.setStyleHint(QFont::SansSerif);
    font_.setPixelSize(fontHeight_);
    font_.setWeight(QFont::Normal);
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

// A line one pixel of the control wide covers that pixel (x to x + 1), as at ratio 1, when
// drawn through its middle.
void CPlot::alignLines(QPainter& p) const {
    p.resetTransform();
    if (!qFuzzyCompare(image_.devicePixelRatio(), 1.0)) p.translate(0.5, 0.5);
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
    p.setFont(font_);
    alignLines(p);
    const QPen solid(ink(), 1, Qt::SolidLine);
    const QPen dotted(ink(), 1, Qt::DotLine);
    for (const PlotSegment& s : layout_->grid()) {
        p.setPen(s.dotted ? dotted : solid);
        p.drawLine(toQt(s.from), toQt(s.to));
    }
    p.setPen(solid);
    p.resetTransform();
    for (const PlotText& t : layout_->xLabels()) drawText(p, t);
    for (const PlotText& t : layout_->yLabels()) drawText(p, t);
    drawText(p, layout_->xTitle());
    drawText(p, layout_->yTitle());
    alignLines(p);
    const PixelRect& f = layout_->frame();
    p.drawLine(f.left, f.top, f.right, f.top);
    p.drawLine(f.right, f.top, f.right, f.bottom);
    p.drawLine(f.right, f.bottom, f.left, f.bottom);
    p.drawLine(f.left, f.bottom, f.left, f.top);
}

void CPlot::drawText(QPainter& p, const PlotText& t) {
    if (t.text.empty()) return;
    const QString text = fromUtf8(t.text);
    constexpr int kUnclipped = Qt::TextDontClip | Qt::TextSingleLine;
    switch (t.anchor) {
        case TextAnchor::TopCentre:
            p.drawText(toQt(t.box), Qt::AlignHCenter | Qt::AlignTop | kUnclipped, text);
            break;
        case TextAnchor::RightMiddle:
            p.drawText(toQt(t.box), Qt::AlignRight | Qt::AlignVCenter | kUnclipped, text);
            break;
        case TextAnchor::RotatedCentreBottom: {
            // Reads upwards; the glyphs' bottom is the box's right edge.
            const int length = t.box.height();
            const int height = t.box.width();
            p.save();
            p.translate((t.box.left + t.box.right) / 2.0, (t.box.top + t.box.bottom) / 2.0);
            p.rotate(-90);
            p.drawText(QRectF(-length / 2.0, -height / 2.0, length, height),
                       Qt::AlignCenter | kUnclipped, text);
            p.restore();
            break;
        }
    }
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
    alignLines(p);
    const QPen pen = seriesPen(s);
    const PixelRect& f = layout_->frame();
    // The frame's own pixels included, so that a trace along an edge shows in its colour.
    p.setClipRect(QRect(QPoint(f.left, f.top), QPoint(f.right, f.bottom)));
    p.setPen(pen);
    std::optional<PixelPoint> previous;
    for (std::size_t k = 0; k < s.x.size(); ++k) {
        const auto point = layout_->map(s.x[k], s.y[k]);
        // A value that is no number breaks the line.
        if (point && previous)
            p.drawLine(toQt(*previous), toQt(*point));
        else if (point && k + 1 == s.x.size())
            p.drawPoint(toQt(*point));
        previous = point;
    }
    p.setClipping(false);

    if (const auto entry = layout_->legendEntry(seriesCount_)) {
        const QRect box = toQt(entry->textBox);
        p.resetTransform();
        p.fillRect(box, palette().color(QPalette::Button));
        p.setFont(font_);
        p.setPen(ink());
        const QString text =
            QFontMetrics(font_).elidedText(fromUtf8(s.legend), Qt::ElideRight, box.width());
        p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip,
                   text);
        p.setPen(pen);
        alignLines(p);
        p.drawLine(toQt(entry->sample.from), toQt(entry->sample.to));
    }
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
