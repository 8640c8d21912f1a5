#include "ui/about_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/caption_room.h"

namespace qv::ui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName("id100");
    setWindowTitle(kAboutCaption);
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(kAboutText);
    text->setAlignment(Qt::AlignCenter);
    text->setContentsMargins(24, 12, 24, 12);
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("idOK");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    makeRoomForCaption(*this, *layout);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace qv::ui
