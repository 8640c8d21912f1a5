#include "ui/qt_user_interaction.h"

#include "ui/caption_room.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

namespace qv {
namespace {

MessageBoxRequest question() {
    return {"Overwrite config?", "Upload", MessageIcon::Information, MessageButtons::YesNo,
            MessageAnswer::No};
}

// The transfer worker asks; the GUI thread shows the box; the answer goes back to the worker.
TEST(QtUserInteraction, AWorkerQuestionIsShownByTheGuiThread) {
    ui::QtUserInteraction interaction;
    std::atomic<int> answer{-1};
    QString shownText, defaultButton;
    QTimer clicker;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        shownText = box->text();
        defaultButton = box->defaultButton() ? box->defaultButton()->text() : "";
        box->button(QMessageBox::Yes)->click();
    });
    clicker.start(10);
    std::thread worker([&] { answer = static_cast<int>(interaction.messageBox(question())); });
    QDeadlineTimer deadline(5000);
    while (answer < 0 && !deadline.hasExpired()) QTest::qWait(10);
    worker.join();
    EXPECT_EQ(answer, static_cast<int>(MessageAnswer::Yes));
    EXPECT_EQ(shownText, "Overwrite config?");
    EXPECT_EQ(defaultButton, "&No");
}

// At shutdown the GUI thread waits for the worker: a question still waiting gets its
// cancelling answer instead of waiting for an event loop that no longer runs.
TEST(QtUserInteraction, AbandonedQuestionsEndWithTheirCancellingAnswer) {
    ui::QtUserInteraction interaction;
    std::atomic<int> answer{-1};
    std::thread worker([&] { answer = static_cast<int>(interaction.messageBox(question())); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    interaction.abandonQuestions();
    worker.join();  // the GUI thread never ran an event loop meanwhile
    EXPECT_EQ(answer, static_cast<int>(MessageAnswer::No));
    QApplication::processEvents();  // the queued box is dropped, not shown
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// A box whose text is shorter than its caption is made wide enough for the caption.
TEST(QtUserInteraction, MessageBoxesHaveRoomForTheirCaption) {
    MessageBoxRequest r;
    r.caption = "PC -> QV - Reading Config Ver";
    r.text = "Done";
    r.icon = MessageIcon::Information;
    r.buttons = MessageButtons::YesNo;
    r.defaultAnswer = MessageAnswer::No;
    QMessageBox box;
    ui::prepareMessageBox(box, r, {});
    box.show();
    QApplication::processEvents();
    EXPECT_EQ(box.windowTitle(), "PC -> QV - Reading Config Ver");
    EXPECT_GE(box.width(), ui::captionWidth(box.windowTitle()));
    EXPECT_EQ(box.defaultButton(), box.button(QMessageBox::No));
    EXPECT_EQ(ui::answerOf(QMessageBox::No, r.buttons), MessageAnswer::No);
    EXPECT_EQ(ui::answerOf(QMessageBox::Close, r.buttons), MessageAnswer::No);
    box.close();
}

TEST(QtUserInteraction, FiltersBecomeQtNameFilters) {
    EXPECT_EQ(ui::qtNameFilter("Config (*.cfg)|*.cfg|All files (*.*)|*.*||"),
              "Config (*.cfg);;All files (*.*)");
    EXPECT_EQ(ui::qtNameFilter("Logs|*.csv;*.txt||"), "Logs (*.csv *.txt)");
    EXPECT_EQ(ui::cancellingAnswer(MessageButtons::OkCancel), MessageAnswer::Cancel);
    EXPECT_EQ(ui::cancellingAnswer(MessageButtons::Ok), MessageAnswer::Ok);
}

}  // namespace
}  // namespace qv
