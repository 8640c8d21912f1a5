#include "ui/qt_windows.h"

#include <QCoreApplication>
#include <QScreen>

#include "ui/main_window.h"
#include "ui/shell_tool_window.h"
#include "ui/telem_window.h"

namespace qv::ui {

void showWindow(QWidget& w) {
    w.show();
}

ScreenPoint windowPosition(const QWidget& w) {
    const QPoint p = w.frameGeometry().topLeft();
    return {p.x(), p.y()};
}

void moveWindow(QWidget& w, ScreenPoint p) {
    w.move(p.x, p.y);
}

QString toolObjectName(Tool tool) {
    // The assistant has no dialog template of its own.
    if (tool == Tool::Commissioning) return QStringLiteral("CommissionDlg");
    constexpr std::array<int, kToolCount - 1> kTemplates = {107, 104, 105, 106, 143, 119, 145};
    return QString("id%1").arg(kTemplates[static_cast<std::size_t>(tool)]);
}

// ---- tool windows ----

QtToolWindow::QtToolWindow(QWidget* widget, bool available)
    : widget_(widget), available_(available) {}

QtToolWindow::~QtToolWindow() {
    delete widget_.data();
}

// ---- main window ----

QtMainSide::QtMainSide() : window_(new MainWindow), postTarget_(window_.data()) {}

QtMainSide::~QtMainSide() {
    delete window_.data();
}

void QtMainSide::show() {
    window_->show();
}
void QtMainSide::hide() {
    window_->hide();
}
void QtMainSide::setEnabled(bool enabled) {
    window_->setEnabled(enabled);
}
bool QtMainSide::isVisible() const {
    return window_->isVisible();
}
bool QtMainSide::isEnabled() const {
    return window_->isEnabled();
}
void QtMainSide::raise() {
    window_->raise();
}
ScreenPoint QtMainSide::position() const {
    return windowPosition(*window_);
}
void QtMainSide::moveTo(ScreenPoint p) {
    moveWindow(*window_, p);
}

void QtMainSide::showDeviceList(const std::vector<std::string>& rows,
                                std::optional<std::size_t> selectedRow) {
    window_->showDeviceList(rows, selectedRow);
}
void QtMainSide::showPanel(const PanelChanges& changes, const TelemetryPanel& panel) {
    window_->showPanel(changes, panel);
}
void QtMainSide::showTelemetryCells(const std::vector<int>& changedCells,
                                    const TelemWindowModel& model) {
    if (telem_) telem_->showCells(changedCells, model);
}
void QtMainSide::showMenus(const MenuModel& menus) {
    window_->showMenus(menus);
}
void QtMainSide::endDialog() {
    window_->endDialog();
}

void QtMainSide::start(int periodMs) {
    window_->tickTimer().start(periodMs);
}
void QtMainSide::stop() {
    window_->tickTimer().stop();
}
bool QtMainSide::isActive() const {
    return window_->tickTimer().isActive();
}

// postEvent is thread-safe; events for a window already gone are dropped by Qt.
void QtMainSide::postTransferDone(std::int32_t action, bool failed) {
    QCoreApplication::postEvent(postTarget_, new TransferDoneEvent(action, failed));
}
void QtMainSide::postCanTransfer(int bytes) {
    QCoreApplication::postEvent(postTarget_, new CanTransferEvent(bytes));
}

WorkArea QtMainSide::workArea() const {
    const QScreen* screen = window_->screen();
    if (!screen) return {0, 0, 1024, 768};
    const QRect r = screen->availableGeometry();
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

void QtMainSide::attach(CQVDrvCtrlsDlg* logic) {
    logic_ = logic;
    window_->attach(logic);
    if (telem_) telem_->attach(logic);
}

void QtMainSide::runModal() {
    window_->runModal();
}

// ---- factory ----

QtWindowFactory::QtWindowFactory() = default;

void QtWindowFactory::setToolCreator(Tool tool, ToolCreator creator) {
    creators_[static_cast<std::size_t>(tool)] = std::move(creator);
}

std::unique_ptr<MainWindowSide> QtWindowFactory::createMainWindow() {
    return std::make_unique<QtMainSide>();
}

std::unique_ptr<ToolWindow> QtWindowFactory::createTool(Tool tool, MainWindowSide& owner) {
    auto& main = static_cast<QtMainSide&>(owner);
    QWidget* parent = main.window();
    if (const ToolCreator& create = creators_[static_cast<std::size_t>(tool)])
        return create(parent);
    if (tool == Tool::Telemetry) {
        auto* telem = new CTelem(parent);
        main.setTelemetryWindow(telem);
        return std::make_unique<QtToolWindow>(telem, true);
    }
    return std::make_unique<QtToolWindow>(
        new ShellToolWindow(toolCaption(tool), toolObjectName(tool), parent), false);
}

}  // namespace qv::ui
