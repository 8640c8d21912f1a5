#pragma once
// The main window's menu bar as data: its layout (titles, items, command ids) and the state of
// each item (enabled, checked, text), which the logic changes and the window shows.
#include <map>
#include <span>
#include <string>

namespace qv {

// Command ids of the main window's menu.
enum MainCommand : int {
    kCmdExit = 2,
    kCmdAbout = 16,
    kCmdControls = 32771,
    kCmdConfiguration = 32772,
    kCmdDuvodaRezir = 32773,
    kCmdParamExtract = 32774,
    kCmdLogStartStop = 32775,
    kCmdEraseLog = 32786,
    kCmdViewLog = 32787,
    kCmdUpdate02s = 32791,
    kCmdUpdate1s = 32792,
    kCmdUpdate10s = 32793,
    kCmdTelemetry = 32797,
    kCmdImExtract = 32798,
    kCmdLoadFactoryFile = 32799,
    kCmdResetController = 32800,
    kCmdReconnect = 32802,
    kCmdPlotTelemetry = 32900,
    kCmdBusMonitor = 32901,
    kCmdCommissioningAssistant = 32902,
};

inline constexpr const char* kLogStartText = "Start...";
inline constexpr const char* kLogStopText = "Stop";

// One entry of the layout: a menu title (level 0), a submenu title (level 1, id 0), or an item
// (id > 0) of the menu or submenu above it. Titles carry '&' before their access key.
struct MenuEntry {
    int level;  // 0 top-level menu, 1 item of it, 2 item of a submenu
    const char* text;
    int id;  // 0 for a menu or submenu title
};
std::span<const MenuEntry> mainMenuLayout();

struct MenuItemState {
    bool enabled = true;
    bool checked = false;
    std::string text;
};

class MenuModel {
  public:
    // The state of dialog initialisation: "0.2s" checked, ELog greyed, everything else enabled
    // (enableToolMenus then greys the tools).
    MenuModel();

    const MenuItemState& item(int id) const;

    // Tools > Controls, DuvodaRezir, ParamExtract, ImExtract, Telemetry, Reset Controller,
    // File > Load Factory File... and, while not logging, Log > Start...
    void enableToolMenus(bool enabled, bool logging);
    // Log > Start.../Stop after the log started or stopped; stopping without a selected device
    // greys the item at once.
    void setLogging(bool logging, bool deviceSelected);
    // Log > Update: the chosen one of 32791, 32792, 32793 checked, the others not.
    void checkLogPeriod(int id);

    // Counts changes, so a window repaints the menus only when something changed.
    unsigned revision() const { return revision_; }

  private:
    void set(int id, bool enabled);
    std::map<int, MenuItemState> items_;
    unsigned revision_ = 0;
};

// Log period in ticks of Log > Update's item (1, 5, 50), 0 for any other id.
int logPeriodTicksOf(int id);

}  // namespace qv
