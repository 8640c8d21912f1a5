#include "render/plot_painter.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSaveFile>

namespace qv::render {

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

void drawText(QPainter& p, const PlotText& t) {
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

// Lines at the style's offset; texts and filled boxes without it.
void linesAligned(QPainter& p, const PaintStyle& style) {
    p.resetTransform();
    if (style.lineOffset != 0) p.translate(style.lineOffset, style.lineOffset);
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

QFont chartFont(int pixelHeight) {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelHeight);
    font.setWeight(QFont::Normal);
    return font;
}

void paintAxes(QPainter& p, const PlotLayout& layout, const QFont& font, const PaintStyle& style) {
    p.setFont(font);
    linesAligned(p, style);
    const QPen solid(style.ink, 1, Qt::SolidLine);
    const QPen dotted(style.ink, 1, Qt::DotLine);
    for (const PlotSegment& s : layout.grid()) {
        p.setPen(s.dotted ? dotted : solid);
        p.drawLine(toQt(s.from), toQt(s.to));
    }
    p.setPen(solid);
    p.resetTransform();
    for (const PlotText& t : layout.xLabels()) drawText(p, t);
    for (const PlotText& t : layout.yLabels()) drawText(p, t);
    drawText(p, layout.xTitle());
    drawText(p, layout.yTitle());
    linesAligned(p, style);
    const PixelRect& f = layout.frame();
    p.drawLine(f.left, f.top, f.right, f.top);
    p.drawLine(f.right, f.top, f.right, f.bottom);
    p.drawLine(f.right, f.bottom, f.left, f.bottom);
    p.drawLine(f.left, f.bottom, f.left, f.top);
}

void paintSeries(QPainter& p, const PlotLayout& layout, const PlotSeries& s, int index,
                 const QFont& font, const PaintStyle& style) {
    const QPen pen = seriesPen(s);
    const PixelRect& f = layout.frame();
    // The frame's own pixels included, so that a trace along an edge shows in its colour.
    p.save();
    linesAligned(p, style);
    p.setClipRect(QRect(QPoint(f.left, f.top), QPoint(f.right, f.bottom)));
    p.setPen(pen);
    std::optional<PixelPoint> previous;
    for (std::size_t k = 0; k < s.x.size() && k < s.y.size(); ++k) {
        const auto point = layout.map(s.x[k], s.y[k]);
        // A value that is no number breaks the line.
        if (point && previous)
            p.drawLine(toQt(*previous), toQt(*point));
        else if (point && k + 1 == s.x.size())
            p.drawPoint(toQt(*point));
        previous = point;
    }
    p.restore();

    if (const auto entry = layout.legendEntry(index)) {
        const QRect box = toQt(entry->textBox);
        p.resetTransform();
        p.fillRect(box, style.background);
        p.setFont(font);
        p.setPen(style.ink);
        const QString text =
            QFontMetrics(font).elidedText(fromUtf8(s.legend), Qt::ElideRight, box.width());
        p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip,
                   text);
        p.setPen(pen);
        linesAligned(p, style);
        p.drawLine(toQt(entry->sample.from), toQt(entry->sample.to));
    }
    p.resetTransform();
}

QImage renderFigure(const PlotFigure& figure, int width, int height, int fontHeight,
                    const QColor& background) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(background);
    const QFont font = chartFont(fontHeight);
    const QtFontMetrics metrics(font);
    const PlotLayout layout(figure.axes, width, height, fontHeight, metrics);
    if (!layout.valid()) return image;
    QPainter p(&image);
    PaintStyle style;
    style.background = background;
    paintAxes(p, layout, font, style);
    int index = 0;
    for (const PlotSeries& s : figure.series) {
        if (s.x.size() != s.y.size()) continue;
        paintSeries(p, layout, s, index++, font, style);
    }
    return image;
}

OffscreenApplication::OffscreenApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 3;
    static char name[] = "qvcli";
    static char option[] = "-platform";
    static char platform[] = "offscreen";
    static char* argv[] = {name, option, platform, nullptr};
    // Its start-up notes (such as a missing XDG_RUNTIME_DIR) are no concern of the user's.
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (type == QtCriticalMsg || type == QtFatalMsg) previous(type, context, message);
        });
    application_ = std::make_unique<QGuiApplication>(argc, argv);
    qInstallMessageHandler(previous);
}

OffscreenApplication::~OffscreenApplication() = default;

bool PngPlotRenderer::writePng(const PlotFigure& figure, const std::string& path,
                               std::string* error) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (error) *error = "charts need a Qt GUI application";
        return false;
    }
    const QImage image = renderFigure(figure, kWidth, kHeight, kFontHeight, Qt::white);
    // Through a temporary file beside it: a failed write leaves any file of that name as it was.
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
        if (error) *error = file.errorString().toStdString();
        if (error && error->empty()) *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace qv::render
