#pragma once
// The main window's status bar: three lines of text decided by the logic (the bridge network
// and link, the logs being written, the last transfer and the selected device). A line too
// long for the window is cut with "…" and shown whole in its tool tip; the lines never widen
// the window.
#include <QWidget>
#include <array>

namespace qv {
struct StatusBarText;
}

namespace qv::ui {

class StatusLines : public QWidget {
    Q_OBJECT

  public:
    explicit StatusLines(QWidget* parent = nullptr);

    void show(const StatusBarText& text);
    // The text of line 0, 1 or 2 as given (not cut).
    QString line(int index) const { return lines_.at(static_cast<std::size_t>(index)); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

  private:
    int lineHeight() const;

    std::array<QString, 3> lines_;
    std::array<QString, 3> tips_;
};

}  // namespace qv::ui
