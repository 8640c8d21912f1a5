#pragma once
// The main window "Quelvane CFG": menu bar, device list, telemetry panel and status line. It
// shows what the logic's models say and forwards the user's input to the logic.
#include <QEvent>
#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QEventLoop;
class QListWidget;
class QMenu;

namespace qv {
class CQVDrvCtrlsDlg;
class MenuModel;
struct StatusBarText;
class TelemetryPanel;
struct PanelChanges;
}  // namespace qv

namespace qv::ui {

class CColourStatic;
class StatusLines;

inline constexpr const char* kMainWindowCaption = "Quelvane CFG";

// WM_TRANSFER_DONE and WM_CAN_TRANSFER as posted Qt events.
class TransferDoneEvent : public QEvent {
  public:
    TransferDoneEvent(std::int32_t action, bool failed)
        : QEvent(type()), action(action), failed(failed) {}
    static QEvent::Type type();
    const std::int32_t action;
    const bool failed;
};

class CanTransferEvent : public QEvent {
  public:
    explicit CanTransferEvent(int bytes) : QEvent(type()), bytes(bytes) {}
    static QEvent::Type type();
    const int bytes;
};

class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void attach(CQVDrvCtrlsDlg* logic) { logic_ = logic; }
    // Runs before every shutdown (Escape, the close box, File > Exit, requestShutdown).
    void setBeforeShutdown(std::function<void()> hook) { beforeShutdown_ = std::move(hook); }
    // The normal shutdown path, as Escape takes it.
    void requestShutdown();
    CQVDrvCtrlsDlg* logic() const { return logic_; }

    void showDeviceList(const std::vector<std::string>& rows, std::optional<std::size_t> row);
    void showPanel(const PanelChanges& changes, const TelemetryPanel& panel);
    void showMenus(const MenuModel& menus);
    void showStatus(const StatusBarText& text);
    StatusLines* statusLines() const { return statusLines_; }
    // Shows the window and runs until endDialog().
    void runModal();
    void endDialog();

    QTimer& tickTimer() { return tick_; }
    CColourStatic* cell(int id) const;
    QAction* action(int commandId) const;
    QListWidget* deviceList() const { return devices_; }

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void buildMenus();
    QWidget* buildDeviceList();
    QWidget* buildPanel();
    QWidget* buildStatusLine();
    CColourStatic* makeCell(int id, int width, int height);
    void onMenuCommand(int commandId);
    void showAbout();

    CQVDrvCtrlsDlg* logic_ = nullptr;
    std::function<void()> beforeShutdown_;
    QTimer tick_;
    QEventLoop* modalLoop_ = nullptr;
    bool ended_ = false;
    QListWidget* devices_ = nullptr;
    std::map<int, CColourStatic*> cells_;
    std::map<int, CColourStatic*> captions_;
    std::map<int, QAction*> actions_;
    bool fillingList_ = false;
    StatusLines* statusLines_ = nullptr;
};

}  // namespace qv::ui
