#pragma once
// The program's icon, from the resource built out of data/qvconfig.svg (16 to 256 pixels).
#include <QIcon>

class QWidget;

namespace qv::ui {

QIcon applicationIcon();
// Gives `window` the program's icon (title bar, task bar, window lists).
void setApplicationIcon(QWidget& window);

}  // namespace qv::ui
