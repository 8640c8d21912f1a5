#include "app/menu_model.h"

#include <array>
#include <stdexcept>

namespace qv {

namespace {

constexpr std::array<MenuEntry, 26> kLayout = {{
    {0, "&File", 0},
    {1, "Re-Connect to Bridge", kCmdReconnect},
    {1, "Load Factory File...", kCmdLoadFactoryFile},
    {1, "Exit", kCmdExit},
    {0, "&Tools", 0},
    {1, "Controls", kCmdControls},
    {1, "Configuration...", kCmdConfiguration},
    {1, "DuvodaRezir", kCmdDuvodaRezir},
    {1, "ParamExtract", kCmdParamExtract},
    {1, "ImExtract", kCmdImExtract},
    {1, "Telemetry", kCmdTelemetry},
    {1, "Reset Controller", kCmdResetController},
    {1, "Plot Telemetry...", kCmdPlotTelemetry},
    {1, "Bus Monitor...", kCmdBusMonitor},
    {1, "Commissioning Assistant...", kCmdCommissioningAssistant},
    {0, "&Log", 0},
    {1, kLogStartText, kCmdLogStartStop},
    {1, "&Update", 0},
    {2, "0.2s", kCmdUpdate02s},
    {2, "1s", kCmdUpdate1s},
    {2, "10s", kCmdUpdate10s},
    {0, "&ELog", 0},
    {1, "View Log", kCmdViewLog},
    {1, "Erase Log", kCmdEraseLog},
    {0, "&Help", 0},
    {1, "About", kCmdAbout},
}};

constexpr std::array<int, 9> kToolMenuIds = {
    kCmdControls,  kCmdDuvodaRezir,     kCmdParamExtract,    kCmdImExtract,
    kCmdTelemetry, kCmdResetController, kCmdLoadFactoryFile, kCmdLogStartStop,
    kCmdCommissioningAssistant};

}  // namespace

std::span<const MenuEntry> mainMenuLayout() {
    return kLayout;
}

MenuModel::MenuModel() {
    for (const MenuEntry& e : mainMenuLayout())
        if (e.id > 0) items_[e.id] = MenuItemState{true, false, e.text};
    items_[kCmdUpdate02s].checked = true;
    items_[kCmdViewLog].enabled = false;
    items_[kCmdEraseLog].enabled = false;
}

const MenuItemState& MenuModel::item(int id) const {
    const auto it = items_.find(id);
    if (it == items_.end()) throw std::out_of_range("no menu item " + std::to_string(id));
    return it->second;
}

void MenuModel::set(int id, bool enabled) {
    MenuItemState& s = items_.at(id);
    if (s.enabled == enabled) return;
    s.enabled = enabled;
    ++revision_;
}

void MenuModel::enableToolMenus(bool enabled, bool logging) {
    for (const int id : kToolMenuIds) {
        if (id == kCmdLogStartStop && logging) continue;
        set(id, enabled);
    }
}

void MenuModel::setLogging(bool logging, bool deviceSelected) {
    MenuItemState& s = items_.at(kCmdLogStartStop);
    const std::string text = logging ? kLogStopText : kLogStartText;
    if (s.text != text) {
        s.text = text;
        ++revision_;
    }
    if (logging)
        set(kCmdLogStartStop, true);
    else if (!deviceSelected)
        set(kCmdLogStartStop, false);
}

void MenuModel::checkLogPeriod(int id) {
    if (logPeriodTicksOf(id) == 0) return;
    for (const int other : {kCmdUpdate02s, kCmdUpdate1s, kCmdUpdate10s}) {
        MenuItemState& s = items_.at(other);
        if (s.checked == (other == id)) continue;
        s.checked = other == id;
        ++revision_;
    }
}

int logPeriodTicksOf(int id) {
    switch (id) {
        case kCmdUpdate02s:
            return 1;
        case kCmdUpdate1s:
            return 5;
        case kCmdUpdate10s:
            return 50;
        default:
            return 0;
    }
}

}  // namespace qv
