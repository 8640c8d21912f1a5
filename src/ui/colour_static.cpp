#include "ui/colour_static.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFrame>

#include "monitor/text_ink.h"

namespace qv::ui {

namespace {
constexpr int kPadding = 4;
}

CColourStatic::CColourStatic(QWidget* parent, Look look) : QWidget(parent), look_(look) {
    setAttribute(Qt::WA_OpaquePaintEvent, look_ == Look::Cell);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void CColourStatic::repaintLater() {
    ++repaintRequests_;
    update();
}

void CColourStatic::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    setToolTip(wordWrap_ || look_ == Look::Caption ? QString() : text_);
    repaintLater();
}

void CColourStatic::setColours(ColorRef background, ColorRef textColour) {
    if (background == background_ && textColour == textColour_) return;
    background_ = background;
    textColour_ = textColour;
    repaintLater();
}

void CColourStatic::setStale(bool stale) {
    if (stale == stale_) return;
    stale_ = stale;
    repaintLater();
}

void CColourStatic::apply(const CellState& cell) {
    setText(QString::fromUtf8(cell.text.data(), static_cast<qsizetype>(cell.text.size())));
    setColours(cell.background, cell.textColour);
    setStale(cell.stale);
    if (isEnabled() != cell.enabled) setEnabled(cell.enabled);
    if (!isHidden() != cell.visible) setVisible(cell.visible);
}

void CColourStatic::setAlignment(Qt::Alignment alignment) {
    if (alignment == alignment_) return;
    alignment_ = alignment;
    repaintLater();
}

void CColourStatic::setWordWrap(bool wrap) {
    wordWrap_ = wrap;
    repaintLater();
}

QColor CColourStatic::toQColor(ColorRef colour) const {
    if (colour == kButtonFace) return palette().color(QPalette::Button);
    return QColor(redOf(colour), greenOf(colour), blueOf(colour));
}

QColor CColourStatic::paintedBackground() const {
    if (look_ == Look::Caption) return palette().color(QPalette::Window);
    // A disabled cell shows no value for this device, a stale one no live value.
    return isEnabled() && !stale_ ? toQColor(background_) : palette().color(QPalette::Window);
}

QColor CColourStatic::ink() const {
    if (!isEnabled() || stale_) return palette().color(QPalette::Disabled, QPalette::WindowText);
    if (look_ == Look::Caption) return palette().color(QPalette::WindowText);
    if (textColour_ == background_) return toQColor(textColour_);  // a colour box
    if (textColour_ != kBlack) return toQColor(textColour_);
    if (background_ == kButtonFace) return palette().color(QPalette::ButtonText);
    const QColor b = paintedBackground();
    const Rgb rgb{static_cast<std::uint8_t>(b.red()), static_cast<std::uint8_t>(b.green()),
                  static_cast<std::uint8_t>(b.blue())};
    return darkInkOn(rgb) ? QColor(Qt::black) : QColor(Qt::white);
}

void CColourStatic::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QRect area = rect();
    if (look_ == Look::Cell) {
        p.fillRect(area, paintedBackground());
        // A disabled cell has a faint frame.
        p.setPen(palette().color(isEnabled() ? QPalette::Mid : QPalette::Midlight));
        p.drawRect(area.adjusted(0, 0, -1, -1));
        area.adjust(kPadding, 1, -kPadding, -1);
    }
    p.setPen(ink());
    if (wordWrap_) {
        p.drawText(area, static_cast<int>(alignment_) | Qt::TextWordWrap, text_);
    } else {
        const QString shown = fontMetrics().elidedText(text_, Qt::ElideRight, area.width());
        p.drawText(area, static_cast<int>(alignment_), shown);
    }
}

void CColourStatic::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && isEnabled()) emit clicked();
    QWidget::mousePressEvent(event);
}

}  // namespace qv::ui
