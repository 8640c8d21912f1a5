#include "ui/qt_user_interaction.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "ui/caption_room.h"

namespace qv::ui {

namespace {

// Runs `work` on the GUI thread and waits for it, unless `abandoned` turns true first; then
// `work` does not run any more and the result stays `fallback`.
template <typename Result, typename Work>
Result onGuiThread(Work work, Result fallback, const std::atomic<bool>& abandoned) {
    if (QThread::currentThread() == qApp->thread()) return work();
    struct State {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool gaveUp = false;
        Result result;
    };
    auto state = std::make_shared<State>();
    state->result = fallback;
    QMetaObject::invokeMethod(
        qApp,
        [state, work] {
            {
                std::lock_guard l(state->mutex);
                if (state->gaveUp) return;
            }
            Result r = work();
            std::lock_guard l(state->mutex);
            state->result = std::move(r);
            state->finished = true;
            state->done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock l(state->mutex);
    while (!state->finished) {
        if (abandoned) {
            state->gaveUp = true;
            return fallback;
        }
        state->done.wait_for(l, std::chrono::milliseconds(50));
    }
    return state->result;
}

QString withLineFeeds(const std::string& text) {
    QString s = QString::fromUtf8(text.c_str());
    s.replace("\r\n", "\n");
    return s;
}

}  // namespace

MessageAnswer cancellingAnswer(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::Ok:
            return MessageAnswer::Ok;
        case MessageButtons::YesNo:
            return MessageAnswer::No;
        case MessageButtons::OkCancel:
        case MessageButtons::YesNoCancel:
            return MessageAnswer::Cancel;
    }
    return MessageAnswer::Cancel;
}

QString qtNameFilter(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split('|', Qt::SkipEmptyParts);
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        filters << (description.contains('(') ? description : description + " (" + patterns + ")");
    }
    return filters.join(";;");
}

QWidget* QtUserInteraction::owner(bool fromWorker) const {
    if (fromWorker && workerOwner_ && workerOwner_->isVisible()) return workerOwner_.data();
    if (QWidget* active = QApplication::activeWindow()) return active;
    return owner_.data();
}

MessageAnswer QtUserInteraction::messageBox(const MessageBoxRequest& request) {
    return messageBoxWithDetails(request, {});
}

MessageAnswer QtUserInteraction::messageBoxWithDetails(const MessageBoxRequest& request,
                                                       const std::string& details) {
    const bool fromWorker = QThread::currentThread() != qApp->thread();
    return onGuiThread<MessageAnswer>(
        [this, request, details, fromWorker] {
            return showMessageBox(request, details, fromWorker);
        },
        cancellingAnswer(request.buttons), abandoned_);
}

std::optional<std::string> QtUserInteraction::fileDialog(const FileDialogRequest& request) {
    return onGuiThread<std::optional<std::string>>(
        [this, request] { return showFileDialog(request); }, std::nullopt, abandoned_);
}

MessageAnswer QtUserInteraction::showMessageBox(const MessageBoxRequest& r,
                                                const std::string& details, bool fromWorker) {
    QMessageBox box(owner(fromWorker));
    prepareMessageBox(box, r, details);
    return answerOf(box.exec(), r.buttons);
}

void prepareMessageBox(QMessageBox& box, const MessageBoxRequest& r, const std::string& details) {
    box.setWindowTitle(QString::fromUtf8(r.caption.c_str()));
    box.setText(withLineFeeds(r.text));
    if (!details.empty()) box.setDetailedText(withLineFeeds(details));
    switch (r.icon) {
        case MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
    }
    QMessageBox::StandardButtons buttons;
    switch (r.buttons) {
        case MessageButtons::Ok:
            buttons = QMessageBox::Ok;
            break;
        case MessageButtons::OkCancel:
            buttons = QMessageBox::Ok | QMessageBox::Cancel;
            break;
        case MessageButtons::YesNo:
            buttons = QMessageBox::Yes | QMessageBox::No;
            break;
        case MessageButtons::YesNoCancel:
            buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
            break;
    }
    box.setStandardButtons(buttons);
    const auto toButton = [](MessageAnswer a) {
        switch (a) {
            case MessageAnswer::Ok:
                return QMessageBox::Ok;
            case MessageAnswer::Cancel:
                return QMessageBox::Cancel;
            case MessageAnswer::Yes:
                return QMessageBox::Yes;
            case MessageAnswer::No:
                return QMessageBox::No;
        }
        return QMessageBox::Ok;
    };
    if (buttons & toButton(r.defaultAnswer)) box.setDefaultButton(toButton(r.defaultAnswer));
    makeRoomForCaption(box);
}

MessageAnswer answerOf(int result, MessageButtons buttons) {
    switch (result) {
        case QMessageBox::Ok:
            return MessageAnswer::Ok;
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        default:
            return cancellingAnswer(buttons);
    }
}

std::optional<std::string> QtUserInteraction::showFileDialog(const FileDialogRequest& r) {
    QFileDialog dialog(owner());
    dialog.setNameFilter(qtNameFilter(r.filter));
    dialog.setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(r.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!r.defaultExtension.empty())
        dialog.setDefaultSuffix(QString::fromStdString(r.defaultExtension));
    // A path ending in "/" names a folder to start in; any other, a file to propose.
    const QString initial = QString::fromStdString(r.initialPath);
    if (initial.endsWith('/'))
        dialog.setDirectory(initial);
    else if (!initial.isEmpty())
        dialog.selectFile(initial);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

}  // namespace qv::ui
