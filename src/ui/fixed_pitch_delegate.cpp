#include "ui/fixed_pitch_delegate.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QStyle>
#include <cmath>

namespace qv::ui {

namespace {

constexpr char16_t kEllipsis = 0x2026;

// Roles whose data changes how the standard delegate paints a cell (besides its text and
// alignment): a cell that has one is left to it.
constexpr int kOtherLookRoles[] = {Qt::DecorationRole, Qt::CheckStateRole, Qt::FontRole,
                                   Qt::ForegroundRole, Qt::BackgroundRole};

}  // namespace

const FixedPitchDelegate::Face& FixedPitchDelegate::face(const QFont& font) const {
    if (haveFace_ && face_.font == font) return face_;
    Face f;
    f.font = font;
    f.raw = QRawFont::fromFont(font);
    const QFontMetricsF metrics(font);
    f.ascent = metrics.ascent();
    f.lineHeight = static_cast<int>(std::lround(metrics.ascent() + metrics.descent()));
    QString printable;
    for (char16_t c = kFirst; c <= kLast; ++c) printable += QChar(c);
    const QList<quint32> glyphs = f.raw.glyphIndexesForString(printable);
    const QList<QPointF> advances = f.raw.advancesForGlyphIndexes(glyphs);
    f.usable = f.raw.isValid() && glyphs.size() == static_cast<qsizetype>(f.glyphs.size()) &&
               advances.size() == glyphs.size();
    for (qsizetype i = 0; f.usable && i < glyphs.size(); ++i) {
        // Every character has its own glyph (0: none, the layout would take a fallback font)
        // and advances as far as the space.
        f.usable = glyphs[i] != 0 && advances[i] == advances[0];
        f.glyphs[static_cast<std::size_t>(i)] = glyphs[i];
    }
    if (f.usable) f.advance = advances[0].x();
    const QList<quint32> ellipsis = f.raw.glyphIndexesForString(QString(QChar(kEllipsis)));
    if (f.usable && ellipsis.size() == 1 && ellipsis[0] != 0) {
        f.ellipsis = ellipsis[0];
        f.ellipsisAdvance = f.raw.advancesForGlyphIndexes(ellipsis).value(0).x();
    } else {
        f.ellipsisAdvance = 3 * f.advance;
    }
    face_ = std::move(f);
    haveFace_ = true;
    return face_;
}

bool FixedPitchDelegate::paintFast(QPainter* painter, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
    if (option.state & (QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_Editing))
        return false;
    if (option.direction != Qt::LeftToRight || (option.features & QStyleOptionViewItem::WrapText) ||
        option.textElideMode != Qt::ElideRight)
        return false;
    for (const int role : kOtherLookRoles)
        if (index.data(role).isValid()) return false;
    const Face& f = face(option.font);
    if (!f.usable) return false;
    const QString text = index.data(Qt::DisplayRole).toString();
    QList<quint32> glyphs;
    glyphs.reserve(text.size() + 3);
    for (const QChar c : text) {
        if (c.unicode() < kFirst || c.unicode() > kLast) return false;
        glyphs.append(f.glyphs[c.unicode() - kFirst]);
    }
    const QVariant alignment = index.data(Qt::TextAlignmentRole);
    const Qt::Alignment align =
        alignment.isValid() ? Qt::Alignment(alignment.toInt()) : option.displayAlignment;

    // The standard delegate's text rectangle, and the right end cut as its elision cuts it:
    // whole characters while they stay short of the room left beside the ellipsis.
    const QWidget* widget = option.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect rect = option.rect.adjusted(margin, 0, -margin, 0);
    qreal width = static_cast<qreal>(glyphs.size()) * f.advance;
    if (width > rect.width()) {
        const qreal room = rect.width() - f.ellipsisAdvance;
        if (room < 0) return true;  // not even the ellipsis fits: nothing is drawn
        const auto kept = std::min<qsizetype>(
            glyphs.size() - 1, static_cast<qsizetype>(std::ceil(room / f.advance)) - 1);
        glyphs.resize(std::max<qsizetype>(kept, 0));
        if (f.ellipsis != 0)
            glyphs.append(f.ellipsis);
        else
            glyphs.append({f.glyphs['.' - kFirst], f.glyphs['.' - kFirst], f.glyphs['.' - kFirst]});
        width = static_cast<qreal>(glyphs.size() - (f.ellipsis != 0 ? 1 : 0)) * f.advance +
                (f.ellipsis != 0 ? f.ellipsisAdvance : 0);
    }
    QList<QPointF> positions;
    positions.reserve(glyphs.size());
    qreal x = 0;
    for (const quint32 g : glyphs) {
        positions.append(QPointF(x, 0));
        x += g == f.ellipsis && f.ellipsis != 0 ? f.ellipsisAdvance : f.advance;
    }
    const QRect line = QStyle::alignedRect(Qt::LeftToRight, align & Qt::AlignVertical_Mask,
                                           QSize(rect.width(), f.lineHeight), rect);
    qreal left = rect.x();
    if (align & Qt::AlignRight)
        left += rect.width() - width;
    else if (align & Qt::AlignHCenter)
        left += (rect.width() - width) / 2;

    QGlyphRun run;
    run.setRawFont(f.raw);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    QPalette::ColorGroup group =
        option.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    if (group == QPalette::Normal && !(option.state & QStyle::State_Active))
        group = QPalette::Inactive;
    painter->save();
    painter->setPen(option.palette.color(group, QPalette::Text));
    painter->setClipRect(option.rect, Qt::IntersectClip);
    painter->drawGlyphRun(QPointF(left, line.top() + f.ascent), run);
    painter->restore();
    return true;
}

void FixedPitchDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    if (paintFast(painter, option, index)) {
        ++fastCells_;
        return;
    }
    QStyledItemDelegate::paint(painter, option, index);
}

}  // namespace qv::ui
