#pragma once
// CColourStatic: a static text with its own background and text colour. Setting the same text
// or colours again does nothing, so a cell repaints only when what it shows changed; its size
// is fixed by its owner, so new text never changes the layout.
#include <QString>
#include <QWidget>

#include "monitor/monitor_types.h"

namespace qv::ui {

class CColourStatic : public QWidget {
    Q_OBJECT

  public:
    enum class Look {
        Cell,     // sunken frame, filled background
        Caption,  // plain text on the window's background
    };

    explicit CColourStatic(QWidget* parent = nullptr, Look look = Look::Cell);

    void setText(const QString& text);
    QString text() const { return text_; }
    // kButtonFace stands for the palette's button colour.
    void setColours(ColorRef background, ColorRef textColour);
    ColorRef background() const { return background_; }
    ColorRef textColour() const { return textColour_; }
    // Greyed: the value is not live (the text stays, the colours give way to grey).
    void setStale(bool stale);
    bool stale() const { return stale_; }
    // Text, colours, enabled, visible and stale state from a model's cell.
    void apply(const CellState& cell);
    void setAlignment(Qt::Alignment alignment);
    // Long text wraps onto the lines the height allows instead of being cut with "…".
    void setWordWrap(bool wrap);

    // What a paint uses: the background, and the ink of the text. The ink follows the
    // background (the model's black text turns light on a dark palette or colour), unless the
    // cell is a colour box with text and background alike.
    QColor paintedBackground() const;
    QColor ink() const;

    // How often a repaint was asked for (text or colour changes).
    int repaintRequests() const { return repaintRequests_; }
    QColor toQColor(ColorRef colour) const;

  signals:
    void clicked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    void repaintLater();

    Look look_;
    QString text_;
    ColorRef background_ = kButtonFace;
    ColorRef textColour_ = kBlack;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
    bool wordWrap_ = false;
    bool stale_ = false;
    int repaintRequests_ = 0;
};

}  // namespace qv::ui
