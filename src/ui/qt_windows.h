#pragma once
// The Qt side of the application object: the main window and tool windows behind the logic's
// window interfaces, and the factory that builds them. Later tools plug in with
// QtWindowFactory::setToolCreator.
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include "ui/main_window.h"
#include "ui/telem_window.h"

#include "app/qv_drv_ctrls_app.h"

namespace qv::ui {

// AppWindow calls on any top-level widget. A position is the outer corner, frame included.
// Before a window is first shown the window manager has given it no frame: moveWindow then
// keeps the position and showWindow hands it to the window system as the frame's corner.
void showWindow(QWidget& w);
ScreenPoint windowPosition(const QWidget& w);
void moveWindow(QWidget& w, ScreenPoint p);
// The size of the contents of a window the user can resize; nothing for a fixed-size window.
std::optional<WindowSize> resizableWindowSize(const QWidget& w);
void resizeWindow(QWidget& w, WindowSize size);

// A widget's place for CQVDrvCtrlsDlg::keepWindowPlace (not owning; keep it as long as the
// widget is kept).
class WidgetPlace : public Placeable {
  public:
    explicit WidgetPlace(QWidget* widget) : widget_(widget) {}
    ScreenPoint position() const override {
        return widget_ ? windowPosition(*widget_) : ScreenPoint{};
    }
    void moveTo(ScreenPoint p) override {
        if (widget_) moveWindow(*widget_, p);
    }
    std::optional<WindowSize> resizableSize() const override {
        return widget_ ? resizableWindowSize(*widget_) : std::nullopt;
    }
    void resizeTo(WindowSize size) override {
        if (widget_) resizeWindow(*widget_, size);
    }

  private:
    QPointer<QWidget> widget_;
};

// A tool window made of a widget (owned; deleted with this object unless Qt deleted it).
class QtToolWindow : public ToolWindow {
  public:
    QtToolWindow(QWidget* widget, bool available);
    ~QtToolWindow() override;

    void show() override { showWindow(*widget_); }
    void hide() override { widget_->hide(); }
    void setEnabled(bool enabled) override { widget_->setEnabled(enabled); }
    bool isVisible() const override { return widget_->isVisible(); }
    bool isEnabled() const override { return widget_->isEnabled(); }
    void raise() override {
        widget_->raise();
        widget_->activateWindow();
    }
    ScreenPoint position() const override { return windowPosition(*widget_); }
    void moveTo(ScreenPoint p) override { moveWindow(*widget_, p); }
    std::optional<WindowSize> resizableSize() const override {
        return resizableWindowSize(*widget_);
    }
    void resizeTo(WindowSize size) override { resizeWindow(*widget_, size); }
    bool available() const override { return available_; }

    QWidget* widget() const { return widget_.data(); }

  private:
    QPointer<QWidget> widget_;
    bool available_;
};

class QtMainSide : public MainWindowSide {
  public:
    QtMainSide();
    ~QtMainSide() override;

    // AppWindow
    void show() override;
    void hide() override;
    void setEnabled(bool enabled) override;
    bool isVisible() const override;
    bool isEnabled() const override;
    void raise() override;
    ScreenPoint position() const override;
    void moveTo(ScreenPoint p) override;
    std::optional<WindowSize> resizableSize() const override;
    void resizeTo(WindowSize size) override;
    // MainView
    void showDeviceList(const std::vector<std::string>& rows,
                        std::optional<std::size_t> selectedRow) override;
    void showPanel(const PanelChanges& changes, const TelemetryPanel& panel) override;
    void showTelemetryCells(const std::vector<int>& changedCells,
                            const TelemWindowModel& model) override;
    void showMenus(const MenuModel& menus) override;
    void showStatus(const StatusBarText& text) override;
    void endDialog() override;
    // TickTimer
    void start(int periodMs) override;
    void stop() override;
    bool isActive() const override;
    // MainWindowPoster (any thread)
    void postTransferDone(std::int32_t action, bool failed) override;
    void postCanTransfer(int bytes) override;
    // MainWindowSide
    WorkArea workArea() const override;
    void attach(CQVDrvCtrlsDlg* logic) override;
    void runModal() override;

    MainWindow* window() const { return window_.data(); }
    void setTelemetryWindow(CTelem* telem) { telem_ = telem; }
    CTelem* telemetryWindow() const { return telem_.data(); }

  private:
    QPointer<MainWindow> window_;
    QObject* postTarget_;  // the window, for posting from other threads
    QPointer<CTelem> telem_;
    CQVDrvCtrlsDlg* logic_ = nullptr;
};

class QtWindowFactory : public WindowFactory {
  public:
    using ToolCreator = std::function<std::unique_ptr<ToolWindow>(QWidget* owner)>;

    QtWindowFactory();
    // Replaces the window built for `tool` (default: the Telemetry window, shells for the rest).
    void setToolCreator(Tool tool, ToolCreator creator);

    std::unique_ptr<MainWindowSide> createMainWindow() override;
    std::unique_ptr<ToolWindow> createTool(Tool tool, MainWindowSide& owner) override;

  private:
    std::unique_ptr<ToolWindow> buildTool(Tool tool, MainWindowSide& owner);

    std::array<ToolCreator, kToolCount> creators_;
};

// The dialog template id of each tool window, as its objectName ("id107").
QString toolObjectName(Tool tool);

}  // namespace qv::ui
