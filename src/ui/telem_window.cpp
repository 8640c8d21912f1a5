#include "ui/telem_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <algorithm>

#include "app/main_dialog.h"
#include "monitor/telem_window.h"
#include "ui/colour_static.h"

namespace qv::ui {

namespace {

// Grid places: row pairs (caption above cell) and columns; the name lists span two columns
// and wrap onto two lines.
struct Place {
    int id;
    int row;
    int column;
    int span;
};
constexpr Place kPlaces[] = {
    {1183, 0, 0, 2}, {1184, 0, 2, 2},                                    // Error, Limit
    {1182, 1, 0, 1}, {1185, 1, 1, 1}, {1186, 1, 2, 1}, {1187, 1, 3, 1},  // Prech .. Bus Curr
    {1188, 2, 0, 1}, {1189, 2, 1, 1}, {1190, 2, 2, 1}, {1191, 2, 3, 1},  // Bus Power .. Cell Max
    {1192, 3, 0, 1}, {1193, 3, 1, 1}, {1194, 3, 2, 1}, {1195, 3, 3, 1},  // Speed .. Energy
};

}  // namespace

CTelem::CTelem(QWidget* parent) : QDialog(parent) {
    setObjectName("id119");
    setWindowTitle("Telemetry");
    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(2);
    const QFontMetrics fm = fontMetrics();
    const int width =
        std::max({fm.horizontalAdvance("-88888 Whr/km"), fm.horizontalAdvance("888: -8.888 V"),
                  fm.horizontalAdvance("-8888.88 A")}) +
        14;
    const int height = fm.height() + 6;
    for (const Place& p : kPlaces) {
        const char* caption = "";
        for (const TelemCellInfo& info : telemCells())
            if (info.id == p.id) caption = info.caption;
        auto* title = new QLabel(caption);
        grid->addWidget(title, p.row * 2, p.column, 1, p.span);
        auto* c = new CColourStatic;
        c->setObjectName(QString("id%1").arg(p.id));
        const bool names = p.span > 1;
        c->setFixedSize(width * p.span + 8 * (p.span - 1), height * (names ? 2 : 1));
        c->setWordWrap(names);
        c->setAlignment(names ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
        c->setText("-");
        cells_[p.id] = c;
        grid->addWidget(c, p.row * 2 + 1, p.column, 1, p.span);
    }
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

CColourStatic* CTelem::cell(int id) const {
    const auto it = cells_.find(id);
    return it == cells_.end() ? nullptr : it->second;
}

void CTelem::showCells(const std::vector<int>& changed, const TelemWindowModel& model) {
    for (const int id : changed)
        if (CColourStatic* c = cell(id)) c->apply(model.cell(id));
}

void CTelem::reject() {
    if (logic_)
        logic_->onTelemetryCancel();
    else
        hide();
}

void CTelem::closeEvent(QCloseEvent* event) {
    event->ignore();
    reject();
}

void CTelem::keyPressEvent(QKeyEvent* event) {
    // Enter closes nothing here either.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace qv::ui
