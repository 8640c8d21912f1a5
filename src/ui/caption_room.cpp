#include "ui/caption_room.h"

#include <QApplication>
#include <QBoxLayout>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace qv::ui {

int captionWidth(const QString& caption) {
    QFont font = QApplication::font();
    font.setBold(true);
    const QFontMetrics metrics(font);
    const int button = metrics.height() + 10;  // icon and each title button
    return metrics.horizontalAdvance(caption) + 4 * button + 32;
}

void makeRoomForCaption(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    const QMargins m = grid->contentsMargins();
    const int width = captionWidth(box.windowTitle()) - m.left() - m.right();
    // A row of its own across the box: the box's own sizing cannot undo it.
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

void makeRoomForCaption(QWidget& dialog, QBoxLayout& layout) {
    const QMargins m = layout.contentsMargins();
    layout.addStrut(captionWidth(dialog.windowTitle()) - m.left() - m.right());
}

}  // namespace qv::ui
