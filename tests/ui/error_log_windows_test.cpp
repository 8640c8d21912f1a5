// The ELog menu's windows: the review window's count check, and that neither window's action
// button changes anything or puts a frame on the bus.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "ui/error_log_windows.h"
#include "ui_rig.h"

namespace qv {
namespace {

QPushButton* buttonOf(QWidget* w, int id) {
    return w->findChild<QPushButton*>(QString("id%1").arg(id));
}

// Runs `act` on the modal window that `open` shows, then waits for it to close.
void whileModal(const std::function<void()>& open, const std::function<void(QWidget*)>& act) {
    bool acted = false;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        act(modal);
        acted = true;
    });
    open();
    EXPECT_TRUE(acted);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(ErrorLogReview, TheCountIsTakenUpTo16896AndRefusedAbove) {
    test::ScriptedUi prompts;
    struct Case {
        const char* text;
        bool closes;
        const char* prompt;
    };
    for (const Case c : {Case{"16896", true, nullptr},
                         Case{"16897", false, "Please enter an integer between 0 and 16896."},
                         Case{"12x", false, "Please enter a positive integer."},
                         Case{"-1", false, "Please enter a positive integer."}}) {
        SCOPED_TRACE(c.text);
        ui::ErrorLogReviewDialog dialog(prompts);
        dialog.show();
        auto* count = dialog.findChild<QLineEdit*>("id1163");
        ASSERT_NE(count, nullptr);
        EXPECT_EQ(count->text(), "0");
        count->setText(c.text);
        QTest::mouseClick(buttonOf(&dialog, 1), Qt::LeftButton);
        const auto messages = prompts.takeMessages();
        if (c.closes) {
            EXPECT_FALSE(dialog.isVisible());
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_EQ(dialog.model().count(), 16896u);
            EXPECT_TRUE(messages.empty());
        } else {
            EXPECT_TRUE(dialog.isVisible());
            EXPECT_EQ(messages, std::vector<std::string>{c.prompt});
            EXPECT_EQ(dialog.focusWidget(), count);
            EXPECT_EQ(dialog.model().count(), 0u);
        }
    }
}

TEST(ErrorLogReview, ListUsesAFixedPitchEightPointFont) {
    test::ScriptedUi prompts;
    ui::ErrorLogReviewDialog dialog(prompts);
    EXPECT_EQ(dialog.windowTitle(), "Error Log Review");
    auto* list = dialog.findChild<QListWidget*>("id1162");
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(test::hasEqualAdvances(list->font()));
    EXPECT_EQ(list->font().pointSize(), 8);
}

// Reached through the ELog menu (greyed in normal use): GO and Erase leave their windows as
// they were and nothing reaches the CAN port.
TEST(ErrorLogWindows, GoAndEraseChangeNothingAndSendNothing) {
    test::UiRig rig;
    rig.window->tickTimer().stop();
    rig.announce(0x440, "KX01", 7);
    rig.logic().onTimer();
    EXPECT_FALSE(rig.window->action(kCmdViewLog)->isEnabled());
    EXPECT_FALSE(rig.window->action(kCmdEraseLog)->isEnabled());
    const std::size_t sent = rig.sent().size();
    const std::size_t calls = rig.client.calls.size();

    QAction* view = rig.window->action(kCmdViewLog);
    view->setEnabled(true);
    whileModal([&] { view->trigger(); },
               [](QWidget* w) {
                   EXPECT_EQ(w->windowTitle(), "Error Log Review");
                   auto* count = w->findChild<QLineEdit*>("id1163");
                   count->setText("25");
                   QTest::mouseClick(buttonOf(w, 1024), Qt::LeftButton);
                   EXPECT_TRUE(w->isVisible());
                   EXPECT_EQ(count->text(), "25");
                   EXPECT_EQ(w->findChild<QListWidget*>("id1162")->count(), 0);
                   QTest::mouseClick(buttonOf(w, 1), Qt::LeftButton);
               });

    QAction* erase = rig.window->action(kCmdEraseLog);
    erase->setEnabled(true);
    for (const int closeId : {1, 2}) {
        whileModal([&] { erase->trigger(); },
                   [closeId](QWidget* w) {
                       EXPECT_EQ(w->windowTitle(), "Error Log Erase");
                       auto* finished = w->findChild<QWidget*>("id1161");
                       auto* progress = w->findChild<QProgressBar*>("id1160");
                       QTest::mouseClick(buttonOf(w, 1024), Qt::LeftButton);
                       EXPECT_TRUE(w->isVisible());
                       EXPECT_FALSE(finished->isVisible());
                       EXPECT_EQ(progress->value(), progress->minimum());
                       QTest::mouseClick(buttonOf(w, closeId), Qt::LeftButton);
                   });
    }
    EXPECT_EQ(rig.sent().size(), sent);
    EXPECT_TRUE(rig.client.queued.empty());
    EXPECT_EQ(rig.client.calls.size(), calls);
}

}  // namespace
}  // namespace qv
