#pragma once
// The ELog menu's two modal windows: "Error Log Review" (CelogRead) and "Error Log Erase"
// (CelogErase). They show their models and forward the buttons; GO and Erase do nothing and
// neither window touches the CAN port.
#include <QDialog>

#include "drive/error_log.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;

namespace qv {
class UserInteraction;
}

namespace qv::ui {

class ErrorLogReviewDialog : public QDialog {
    Q_OBJECT

  public:
    // The validation prompts go to `ui` with the application's title as caption.
    ErrorLogReviewDialog(UserInteraction& ui, QWidget* parent = nullptr);

    const CelogRead& model() const { return model_; }

  public slots:
    void accept() override;  // OK: the count is taken, or the window stays open

  private:
    CelogRead model_;
    QLineEdit* count_ = nullptr;
    QListWidget* lines_ = nullptr;
};

class ErrorLogEraseDialog : public QDialog {
    Q_OBJECT

  public:
    explicit ErrorLogEraseDialog(QWidget* parent = nullptr);

  private:
    CelogErase model_;
};

// The menu handlers: construct, run modally, destroy.
void runErrorLogReview(QWidget* owner);
void runErrorLogErase(QWidget* owner);

}  // namespace qv::ui
