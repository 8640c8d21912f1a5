#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/main_dialog.h"
#include "app/menu_model.h"
#include "monitor/device_list.h"
#include "monitor/telemetry_panel.h"
#include "ui/about_dialog.h"
#include "ui/colour_static.h"
#include "ui/error_log_windows.h"
#include "ui/panel_layout.h"
#include "ui/qt_windows.h"
#include "ui/status_lines.h"

namespace qv::ui {

QEvent::Type TransferDoneEvent::type() {
    static const auto t = static_cast<QEvent::Type>(QEvent::registerEventType());
    return t;
}

QEvent::Type CanTransferEvent::type() {
    static const auto t = static_cast<QEvent::Type>(QEvent::registerEventType());
    return t;
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(kMainWindowCaption);
    setObjectName("id102");
    tick_.setTimerType(Qt::PreciseTimer);
    connect(&tick_, &QTimer::timeout, this, [this] {
        if (logic_) logic_->onTimer();
    });
    buildMenus();

    auto* central = new QWidget(this);
    auto* outer = new QVBoxLayout(central);
    auto* columns = new QHBoxLayout;
    columns->addWidget(buildDeviceList());
    columns->addWidget(buildPanel(), 0, Qt::AlignTop);
    outer->addLayout(columns);
    outer->addWidget(buildStatusLine());
    outer->setSizeConstraint(QLayout::SetFixedSize);
    setCentralWidget(central);
    statusLines_ = new StatusLines;
    statusBar()->addWidget(statusLines_, 1);
    statusBar()->setSizeGripEnabled(false);
}

MainWindow::~MainWindow() = default;

// ---- menus ----

void MainWindow::buildMenus() {
    QMenu* menu = nullptr;
    QMenu* submenu = nullptr;
    for (const MenuEntry& e : mainMenuLayout()) {
        if (e.level == 0) {
            menu = menuBar()->addMenu(QString::fromUtf8(e.text));
            submenu = nullptr;
            continue;
        }
        if (e.id == 0) {
            submenu = menu->addMenu(QString::fromUtf8(e.text));
            continue;
        }
        if (e.id == kCmdExit) menu->addSeparator();
        QMenu* target = e.level == 2 ? submenu : menu;
        QAction* a = target->addAction(QString::fromUtf8(e.text));
        a->setObjectName(QString("id%1").arg(e.id));
        const bool checkable = logPeriodTicksOf(e.id) != 0;
        a->setCheckable(checkable);
        actions_[e.id] = a;
        const int id = e.id;
        connect(a, &QAction::triggered, this, [this, id] { onMenuCommand(id); });
    }
    actions_[kCmdAbout]->setShortcut(QKeySequence(Qt::Key_F1));
}

QAction* MainWindow::action(int commandId) const {
    const auto it = actions_.find(commandId);
    return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::requestShutdown() {
    if (ended_) return;
    if (beforeShutdown_) beforeShutdown_();
    if (logic_) logic_->onCancel();
}

void MainWindow::onMenuCommand(int id) {
    if (id == kCmdAbout) {
        showAbout();
        return;
    }
    if (id == kCmdExit) {
        if (logic_ && !logic_->confirmQuit()) return;
        requestShutdown();
        return;
    }
    // The ELog items stay greyed: only a path that enables them reaches these windows.
    if (id == kCmdViewLog) {
        runErrorLogReview(this);
        return;
    }
    if (id == kCmdEraseLog) {
        runErrorLogErase(this);
        return;
    }
    const bool shift = QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier;
    if (logPeriodTicksOf(id) != 0 && logic_)  // the logic owns the check marks
        actions_[id]->setChecked(logic_->menus().item(id).checked);
    if (logic_) logic_->onCommand(id, shift);
}

void MainWindow::showAbout() {
    CAboutDlg about(this);
    about.exec();
}

void MainWindow::showMenus(const MenuModel& menus) {
    for (const auto& [id, a] : actions_) {
        const MenuItemState& s = menus.item(id);
        a->setEnabled(s.enabled);
        if (a->isCheckable()) a->setChecked(s.checked);
        const QString text = QString::fromUtf8(s.text.c_str());
        if (a->text() != text) a->setText(text);
    }
}

// ---- device list ----

QWidget* MainWindow::buildDeviceList() {
    auto* box = new QGroupBox("Devices");
    auto* layout = new QVBoxLayout(box);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSize(8);
    auto* heading = new QLabel(kDeviceListHeading);
    heading->setFont(mono);
    devices_ = new QListWidget;
    devices_->setObjectName("id1159");
    devices_->setFont(mono);
    devices_->setSelectionMode(QAbstractItemView::SingleSelection);
    devices_->setUniformItemSizes(true);
    const QFontMetrics fm(mono);
    const int width =
        fm.horizontalAdvance(QString(kDeviceListHeading) + "  ") + devices_->frameWidth() * 2 + 20;
    devices_->setFixedWidth(width);
    heading->setFixedWidth(width);
    devices_->setMinimumHeight(fm.height() * 12);
    connect(devices_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (fillingList_ || !logic_) return;
        logic_->onDeviceSelected(
            row < 0 ? std::nullopt : std::optional<std::size_t>(static_cast<std::size_t>(row)));
    });
    layout->addWidget(heading);
    layout->addWidget(devices_, 1);
    return box;
}

void MainWindow::showDeviceList(const std::vector<std::string>& rows,
                                std::optional<std::size_t> row) {
    fillingList_ = true;
    const int count = static_cast<int>(rows.size());
    while (devices_->count() > count) delete devices_->takeItem(devices_->count() - 1);
    for (int i = 0; i < count; ++i) {
        const QString text = QString::fromStdString(rows[static_cast<std::size_t>(i)]);
        if (i < devices_->count()) {
            if (devices_->item(i)->text() != text) devices_->item(i)->setText(text);
        } else {
            devices_->addItem(text);
        }
    }
    if (row && static_cast<int>(*row) < count)
        devices_->setCurrentRow(static_cast<int>(*row));
    else
        devices_->setCurrentRow(-1);
    fillingList_ = false;
}

// ---- telemetry panel ----

CColourStatic* MainWindow::makeCell(int id, int width, int height) {
    auto* c = new CColourStatic;
    c->setObjectName(QString("id%1").arg(id));
    c->setFixedSize(width, height);
    c->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(c, &CColourStatic::clicked, this, [this, id] {
        if (logic_) logic_->onCellClicked(id);
    });
    cells_[id] = c;
    return c;
}

QWidget* MainWindow::buildPanel() {
    auto* box = new QGroupBox("Telemetry");
    auto* grid = new QGridLayout(box);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(3);
    const PanelMetrics m = panelMetrics(fontMetrics());
    int line = 0;
    for (const PanelRow& r : panelRows()) {
        if (const char* section = sectionBefore(r)) {
            auto* title = new QLabel(QString("<b>%1</b>").arg(section));
            title->setContentsMargins(0, line == 0 ? 0 : 6, 0, 0);
            grid->addWidget(title, line++, 0, 1, 3);
        }
        auto* caption = new CColourStatic(nullptr, CColourStatic::Look::Caption);
        caption->setFixedSize(m.captionWidth, m.rowHeight);
        caption->setText(QString::fromUtf8(r.fixedCaption));
        if (r.captionId != 0) {
            caption->setObjectName(QString("id%1").arg(r.captionId));
            captions_[r.captionId] = caption;
        }
        grid->addWidget(caption, line, 0);
        if (isTextCell(r.leftCell)) {
            const int lines = r.leftCell == 1177 ? 1 : 2;
            CColourStatic* c = makeCell(r.leftCell, m.valueWidth * 2 + 6, m.rowHeight * lines);
            c->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            c->setWordWrap(lines > 1);
            grid->addWidget(c, line, 1, 1, 2);
        } else {
            grid->addWidget(makeCell(r.leftCell, m.valueWidth, m.rowHeight), line, 1);
            if (r.rightCell != 0)
                grid->addWidget(makeCell(r.rightCell, m.valueWidth, m.rowHeight), line, 2);
        }
        if (const int hidden = hiddenCellBeside(r)) {
            CColourStatic* c = makeCell(hidden, m.valueWidth, m.rowHeight);
            c->hide();
            grid->addWidget(c, line, 3);
        }
        ++line;
    }
    return box;
}

QWidget* MainWindow::buildStatusLine() {
    auto* line = new QWidget;
    auto* layout = new QHBoxLayout(line);
    layout->setContentsMargins(4, 0, 4, 0);
    const int h = fontMetrics().height() + 6;
    auto* text = new CColourStatic(nullptr, CColourStatic::Look::Caption);
    text->setObjectName(QString("id%1").arg(kStatusLineCell));
    text->setFixedSize(fontMetrics().horizontalAdvance("CAN BUS loading is 100.00%") + 16, h);
    cells_[kStatusLineCell] = text;
    auto* box = new CColourStatic;
    box->setObjectName(QString("id%1").arg(kStatusBoxCell));
    box->setFixedSize(h * 2, h);
    box->setColours(kBlack, kBlack);
    cells_[kStatusBoxCell] = box;
    layout->addWidget(text);
    layout->addWidget(box);
    layout->addStretch(1);
    return line;
}

CColourStatic* MainWindow::cell(int id) const {
    if (const auto it = cells_.find(id); it != cells_.end()) return it->second;
    if (const auto it = captions_.find(id); it != captions_.end()) return it->second;
    return nullptr;
}

void MainWindow::showPanel(const PanelChanges& changes, const TelemetryPanel& panel) {
    for (const int id : changes.cells)
        if (CColourStatic* c = cell(id)) c->apply(panel.cell(id));
    for (const int id : changes.captions)
        if (const auto it = captions_.find(id); it != captions_.end())
            it->second->setText(QString::fromUtf8(panel.caption(id).c_str()));
}

void MainWindow::showStatus(const StatusBarText& text) {
    statusLines_->show(text);
}

// ---- events ----

bool MainWindow::event(QEvent* e) {
    if (e->type() == TransferDoneEvent::type()) {
        const auto* done = static_cast<TransferDoneEvent*>(e);
        if (logic_) logic_->onTransferDone(done->action, done->failed);
        return true;
    }
    if (e->type() == CanTransferEvent::type()) {
        if (logic_) logic_->onCanTransfer(static_cast<CanTransferEvent*>(e)->bytes);
        return true;
    }
    return QMainWindow::event(e);
}

void MainWindow::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        e->accept();
        if (logic_ && !logic_->confirmQuit()) return;
        requestShutdown();
        return;
    }
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        if (logic_) logic_->onOk();
        e->accept();
        return;
    }
    QMainWindow::keyPressEvent(e);
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (ended_ || !logic_) {
        e->accept();
        return;
    }
    e->ignore();
    if (!logic_->confirmQuit()) return;
    requestShutdown();  // ends the dialog, which closes the window
}

void MainWindow::runModal() {
    showWindow(*this);
    if (ended_) return;
    QEventLoop loop;
    modalLoop_ = &loop;
    loop.exec();
    modalLoop_ = nullptr;
}

void MainWindow::endDialog() {
    ended_ = true;
    tick_.stop();
    close();
    if (modalLoop_) modalLoop_->quit();
}

}  // namespace qv::ui
