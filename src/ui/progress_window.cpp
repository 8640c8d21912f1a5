#include "ui/progress_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace qv::ui {

ProgressWindow::ProgressWindow(CConfigProg& model, std::function<void()> cancel, QWidget* parent)
    : QDialog(parent), model_(model), cancelTransfer_(std::move(cancel)) {
    setObjectName("id145");
    setWindowTitle(CConfigProg::kTitle);
    auto* layout = new QVBoxLayout(this);
    stage_ = new QLabel;
    stage_->setObjectName("stage");
    bar_ = new QProgressBar;
    bar_->setObjectName(QString("id%1").arg(CConfigProg::kProgressBarId));
    bar_->setRange(0, 1);
    bar_->setValue(0);
    bar_->setMinimumWidth(fontMetrics().horizontalAdvance(QString(44, 'x')));
    cancel_ = new QPushButton("Cancel");
    cancel_->setObjectName(QString("id%1").arg(CConfigProg::kCancelButtonId));
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (cancelTransfer_) cancelTransfer_();
    });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    layout->addWidget(stage_);
    layout->addWidget(bar_);
    layout->addLayout(buttons);
    // Each change is shown as it was made, in order, on the GUI thread.
    model_.setChangeListener([this] {
        const ConfigProgressState s = model_.state();
        QMetaObject::invokeMethod(
            this, [this, s] { apply(s); }, Qt::QueuedConnection);
    });
}

ProgressWindow::~ProgressWindow() {
    model_.setChangeListener({});
}

void ProgressWindow::apply(const ConfigProgressState& s) {
    const QString caption = QString::fromStdString(s.caption);
    if (!caption.isEmpty() && stage_->text() != caption) {
        stage_->setText(caption);
        setWindowTitle(caption);
        shown_ << caption;
    }
    bar_->setRange(0, s.range > 0 ? static_cast<int>(s.range) : 1);
    bar_->setValue(static_cast<int>(s.position));
    cancel_->setEnabled(s.cancelEnabled);
    QDialog::setEnabled(s.enabled);
    if (s.visible && !isVisible()) {
        show();
        raise();
    } else if (!s.visible && isVisible()) {
        hide();
    }
}

void ProgressWindow::closeEvent(QCloseEvent* e) {
    e->ignore();
    if (cancel_->isEnabled() && cancelTransfer_) cancelTransfer_();
}

ProgressToolWindow::ProgressToolWindow(ProgressWindow* window, CConfigProg& model)
    : QtToolWindow(window, true), model_(model) {}

void ProgressToolWindow::hide() {
    if (!model_.isEnabled()) QtToolWindow::hide();
}

void ProgressToolWindow::setEnabled(bool enabled) {
    if (enabled || !model_.isEnabled()) QtToolWindow::setEnabled(enabled);
}

}  // namespace qv::ui
