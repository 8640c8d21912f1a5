#include "ui/error_log_windows.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/main_dialog.h"
#include "ui/qt_user_interaction.h"

namespace qv::ui {

namespace {

// Dialog units of the window's font in pixels: a quarter of the average character width
// across, an eighth of the character height down.
QSize dialogUnits(const QWidget& w, int x, int y) {
    const QFontMetrics fm = w.fontMetrics();
    const QString letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const double baseX = fm.horizontalAdvance(letters) / 52.0;
    const int baseY = fm.height();
    return {static_cast<int>(x * baseX / 4 + 0.5), y * baseY / 8};
}

// Whether every character of the list draws equally wide: what a fixed-pitch font means.
bool hasEqualAdvances(const QFont& font) {
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(QLatin1Char('M'));
    for (QChar c : QStringLiteral("il.:W0 #_"))
        if (fm.horizontalAdvance(c) != width) return false;
    return true;
}

// `family` at `points` when it resolves to a font of equal advances, else the system's
// fixed-pitch font at that size.
QFont fixedPitchFont(const char* family, int points) {
    QFont font(family, points);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    if (hasEqualAdvances(font)) return font;
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(points);
    return font;
}

QPushButton* button(const char* caption, int id) {
    auto* b = new QPushButton(caption);
    b->setObjectName(QString("id%1").arg(id));
    return b;
}

}  // namespace

// ---- Error Log Review ----

ErrorLogReviewDialog::ErrorLogReviewDialog(UserInteraction& ui, QWidget* parent)
    : QDialog(parent), model_(ui, kAppCaption) {
    setObjectName("id118");
    setWindowTitle(kErrorLogReviewTitle);

    lines_ = new QListWidget;
    lines_->setObjectName("id1162");
    lines_->setFont(fixedPitchFont(kErrorLogListFont, kErrorLogListFontPoints));

    count_ = new QLineEdit(QString::fromStdString(model_.countText()));
    count_->setObjectName("id1163");
    count_->setMaximumWidth(fontMetrics().horizontalAdvance("0000000000") + 12);
    QPushButton* go = button("GO", 1024);
    go->setAutoDefault(false);
    connect(go, &QPushButton::clicked, this, [this] { model_.go(); });
    QPushButton* ok = button("OK", 1);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &ErrorLogReviewDialog::accept);

    auto* request = new QHBoxLayout;
    request->addWidget(new QLabel("Get last"));
    request->addWidget(count_);
    request->addWidget(new QLabel("errors"));
    request->addWidget(go);
    request->addStretch(1);
    request->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lines_, 1);
    layout->addLayout(request);
    setTabOrder(count_, go);
    setTabOrder(go, ok);
    setTabOrder(ok, lines_);
    resize(dialogUnits(*this, 439, 266));
    count_->setFocus();
}

void ErrorLogReviewDialog::accept() {
    model_.setCountText(count_->text().toStdString());
    if (model_.ok()) {
        QDialog::accept();
        return;
    }
    count_->setFocus();
    count_->selectAll();
}

// ---- Error Log Erase ----

ErrorLogEraseDialog::ErrorLogEraseDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("id117");
    setWindowTitle(kErrorLogEraseTitle);

    auto* finished = new QLabel("Finished");
    finished->setObjectName("id1161");
    finished->setVisible(model_.finishedVisible());
    auto* progress = new QProgressBar;
    progress->setObjectName("id1160");
    progress->setRange(CelogErase::kProgressMinimum, CelogErase::kProgressMaximum);
    progress->setValue(model_.progress());
    progress->setTextVisible(false);

    QPushButton* erase = button("Erase", 1024);
    erase->setAutoDefault(false);
    connect(erase, &QPushButton::clicked, this, [this] { model_.erase(); });
    QPushButton* ok = button("OK", 1);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    QPushButton* cancel = button("Cancel", 2);
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(erase);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(progress);
    layout->addWidget(finished);
    layout->addStretch(1);
    layout->addLayout(buttons);
    setTabOrder(erase, ok);
    setTabOrder(ok, cancel);
    const QSize size = dialogUnits(*this, 136, 72);
    resize(size.expandedTo(sizeHint()));
}

// ---- menu handlers ----

void runErrorLogReview(QWidget* owner) {
    QtUserInteraction prompts(owner);
    ErrorLogReviewDialog dialog(prompts, owner);
    prompts.setOwner(&dialog);
    dialog.exec();
}

void runErrorLogErase(QWidget* owner) {
    ErrorLogEraseDialog dialog(owner);
    dialog.exec();
}

}  // namespace qv::ui
