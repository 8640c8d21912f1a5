#include "ui/motor_selector_dialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace qv::ui {

MotorSelectorDialog::MotorSelectorDialog(const CConfigDataBank& store, int* result, QWidget* parent)
    : QDialog(parent), logic_(store, result) {
    setObjectName("id114");
    setWindowTitle(CMotorSelector::kCaption);
    auto* layout = new QVBoxLayout(this);
    auto* prompt = new QLabel(CMotorSelector::kPrompt);
    list_ = new QListWidget;
    list_->setObjectName(QString("id%1").arg(CMotorSelector::kListId));
    prompt->setBuddy(list_);
    // The index is padded to three characters: a fixed-pitch font lines the descriptions up.
    list_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    for (const std::string& line : logic_.lines()) list_->addItem(QString::fromStdString(line));
    const QFontMetrics fm(list_->font());
    list_->setMinimumSize(fm.horizontalAdvance(QString(28, 'M')),
                          fm.height() * 10 + list_->frameWidth() * 2 + 8);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("id1");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("id2");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    layout->addWidget(prompt);
    layout->addWidget(list_);
    layout->addWidget(buttons);
}

void MotorSelectorDialog::accept() {
    // The selected line, not merely the one the keyboard focus rests on.
    const QList<QListWidgetItem*> selected = list_->selectedItems();
    logic_.select(selected.isEmpty() ? std::nullopt
                                     : std::optional<std::size_t>(
                                           static_cast<std::size_t>(list_->row(selected[0]))));
    logic_.ok();
    QDialog::accept();
}

void MotorSelectorDialog::reject() {
    logic_.cancel();
    QDialog::reject();
}

int runMotorSelector(QWidget* parent, const CConfigDataBank& store) {
    int chosen = -1;
    MotorSelectorDialog dialog(store, &chosen, parent);
    dialog.exec();
    return chosen;
}

}  // namespace qv::ui
