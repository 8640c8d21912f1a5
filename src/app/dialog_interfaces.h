#pragma once
// What the main window's logic needs from its surroundings besides the CAN port and the
// configuration store: its timer, the clock, the widgets that show its models, and the drive
// controls that plug into the tick.
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "drive/drive_command.h"

namespace qv {

class MenuModel;
class TelemetryPanel;
class TelemWindowModel;
struct PanelChanges;
struct StatusBarText;

// The main window's one timer (timer 1).
class TickTimer {
  public:
    virtual ~TickTimer() = default;
    virtual void start(int periodMs) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

class AppClock {
  public:
    virtual ~AppClock() = default;
    // Milliseconds of a steady clock (for flush periods).
    virtual double nowMs() const = 0;
    // The local date and time (file names, log rows).
    virtual std::tm localTime() const = 0;
};

class SystemClock final : public AppClock {
  public:
    double nowMs() const override;
    std::tm localTime() const override;
};

// The widgets of the main window and of the Telemetry window. Each call hands over only what
// changed since the previous one.
class MainView {
  public:
    virtual ~MainView() = default;
    // The list box rows (in list order) and the selected row.
    virtual void showDeviceList(const std::vector<std::string>& rows,
                                std::optional<std::size_t> selectedRow) = 0;
    // Repaint the panel's cells and captions named in `changes` from `panel`.
    virtual void showPanel(const PanelChanges& changes, const TelemetryPanel& panel) = 0;
    // Repaint the Telemetry window's cells named in `changedCells`.
    virtual void showTelemetryCells(const std::vector<int>& changedCells,
                                    const TelemWindowModel& model) = 0;
    virtual void showMenus(const MenuModel& menus) = 0;
    // The status bar's lines, when they changed.
    virtual void showStatus(const StatusBarText& /*text*/) {}
    // Shutdown is done: the window closes.
    virtual void endDialog() = 0;
};

// The drive controls' part of the tick. The default does nothing (no Controls window yet);
// DriveCommandHooks (drive_hooks.h) runs the drive controls' own classes.
class DriveHooks {
  public:
    virtual ~DriveHooks() = default;
    // Tick step 3, on every tick while the Controls window is shown: sends the PC's drive
    // command unless the context forbids it (another driver-controls node seen, no device, no
    // public structure, the port closed or re-opened since the window was shown).
    virtual void onDriveTick(const DriveContext& /*context*/) {}
    // Tick step 5, every 6 ticks while the public structure is valid and the Controls window
    // is shown: the Controls window's periodic check.
    virtual void periodicCheck(bool /*noOtherSource*/) {}
    // The drive stops now: re-connect, the selected device lost or another one selected,
    // shutdown.
    virtual void stop() {}
    // WM_TRANSFER_DONE action 1, before the Controls window shows: takes what the controls
    // drive. False when they refuse it (they told the user why); the window then stays hidden.
    virtual bool showControls(const ControlsShowRequest& /*request*/) { return true; }
};

}  // namespace qv
