#pragma once
// A tool window whose tool is not built in this version: it exists (hidden and disabled, with
// its caption and remembered position) so that the program's structure is complete.
#include <QDialog>

namespace qv::ui {

class ShellToolWindow : public QDialog {
    Q_OBJECT

  public:
    ShellToolWindow(const QString& caption, const QString& objectName, QWidget* parent);

  protected:
    void reject() override;
};

}  // namespace qv::ui
