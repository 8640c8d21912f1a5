#pragma once
// "Processing Configuration" (CConfigProg's window): the stage under way as its caption and
// above the bar, a bar over the bytes expected, and Cancel. It shows the model's state: every
// change of the model, from whichever thread, is posted here and shown in order. Escape does
// nothing; the close box cancels while Cancel may be pressed.
#include <QDialog>
#include <QStringList>
#include <functional>

#include "config/config_progress.h"
#include "ui/qt_windows.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace qv::ui {

class ProgressWindow : public QDialog {
    Q_OBJECT

  public:
    // `cancel` runs the model's Cancel (the transfer's store and port).
    ProgressWindow(CConfigProg& model, std::function<void()> cancel, QWidget* parent = nullptr);
    ~ProgressWindow() override;

    QProgressBar* bar() const { return bar_; }
    QPushButton* cancelButton() const { return cancel_; }
    QLabel* stage() const { return stage_; }
    // Every stage caption shown, in order.
    const QStringList& shownCaptions() const { return shown_; }
    void clearShownCaptions() { shown_.clear(); }

  public slots:
    void reject() override {}

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void apply(const ConfigProgressState& state);

    CConfigProg& model_;
    std::function<void()> cancelTransfer_;
    QLabel* stage_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QStringList shown_;
};

// The progress window as the main window's tool: the transfer owns it while it runs, so the
// main window's hideAllTools leaves it up then. The transfer moves its bar itself, so
// WM_CAN_TRANSFER does not count the same bytes again.
class ProgressToolWindow : public QtToolWindow {
  public:
    ProgressToolWindow(ProgressWindow* window, CConfigProg& model);

    void hide() override;
    void setEnabled(bool enabled) override;
    bool isVisible() const override { return model_.state().visible; }
    bool isEnabled() const override { return model_.isEnabled(); }
    void advanceProgress(int) override {}

  private:
    CConfigProg& model_;
};

}  // namespace qv::ui
