#include "app/tool_windows.h"

namespace qv {

namespace {

struct ToolInfo {
    const char* caption;
    const char* stem;  // where its place is kept; nullptr: nowhere
};

// A new tool adds its row here; its stem makes the main window keep its place.
constexpr std::array<ToolInfo, kToolCount> kTools = {{
    {"Configuration", "CfgDlg"},
    {"DuvodaRezir", "PhSenseDlg"},
    {"Controls", "CtrlDlg"},
    {"Parameter Extraction", "PmExtractDlg"},
    {"Induction Motor Extraction", "ImExtractDlg"},
    {"Telemetry", "TelemDlg"},
    {"Processing Configuration", nullptr},
    {"Commissioning Assistant", "CommissionDlg"},
}};

}  // namespace

const char* toolCaption(Tool tool) {
    return kTools.at(static_cast<std::size_t>(tool)).caption;
}

bool hasKeptPosition(Tool tool) {
    return toolPlaceStem(tool) != nullptr;
}

const char* toolPlaceStem(Tool tool) {
    return kTools.at(static_cast<std::size_t>(tool)).stem;
}

}  // namespace qv
