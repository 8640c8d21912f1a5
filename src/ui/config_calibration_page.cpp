#include "ui/config_calibration_page.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace qv::ui {

namespace {

// The edit shows LF line ends; the report is written and read with CR LF.
QString shown(const std::string& report) {
    QString s = QString::fromUtf8(report.c_str());
    s.replace("\r\n", "\n");
    return s;
}

std::string reportText(const QString& text) {
    QString s = text;
    s.replace("\n", "\r\n");
    return s.toStdString();
}

}  // namespace

ConfigCalibrationPage::ConfigCalibrationPage(CConfigCal& page, QWidget* parent)
    : ConfigPageWidget(parent), page_(page) {
    setObjectName("id109");
    auto* layout = new QVBoxLayout(this);
    edit_ = named(new QPlainTextEdit, CConfigCal::kEditId);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSize(8);
    edit_->setFont(mono);
    edit_->setLineWrapMode(QPlainTextEdit::NoWrap);
    edit_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab leaves the report rather than typing a tab into it.
    edit_->setTabChangesFocus(true);
    layout->addWidget(edit_);
    connect(edit_, &QPlainTextEdit::textChanged, this, [this] {
        if (!filling_ && !page_.editText(reportText(edit_->toPlainText()))) showPage();
    });
}

void ConfigCalibrationPage::showPage() {
    const Filling filling(filling_);
    const QString text = shown(page_.text());
    if (edit_->toPlainText() != text) edit_->setPlainText(text);
}

}  // namespace qv::ui
