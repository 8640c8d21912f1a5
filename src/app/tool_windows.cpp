#include "app/tool_windows.h"

#include <stdexcept>

namespace qv {

namespace {

struct ToolInfo {
    const char* caption;
    bool kept;
    PlacedWindow placed;
};

constexpr std::array<ToolInfo, kToolCount> kTools = {{
    {"Configuration", true, PlacedWindow::Configuration},
    {"DuvodaRezir", true, PlacedWindow::DuvodaRezir},
    {"Controls", true, PlacedWindow::Controls},
    {"Parameter Extraction", true, PlacedWindow::PmExtraction},
    {"Induction Motor Extraction", true, PlacedWindow::ImExtraction},
    {"Telemetry", true, PlacedWindow::Telemetry},
    {"Processing Configuration", false, PlacedWindow::Main},
    {"Commissioning Assistant", false, PlacedWindow::Main},
}};

}  // namespace

const char* toolCaption(Tool tool) {
    return kTools.at(static_cast<std::size_t>(tool)).caption;
}

bool hasKeptPosition(Tool tool) {
    return kTools.at(static_cast<std::size_t>(tool)).kept;
}

PlacedWindow placedWindowOf(Tool tool) {
    const ToolInfo& info = kTools.at(static_cast<std::size_t>(tool));
    if (!info.kept) throw std::invalid_argument("the transfer progress window has no position");
    return info.placed;
}

}  // namespace qv
