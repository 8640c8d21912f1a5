#pragma once
// The main window's logic (CQVDrvCtrlsDlg without its widgets): dialog initialisation, the
// 200 ms tick, the menu commands, WM_TRANSFER_DONE, re-connect and shutdown. The widgets call
// the on...() handlers and show what comes back through MainView; everything runs on the GUI
// thread except the transfer worker, which reaches this class only through posted messages.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/dialog_interfaces.h"
#include "app/menu_model.h"
#include "app/status_bar.h"
#include "app/tool_windows.h"
#include "app/transfer_job.h"
#include "app/window_positions.h"
#include "config/config_file.h"
#include "link/can_udp_client.h"
#include "monitor/monitor.h"
#include "monitor/telemetry_log.h"

namespace qv {

class CBcan;
class CConfigDataBank;
class UserInteraction;

// Texts and captions of the main window's own messages.
inline constexpr const char* kAppCaption = "qvConfig";
inline constexpr const char* kNoCanPortText = "Could not open a CAN port";
inline constexpr const char* kTransferBusyText =
    "A configuration transfer is still running.\r\n\r\nWait for it to end and try again.";
inline constexpr const char* kTransferUnavailableText =
    "Configuration transfer is not available in this version yet.";
inline constexpr const char* kCsvFilter =
    "Comma-separated value Files (*.csv)|*.csv|All Files (*.*)|*.*||";
inline constexpr const char* kConfigFilter = "Config (*.cfg)|*.cfg|All files (*.*)|*.*||";
// "<caption> is not available in this version yet."
std::string toolUnavailableText(Tool tool);
// Tools > Reset Controller asks first, naming the device (deviceDescription()); default No.
MessageBoxRequest resetControllerQuestion(const std::string& device);

// Everything the logic works with; none of it is owned.
struct MainDialogParts {
    CBcan& port;
    CConfigDataBank& store;
    UserInteraction& ui;
    MainView& view;
    AppWindow& window;
    ToolWindowSet tools;
    TickTimer& timer;
    ConfigTransferService& transfer;
    MainWindowPoster& poster;
    DriveHooks& drive;
    const AppClock& clock;
    std::string settingsPath;  // the settings store's file (window positions)
    std::string logDirectory;  // where the logs go ("" the current directory)
};

class CQVDrvCtrlsDlg {
  public:
    static constexpr int kTickMs = 200;
    static constexpr int kPurgeTicks = 12;
    static constexpr int kSlowTicks = 6;
    // Longest the tick spends taking frames from the queue; the rest waits for the next tick.
    static constexpr int kDrainBudgetMs = 25;

    explicit CQVDrvCtrlsDlg(const MainDialogParts& parts);
    ~CQVDrvCtrlsDlg();
    CQVDrvCtrlsDlg(const CQVDrvCtrlsDlg&) = delete;
    CQVDrvCtrlsDlg& operator=(const CQVDrvCtrlsDlg&) = delete;

    // The bridge network the CAN port is opened on, for the status bar (before initDialog).
    void setBridgeSettings(const BridgeSettings& settings) { bridge_ = settings; }

    // Dialog initialisation: positions, the CAN port, the timer, the menus and the panel.
    void initDialog(const WorkArea& workArea);

    // Timer 1.
    void onTimer();
    // A menu command; `shift` tells whether Shift is held.
    void onCommand(int commandId, bool shift = false);
    // WM_TRANSFER_DONE and WM_CAN_TRANSFER.
    void onTransferDone(std::int32_t action, bool failed);
    void onCanTransfer(int bytes);
    // The list box's selection (nothing: no row selected).
    void onDeviceSelected(std::optional<std::size_t> row);
    // A click on a value cell of the panel.
    void onCellClicked(int cellId);
    // Escape or the close box of the Telemetry window.
    void onTelemetryCancel();
    // Enter: the OK handler does nothing.
    void onOk() {}
    // Escape, the close box and File > Exit.
    void onCancel();
    // Before the user's Escape, close box or File > Exit: when configuration changes were
    // neither written to a controller nor saved to a file, asks whether to quit all the same
    // (default: no). True when the shutdown may go on.
    bool confirmQuit();

    // A window outside the main window and its tools that keeps its place under `stem`
    // ("PlotDlg": see window_positions.h), opening at `defaultPosition` otherwise. Placed at once
    // when initDialog has run, else there; its place is saved at shutdown with the others.
    void keepWindowPlace(const std::string& stem, Placeable& window, ScreenPoint defaultPosition);
    // Saves the window's place now and stops keeping it (call before it is destroyed).
    void forgetWindowPlace(Placeable& window);

    void hideAllTools();
    void enableToolMenus(bool enabled);
    // The Configuration window's "Load from QV" and "Save to QV": runs `job` on the worker.
    // False when nothing started (the user was told why).
    bool startConfigurationJob(const TransferJob& job);
    // A commissioning tool's write-back: uploads the whole configuration and then runs the
    // tool's action (8, 6 or 4: the tool is selected again). False when nothing started.
    bool startToolUpload(std::int32_t action);
    // Other work for the transfer worker (the commissioning assistant's transfers), so that no
    // configuration transfer runs beside it. False when nothing started (the worker is busy).
    bool startWorkerTask(std::function<void()> task);

    // A window opened by the menu command `commandId` (Tools > Plot Telemetry..., Bus
    // Monitor...) and ticked while shown; not owned, registered before it can be opened.
    void addTickWindow(int commandId, TickWindow& window);
    // Stops ticking `window` (call before it is destroyed).
    void removeTickWindow(TickWindow& window);

    // State for the windows and tests.
    Monitor& monitor() { return monitor_; }
    const Monitor& monitor() const { return monitor_; }
    const MenuModel& menus() const { return menus_; }
    const TelemetryLog& telemetryLog() const { return log_; }
    const TransferJob& transferJob() const { return job_; }
    bool transferRunning() const { return worker_.busy(); }
    // Waits for the transfer worker (tests; shutdown does it itself).
    void joinTransfer() { worker_.join(); }
    int logPeriodTicks() const { return logPeriodTicks_; }
    int logCountdown() const { return logCountdown_; }
    int slowCountdown() const { return slowCountdown_; }
    int purgeCountdown() const { return purgeCountdown_; }
    bool shutDown() const { return shutDown_; }
    // The status bar's facts and lines as last shown.
    const StatusFacts& statusFacts() const { return statusFacts_; }
    const StatusBarText& statusText() const { return shownStatus_; }
    // Diagnostics: drains cut short by their budget, frames taken from the queue.
    std::uint64_t drainsCut() const { return drainsCut_; }
    std::uint64_t framesTaken() const { return framesTaken_; }
    std::uint64_t ticks() const { return ticks_; }
    // The longest tick so far and all ticks together, in ms (for the load benchmark).
    double longestTickMs() const { return longestTickMs_; }
    double totalTickMs() const { return totalTickMs_; }

  private:
    // Commands.
    void reconnect();
    void loadFactoryFile(bool shift);
    void openConfiguration(bool shift);
    void openToolNeedingConfig(Tool tool, std::int32_t mask, std::int32_t action);
    void openTelemetry();
    void resetController();
    void toggleLog(bool shift);
    void startLog(bool shift);
    void stopLog();
    void setLogPeriod(int commandId);

    // Shared steps.
    ConfigFileHooks fileLoadHooks();
    bool openPort();
    DriveContext driveContext() const;
    void drainQueue();
    void applyDeviceResult(const DeviceListResult& result);
    void openWindow(Tool tool, bool failed);
    void openControls(bool failed);
    void showTelemetryWindowState(bool shown);
    bool startTransfer(const TransferJob& job);
    void selectToolAfterUpload(int toolNumber);
    bool toolReady(Tool tool);
    bool transferReady();
    bool allStructuresValid() const;
    bool controlsVisible() const;
    bool toolAcquiring() const;
    void reportLogFailure(const std::string& text);
    void flushLogs();
    void syncView();
    // The status bar (main_dialog_status.cpp).
    void noteTraffic(std::uint64_t busFrames);
    void noteTransferStart(const TransferJob& job);
    void noteTransferEnd(bool failed);
    void syncStatus();
    void message(const std::string& text, const char* caption = kAppCaption);

    struct KeptPlace {
        std::string stem;
        Placeable* window;
        ScreenPoint defaultPosition;
    };
    void restorePlace(const KeptPlace& kept);
    static std::pair<std::string, WindowPlace> currentPlace(const KeptPlace& kept);

    MainDialogParts parts_;
    Monitor monitor_;
    std::vector<std::pair<int, TickWindow*>> tickWindows_;
    TelemetryLog log_;
    MenuModel menus_;
    TransferJob job_;
    TransferThread worker_;

    int logPeriodTicks_ = 1;
    int logCountdown_ = 1;
    int slowCountdown_ = kSlowTicks;
    int purgeCountdown_ = kPurgeTicks;
    unsigned shownMenuRevision_ = ~0u;
    bool draining_ = false;
    bool ticking_ = false;
    double drainDeadlineMs_ = 0;
    std::uint64_t drainsCut_ = 0;
    std::uint64_t framesTaken_ = 0;
    std::uint64_t ticks_ = 0;
    double longestTickMs_ = 0;
    double totalTickMs_ = 0;
    std::uint64_t connection_ = 0;  // successful opens of the CAN port
    bool shutDown_ = false;
    // The windows whose places are kept: the main window, the tools, registered windows.
    std::vector<KeptPlace> keptPlaces_;
    std::optional<WorkArea> workArea_;  // known from initDialog on

    // The status bar.
    BridgeSettings bridge_;
    StatusFacts statusFacts_;
    StatusBarText shownStatus_;
    bool statusShown_ = false;
    std::uint64_t statusFramesSeen_ = 0;
    std::tm lastTraffic_{};
    std::tm lastSelectedHeard_{};
    std::uint64_t trafficConnection_ = 0;
    std::pair<std::uint32_t, std::uint32_t> heardDevice_{};  // base and serial
    std::optional<TransferOutcome> runningTransfer_;  // the job on the worker: kind and device
};

}  // namespace qv
