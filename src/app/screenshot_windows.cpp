#include "app/screenshot_windows.h"

#include <array>

#include "app/menu_model.h"

namespace qv {

namespace {

// A new window: one line at the end.
constexpr std::array<ScreenshotWindow, 10> kScreenshotWindows = {{
    {"main", 0, "id102"},
    {"telemetry", kCmdTelemetry, "id119"},
    {"plot", kCmdPlotTelemetry, "PlotDlg"},
    {"monitor", kCmdBusMonitor, "BusMonDlg"},
    {"configuration", kCmdConfiguration, "id107"},
    {"controls", kCmdControls, "id105"},
    {"duvodarezir", kCmdDuvodaRezir, "id104"},
    {"paramextract", kCmdParamExtract, "id106"},
    {"imextract", kCmdImExtract, "id143"},
    {"commission", kCmdCommissioningAssistant, "CommissionDlg"},
}};

}  // namespace

std::span<const ScreenshotWindow> screenshotWindows() {
    return kScreenshotWindows;
}

const ScreenshotWindow* findScreenshotWindow(std::string_view name) {
    for (const ScreenshotWindow& w : kScreenshotWindows)
        if (name == w.name) return &w;
    return nullptr;
}

std::string screenshotWindowNames() {
    std::string names;
    for (const ScreenshotWindow& w : kScreenshotWindows) {
        if (!names.empty()) names += ", ";
        names += w.name;
    }
    return names;
}

}  // namespace qv
