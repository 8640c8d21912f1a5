#pragma once
// Message boxes and file dialogs with Qt. Safe to call from the transfer worker: the question
// is shown by the GUI thread while the worker waits; at shutdown, questions still waiting are
// answered with their cancelling answer so that the worker can end.
#include <QPointer>
#include <QWidget>
#include <atomic>

#include "common/user_interaction.h"

class QMessageBox;

namespace qv::ui {

class QtUserInteraction : public UserInteraction {
  public:
    // Boxes are owned by the active window, or by `fallbackOwner` when none is active.
    explicit QtUserInteraction(QWidget* fallbackOwner = nullptr) : owner_(fallbackOwner) {}

    void setOwner(QWidget* owner) { owner_ = owner; }
    // Boxes asked from another thread (the transfer worker) are owned by this window while it
    // is shown (the progress window).
    void setWorkerOwner(QWidget* owner) { workerOwner_ = owner; }
    MessageAnswer messageBox(const MessageBoxRequest& request) override;
    // The details go into the box's details pane.
    MessageAnswer messageBoxWithDetails(const MessageBoxRequest& request,
                                        const std::string& details) override;
    std::optional<std::string> fileDialog(const FileDialogRequest& request) override;
    // From now on nothing waits for the user any more (the program is closing).
    void abandonQuestions() { abandoned_ = true; }

  private:
    MessageAnswer showMessageBox(const MessageBoxRequest& request, const std::string& details,
                                 bool fromWorker);
    std::optional<std::string> showFileDialog(const FileDialogRequest& request);
    QWidget* owner(bool fromWorker = false) const;

    QPointer<QWidget> owner_;
    QPointer<QWidget> workerOwner_;
    std::atomic<bool> abandoned_{false};
};

// Fills `box` for the request: caption (with room for it), text, details, icon, buttons and
// the default button.
void prepareMessageBox(QMessageBox& box, const MessageBoxRequest& request,
                       const std::string& details);
// The answer of the button that closed a box prepared for `buttons` (`result` of exec()).
MessageAnswer answerOf(int result, MessageButtons buttons);

// "Desc (*.x)|*.x|All (*.*)|*.*||" as a Qt name filter ("Desc (*.x);;All (*.*)").
QString qtNameFilter(const std::string& filter);
// The answer a box gives when nobody answers it: its cancelling button.
MessageAnswer cancellingAnswer(MessageButtons buttons);

}  // namespace qv::ui
