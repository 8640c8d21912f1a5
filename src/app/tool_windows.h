#pragma once
// What the main window's logic does to the windows it owns. The Qt windows implement these;
// tests implement them with plain fakes.
#include <array>
#include <cstddef>
#include <string>

#include "app/window_positions.h"

namespace qv {

// A top-level window as the logic sees it; where it is comes from Placeable.
class AppWindow : public Placeable {
  public:
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isVisible() const = 0;
    virtual bool isEnabled() const = 0;
    // Brings the window to the top of the others.
    virtual void raise() = 0;
};

// A modeless tool window, created hidden and disabled at start-up.
class ToolWindow : public AppWindow {
  public:
    // False for a window whose tool is not built yet: its command tells the user so instead of
    // opening it.
    virtual bool available() const { return true; }
    // Fills the window from the configuration store after a download or a file load.
    virtual void refresh() {}
    // Configuration window only: shows one of its pages (0 General, 1 Calibration, 2 Motor).
    virtual void selectPage(int /*page*/) {}
    // Transfer progress window only: advances the progress bar by `bytes`.
    virtual void advanceProgress(int /*bytes*/) {}
    // Commissioning tools only: an acquisition waits for the controller's frames. The window
    // then takes the CAN port's queue itself, offering every frame to the tool first and
    // passing the others to the telemetry decoder, so the tick leaves the queue alone.
    virtual bool acquiring() const { return false; }
    // Configuration window only: shown, with edits on its pages a write back would store.
    virtual bool hasUnsavedEdits() const { return false; }
};

// A window beside the tools that shows the monitor's recordings (Plot Telemetry, Bus
// Monitor): opened by its menu command, closed by itself, left open by the other tools, and
// brought up to date once per tick while shown.
class TickWindow : public AppWindow {
  public:
    virtual void onTick() = 0;
};

// The seven tool windows, in the order they are constructed.
enum class Tool : std::size_t {
    Configuration,
    DuvodaRezir,
    Controls,
    PmExtraction,
    ImExtraction,
    Telemetry,
    TransferProgress,
};
inline constexpr std::size_t kToolCount = 7;

// The window's caption ("Configuration", "Controls", ...).
const char* toolCaption(Tool tool);
// Whether the tool's place is kept (Tool::TransferProgress: no), and under which stem of the
// settings' value names ("CfgDlg"); nullptr for none.
bool hasKeptPosition(Tool tool);
const char* toolPlaceStem(Tool tool);

// The windows the logic drives, not owned.
struct ToolWindowSet {
    std::array<ToolWindow*, kToolCount> windows{};

    ToolWindow& operator[](Tool tool) const { return *windows[static_cast<std::size_t>(tool)]; }
};

}  // namespace qv
