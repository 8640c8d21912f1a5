#include "ui/config_window.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/file_memory.h"
#include "ui/config_calibration_page.h"
#include "ui/config_general_page.h"
#include "ui/config_motor_page.h"

namespace qv::ui {

namespace {

using namespace config_window_id;

struct MenuItem {
    const char* menu;
    const char* text;
    int id;
};

constexpr MenuItem kMenu[] = {
    {"&File", "Load from PC", kLoadFromPc},
    {"&File", "Save to PC", kSaveToPc},
    {"&File", "Exit", kExit},
    {"&Transfer", "Load from QV", kLoadFromQv},
    {"&Transfer", "Save to QV", kSaveToQv},
};

constexpr int kTitleRefreshMs = 250;

// Commands before which the field being edited is checked (the focus moves to the window).
bool checksFocusedField(int id) {
    return id == kSaveToPc || id == kSaveToQv || id == kExit || id == kClose;
}

}  // namespace

ConfigWindow::ConfigWindow(CConfigDataBank& store, UserInteraction& ui,
                           std::unique_ptr<ConfigTabsHost> host, QWidget* parent)
    : QDialog(parent),
      host_(std::move(host)),
      logic_(std::make_unique<CConfigTabs>(store, ui, *host_)) {
    setObjectName("id107");
    setWindowTitle(CConfigTabs::kCaption);
    auto* layout = new QVBoxLayout(this);
    // Labels follow the device type: the window grows when a longer one needs the room.
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    auto* bar = new QMenuBar;
    buildMenu(bar);
    layout->setMenuBar(bar);

    tabs_ = new QTabWidget;
    tabs_->setObjectName(QString("id%1").arg(kTabControl));
    general_ = new ConfigGeneralPage(logic_->general());
    calibration_ = new ConfigCalibrationPage(logic_->calibration());
    motor_ = new ConfigMotorTabsPage(logic_->motor());
    tabs_->addTab(general_, CConfigTabs::kPageNames[0]);
    tabs_->addTab(calibration_, CConfigTabs::kPageNames[1]);
    tabs_->addTab(motor_, CConfigTabs::kPageNames[2]);
    layout->addWidget(tabs_);

    close_ = new QPushButton("Close");
    close_->setObjectName(QString("id%1").arg(kClose));
    // Enter does nothing in this window: no button is the default one.
    close_->setAutoDefault(false);
    connect(close_, &QPushButton::clicked, this, [this] { runCommand(kClose); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close_);
    layout->addLayout(buttons);

    // The title follows the user's edits and the transfers as they happen.
    titleTimer_ = new QTimer(this);
    titleTimer_->setInterval(kTitleRefreshMs);
    connect(titleTimer_, &QTimer::timeout, this, [this] { updateTitle(); });
}

void ConfigWindow::updateTitle() {
    const QString title = QString::fromStdString(logic_->title());
    if (windowTitle() != title) setWindowTitle(title);
}

ConfigWindow::~ConfigWindow() = default;

void ConfigWindow::buildMenu(QMenuBar* bar) {
    std::map<std::string, QMenu*> menus;
    for (const MenuItem& item : kMenu) {
        QMenu*& menu = menus[item.menu];
        if (!menu) menu = bar->addMenu(item.menu);
        if (item.id == kExit) addRecentFiles(menu);
        if (item.id == kExit) menu->addSeparator();
        QAction* a = menu->addAction(item.text);
        a->setObjectName(QString("id%1").arg(item.id));
        actions_[item.id] = a;
        const int id = item.id;
        connect(a, &QAction::triggered, this, [this, id] { runCommand(id); });
    }
    // Where desktop programs have them; the menu texts stay. The window holds the two actions
    // too, so that their keys work wherever the focus is in it.
    actions_[kLoadFromPc]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    actions_[kSaveToPc]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    addAction(actions_[kLoadFromPc]);
    addAction(actions_[kSaveToPc]);
}

// The most recent files, between "Save to PC" and "Exit"; filled each time the menu opens.
void ConfigWindow::addRecentFiles(QMenu* file) {
    recentSeparator_ = file->addSeparator();
    for (std::size_t i = 0; i < kRecentFileCount; ++i) {
        const int id = kRecentFile1 + static_cast<int>(i);
        QAction* a = file->addAction(QString());
        a->setObjectName(QString("id%1").arg(id));
        a->setVisible(false);
        actions_[id] = a;
        connect(a, &QAction::triggered, this, [this, id] { runCommand(id); });
    }
    file->setToolTipsVisible(true);
    connect(file, &QMenu::aboutToShow, this, [this] { showRecentFiles(); });
}

void ConfigWindow::showRecentFiles() {
    const std::vector<std::string> files = logic_->recentFiles();
    for (std::size_t i = 0; i < kRecentFileCount; ++i) {
        QAction* a = actions_[kRecentFile1 + static_cast<int>(i)];
        a->setVisible(i < files.size());
        if (i >= files.size()) continue;
        const QString path = QString::fromStdString(files[i]);
        a->setText(QString("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()));
        a->setToolTip(path);
    }
    recentSeparator_->setVisible(!files.empty());
}

QAction* ConfigWindow::action(int id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

ConfigPageWidget* ConfigWindow::page(int index) const {
    switch (index) {
        case 0:
            return general_;
        case 1:
            return calibration_;
        case 2:
            return motor_;
        default:
            return nullptr;
    }
}

void ConfigWindow::showPages() {
    for (int i = 0; i < CConfigTabs::kPageCount; ++i) page(i)->showPage();
}

void ConfigWindow::refresh() {
    if (logic_->refresh()) showPages();
    updateTitle();
}

void ConfigWindow::selectPage(int index) {
    if (page(index)) tabs_->setCurrentIndex(index);
}

void ConfigWindow::runCommand(int id) {
    if (checksFocusedField(id))
        for (int i = 0; i < CConfigTabs::kPageCount; ++i)
            if (!page(i)->checkFocusedField()) return;
    apply(logic_->onCommand(id));
}

void ConfigWindow::apply(const ConfigCommandResult& r) {
    if (r.refreshed) showPages();
    updateTitle();
    if (r.keepFocus) {
        selectPage(r.page);
        if (r.page == 2)
            motor_->focusRecordField(r.record, r.focusId);
        else if (ConfigPageWidget* p = page(r.page))
            p->focusField(r.focusId);
        return;
    }
    if (r.close) {
        setEnabled(false);
        hide();
    }
}

void ConfigWindow::reject() {
    runCommand(kClose);
}

void ConfigWindow::showEvent(QShowEvent* e) {
    const bool transfer = logic_->transferItemsEnabled();
    action(kLoadFromQv)->setEnabled(transfer);
    action(kSaveToQv)->setEnabled(transfer);
    showRecentFiles();
    updateTitle();
    titleTimer_->start();
    QDialog::showEvent(e);
}

void ConfigWindow::hideEvent(QHideEvent* e) {
    titleTimer_->stop();
    QDialog::hideEvent(e);
}

void ConfigWindow::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

}  // namespace qv::ui
