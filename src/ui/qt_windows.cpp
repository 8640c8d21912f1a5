#include "ui/qt_windows.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLayout>
#include <QScreen>
#include <QWindow>

#include "ui/app_icon.h"
#include "ui/main_window.h"
#include "ui/shell_tool_window.h"
#include "ui/telem_window.h"

namespace qv::ui {

namespace {

// The outer corner a window not shown yet is to take when it is shown.
constexpr const char* kPendingFramePosition = "qvPendingFramePosition";

// Puts a window's frame at its corner once the window manager has framed it (the window is
// exposed with its frame known), and then goes. Asked for the frame's corner as it is shown,
// some window managers still put the contents there and the frame above them.
class FramePlacer : public QObject {
  public:
    static constexpr const char* kName = "qvFramePlacer";

    FramePlacer(QWidget& window, QPoint corner)
        : QObject(&window), window_(window), corner_(corner) {
        setObjectName(kName);
    }
    // Forgets a place not yet taken (the window is being moved elsewhere).
    static void cancel(QWidget& window) {
        for (QObject* placer : window.findChildren<QObject*>(kName, Qt::FindDirectChildrenOnly))
            delete placer;
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Expose || !window_.isVisible()) return false;
        const QRect frame = window_.frameGeometry();
        if (frame == window_.geometry()) return false;          // no frame yet (or none at all)
        if (frame.topLeft() != corner_) window_.move(corner_);  // a framed window's corner
        watched->removeEventFilter(this);
        deleteLater();
        return false;
    }

  private:
    QWidget& window_;
    QPoint corner_;
};

}  // namespace

void showWindow(QWidget& w) {
    w.show();
    const QVariant pending = w.property(kPendingFramePosition);
    QWindow* handle = w.windowHandle();
    if (!pending.isValid() || !handle) return;
    w.setProperty(kPendingFramePosition, QVariant());
    const QPoint corner = pending.toPoint();
    handle->setFramePosition(corner);
    handle->installEventFilter(new FramePlacer(w, corner));
}

ScreenPoint windowPosition(const QWidget& w) {
    const QPoint p = w.frameGeometry().topLeft();
    return {p.x(), p.y()};
}

void moveWindow(QWidget& w, ScreenPoint p) {
    const QPoint corner(p.x, p.y);
    // A shown window's frame is known: move() places its corner. One not shown yet is put
    // there for now (where it stays without a frame) and framed there when shown.
    FramePlacer::cancel(w);
    w.move(corner);
    if (w.isVisible())
        w.setProperty(kPendingFramePosition, QVariant());
    else
        w.setProperty(kPendingFramePosition, corner);
}

std::optional<WindowSize> resizableWindowSize(const QWidget& w) {
    if (const QLayout* layout = w.layout();
        layout && layout->sizeConstraint() == QLayout::SetFixedSize)
        return std::nullopt;
    if (w.minimumSize() == w.maximumSize()) return std::nullopt;
    return WindowSize{w.width(), w.height()};
}

void resizeWindow(QWidget& w, WindowSize size) {
    w.resize(size.width, size.height);
}

QString toolObjectName(Tool tool) {
    constexpr std::array<int, kToolCount> kTemplates = {107, 104, 105, 106, 143, 119, 145};
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
    showWindow(*window_);
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
std::optional<WindowSize> QtMainSide::resizableSize() const {
    return resizableWindowSize(*window_);
}
void QtMainSide::resizeTo(WindowSize size) {
    resizeWindow(*window_, size);
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
void QtMainSide::showStatus(const StatusBarText& text) {
    window_->showStatus(text);
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
    auto side = std::make_unique<QtMainSide>();
    setApplicationIcon(*side->window());
    return side;
}

// Every window carries the program's icon.
std::unique_ptr<ToolWindow> QtWindowFactory::createTool(Tool tool, MainWindowSide& owner) {
    std::unique_ptr<ToolWindow> window = buildTool(tool, owner);
    if (const auto* qt = dynamic_cast<QtToolWindow*>(window.get()); qt && qt->widget())
        setApplicationIcon(*qt->widget());
    return window;
}

std::unique_ptr<ToolWindow> QtWindowFactory::buildTool(Tool tool, MainWindowSide& owner) {
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
