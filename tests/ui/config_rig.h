#pragma once
// The program's windows with the real configuration transfer and the Configuration and
// progress windows, on a fake bridge client or on loopback against the simulator. Message boxes
// and file dialogs of the configuration windows are answered from a script.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QTest>
#include <deque>

#include "app/config_transfer_service.h"
#include "config/config_stream.h"
#include "sim/world.h"
#include "stoppable_world.h"
#include "ui/config_install.h"
#include "ui/config_motor_page.h"
#include "ui/config_window.h"
#include "ui/progress_window.h"
#include "ui_rig.h"

namespace qv::test {

// Questions answered in the order scripted (each must contain its text); boxes with OK only
// are answered OK. Usable from the worker thread.
class Answers : public UserInteraction {
  public:
    struct Shown {
        MessageBoxRequest request;
        std::string details;
    };
    void expect(std::string text, MessageAnswer answer) {
        std::lock_guard l(mutex_);
        script_.emplace_back(std::move(text), answer);
    }
    void expectFile(std::optional<std::string> path) {
        std::lock_guard l(mutex_);
        files_.push_back(std::move(path));
    }
    MessageAnswer messageBox(const MessageBoxRequest& r) override {
        return messageBoxWithDetails(r, {});
    }
    MessageAnswer messageBoxWithDetails(const MessageBoxRequest& r,
                                        const std::string& details) override {
        std::lock_guard l(mutex_);
        shown_.push_back({r, details});
        if (r.buttons == MessageButtons::Ok) return MessageAnswer::Ok;
        if (script_.empty()) {
            ADD_FAILURE() << "unexpected question: " << r.text;
            return r.defaultAnswer;
        }
        auto [text, answer] = script_.front();
        script_.pop_front();
        EXPECT_NE(r.text.find(text), std::string::npos) << "asked: " << r.text;
        return answer;
    }
    std::optional<std::string> fileDialog(const FileDialogRequest& r) override {
        std::lock_guard l(mutex_);
        dialogs_.push_back(r);
        if (files_.empty()) return std::nullopt;
        auto path = files_.front();
        files_.pop_front();
        return path;
    }
    std::vector<Shown> shown() {
        std::lock_guard l(mutex_);
        return shown_;
    }
    std::vector<std::string> texts() {
        std::vector<std::string> out;
        for (const Shown& s : shown()) out.push_back(s.request.text);
        return out;
    }
    std::vector<FileDialogRequest> dialogs() {
        std::lock_guard l(mutex_);
        return dialogs_;
    }
    bool scriptDone() {
        std::lock_guard l(mutex_);
        return script_.empty();
    }
    void clear() {
        std::lock_guard l(mutex_);
        shown_.clear();
    }

  private:
    std::mutex mutex_;
    std::deque<std::pair<std::string, MessageAnswer>> script_;
    std::deque<std::optional<std::string>> files_;
    std::vector<Shown> shown_;
    std::vector<FileDialogRequest> dialogs_;
};

// A field of a packed record by value (gtest's expectations bind their arguments to references,
// which a misaligned field cannot have).
template <typename T>
T copyOf(T value) {
    return value;
}

class ConfigRig {
  public:
    explicit ConfigRig(std::optional<BridgeSettings> bridge = std::nullopt)
        : rig(bridge, [this](UiRig& r) {
              service = &installConfigTransferService(*r.app, answers);
              ui::installConfigurationWindows(r.factory, *r.app, answers, *service);
          }) {
        window = rig.window->findChild<ui::ConfigWindow*>("id107");
        progress = rig.window->findChild<ui::ProgressWindow*>("id145");
    }

    CQVDrvCtrlsDlg& logic() { return rig.logic(); }
    CConfigDataBank& store() { return rig.app->store(); }
    ToolWindow& tool(Tool t) { return *rig.app->tool(t); }
    template <typename W = QWidget>
    W* find(int id) {
        return window->findChild<W*>(QString("id%1").arg(id));
    }
    // Control `id` of motor page `record`.
    template <typename W = QWidget>
    W* motorControl(std::size_t record, int id);

    // Opens the Configuration window on what the store holds, as a file load would.
    void openOnStore() {
        for (auto kind : {StructureKind::Public, StructureKind::Private, StructureKind::Motor})
            store().setValid(kind, true);
        ToolWindow& w = tool(Tool::Configuration);
        w.show();
        w.setEnabled(true);
        w.refresh();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    }
    // Types `text` over the whole text of the focused-to edit, then presses Tab.
    void typeInto(QWidget* edit, const QString& text, bool leave = true) {
        // Focus events reach only the active window's widgets.
        activate(edit->window());
        edit->setFocus(Qt::TabFocusReason);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
        if (leave) tab(edit);
    }
    // Makes `w` the application's active window (another top-level may have taken it).
    static void activate(QWidget* w) {
        if (QApplication::activeWindow() == w) return;
        w->activateWindow();
        QApplication::setActiveWindow(w);
        EXPECT_TRUE(QTest::qWaitFor([w] { return QApplication::activeWindow() == w; }));
    }
    // The window's focus rests on `w` (it was given back after a refused value).
    bool keepsFocus(QWidget* w) {
        return rig.waitUntil([&] { return window->focusWidget() == w; }, 1000);
    }
    void tab(QWidget* from) {
        QTest::keyClick(from, Qt::Key_Tab);
        // The check of the field left runs from a zero timer once the focus has moved; a slow
        // (sanitizer) build may need more than one pass of the event loop for it.
        QTest::qWait(20);
    }

    Answers answers;
    UiRig rig;
    ControllerTransferService* service = nullptr;
    ui::ConfigWindow* window = nullptr;
    ui::ProgressWindow* progress = nullptr;
};

template <typename W>
W* ConfigRig::motorControl(std::size_t record, int id) {
    QWidget* page = window->motorPage()->motorPage(static_cast<int>(record));
    return page->findChild<W*>(QString("id%1").arg(id));
}

// Saves `w` as docs/NAME (the folder $QV_SCREENSHOT_DIR, else the test's own temporary one).
inline QString saveScreenshot(QWidget& w, const std::string& name, const TempDir& dir) {
    const char* target = std::getenv("QV_SCREENSHOT_DIR");
    const QString path = QDir(QString::fromStdString(target ? target : dir.path()))
                             .filePath(QString::fromStdString(name));
    // Pending layout requests first, so that labels set since are laid out.
    QApplication::processEvents();
    const QImage shot = w.grab().toImage();
    EXPECT_TRUE(shot.save(path, "PNG")) << path.toStdString();
    return path;
}

}  // namespace qv::test
