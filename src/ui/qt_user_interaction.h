#pragma once
// Message boxes and file dialogs with Qt. Safe to call from the transfer worker: the question
// is shown by the GUI thread while the worker waits; at shutdown, questions still waiting are
// answered with their cancelling answer so that the worker can end.
#include <QPointer>
#include <QWidget>
#include <atomic>

#include "common/user_interaction.h"

namespace qv::ui {

class QtUserInteraction : public UserInteraction {
  public:
    // Boxes are owned by the active window, or by `fallbackOwner` when none is active.
    explicit QtUserInteraction(QWidget* fallbackOwner = nullptr) : owner_(fallbackOwner) {}

    void setOwner(QWidget* owner) { owner_ = owner; }
    MessageAnswer messageBox(const MessageBoxRequest& request) override;
    std::optional<std::string> fileDialog(const FileDialogRequest& request) override;
    // From now on nothing waits for the user any more (the program is closing).
    void abandonQuestions() { abandoned_ = true; }

  private:
    MessageAnswer showMessageBox(const MessageBoxRequest& request);
    std::optional<std::string> showFileDialog(const FileDialogRequest& request);
    QWidget* owner() const;

    QPointer<QWidget> owner_;
    std::atomic<bool> abandoned_{false};
};

// "Desc (*.x)|*.x|All (*.*)|*.*||" as a Qt name filter ("Desc (*.x);;All (*.*)").
QString qtNameFilter(const std::string& filter);
// The answer a box gives when nobody answers it: its cancelling button.
MessageAnswer cancellingAnswer(MessageButtons buttons);

}  // namespace qv::ui
