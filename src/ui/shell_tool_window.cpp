#include "ui/shell_tool_window.h"

#include <QLabel>
#include <QVBoxLayout>

namespace qv::ui {

ShellToolWindow::ShellToolWindow(const QString& caption, const QString& objectName, QWidget* parent)
    : QDialog(parent) {
    setObjectName(objectName);
    setWindowTitle(caption);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(caption + " is not available in this version yet."));
}

// Escape and the close box hide and disable it, like every tool window.
void ShellToolWindow::reject() {
    QDialog::reject();
    setEnabled(false);
}

}  // namespace qv::ui
