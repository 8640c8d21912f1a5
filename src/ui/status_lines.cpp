#include "ui/status_lines.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

#include "app/status_bar.h"

namespace qv::ui {

namespace {

constexpr int kMargin = 2;
constexpr int kIndent = 8;  // in line with the bus-load line above

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

StatusLines::StatusLines(QWidget* parent) : QWidget(parent) {
    setObjectName("statusLines");
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

int StatusLines::lineHeight() const {
    return fontMetrics().height() + 2;
}

QSize StatusLines::sizeHint() const {
    return {0, lineHeight() * static_cast<int>(lines_.size()) + 2 * kMargin};
}

QSize StatusLines::minimumSizeHint() const {
    return sizeHint();
}

void StatusLines::show(const StatusBarText& text) {
    const std::array<QString, 3> lines = {fromUtf8(text.link), fromUtf8(text.logs),
                                          fromUtf8(text.activity)};
    const std::array<QString, 3> tips = {
        lines[0], text.logPaths.empty() ? lines[1] : fromUtf8(text.logPaths), lines[2]};
    if (lines == lines_ && tips == tips_) return;
    lines_ = lines;
    tips_ = tips;
    update();
}

void StatusLines::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    const int h = lineHeight();
    const int width = std::max(0, this->width() - 2 * kIndent);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const QRect box(kIndent, kMargin + static_cast<int>(i) * h, width, h);
        p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   fontMetrics().elidedText(lines_[i], Qt::ElideRight, width));
    }
}

bool StatusLines::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(e);
        const int index = (help->pos().y() - kMargin) / lineHeight();
        if (index >= 0 && index < static_cast<int>(tips_.size()) &&
            !tips_[static_cast<std::size_t>(index)].isEmpty())
            QToolTip::showText(help->globalPos(), tips_[static_cast<std::size_t>(index)], this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(e);
}

}  // namespace qv::ui
