#pragma once
// Paints the cells of a view whose font is fixed-pitch (the bus monitor's trace) as glyph runs:
// each printable ASCII character maps to its glyph through a table made once per font, and
// every glyph advances alike, so a cell costs no text layout or shaping. A full trace repaints
// every visible cell on each tick; laid out the usual way that is most of the window's time.
//
// It paints what the standard delegate paints for a plain cell (text colour, alignment, the
// style's margins, elision at the right with "…"); a selected or focused cell, a cell with
// other characters, or a font that is not fixed-pitch is painted by the standard delegate.
#include <QRawFont>
#include <QStyledItemDelegate>
#include <array>

namespace qv::ui {

class FixedPitchDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    // Cells painted as glyph runs since construction (for the tests).
    int fastCells() const { return fastCells_; }

  private:
    static constexpr char16_t kFirst = 0x20, kLast = 0x7E;
    struct Face {
        QFont font;  // the font it was made for
        QRawFont raw;
        std::array<quint32, kLast - kFirst + 1> glyphs{};
        quint32 ellipsis = 0;  // "…", or 0: three dots
        qreal advance = 0;
        qreal ellipsisAdvance = 0;
        qreal ascent = 0;
        int lineHeight = 0;
        bool usable = false;
    };
    const Face& face(const QFont& font) const;  // made when the font changes
    bool paintFast(QPainter* painter, const QStyleOptionViewItem& option,
                   const QModelIndex& index) const;

    mutable Face face_;
    mutable bool haveFace_ = false;
    mutable int fastCells_ = 0;
};

}  // namespace qv::ui
