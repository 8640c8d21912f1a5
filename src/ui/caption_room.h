#pragma once
// Room for a window's caption: a short dialog (the About box, a message box with a line of
// text) would otherwise be narrower than its title, and the window manager cuts the title.
#include <QString>

class QBoxLayout;
class QMessageBox;
class QWidget;

namespace qv::ui {

// Width a window needs for `caption` in its title bar: the text in a bold face of the
// application's font, with room for the window icon and three title buttons.
int captionWidth(const QString& caption);

// Makes `box` at least as wide as its window title needs.
void makeRoomForCaption(QMessageBox& box);
// The same for a dialog laid out by `layout` (its top-level layout).
void makeRoomForCaption(QWidget& dialog, QBoxLayout& layout);

}  // namespace qv::ui
