#pragma once
// The windows `qvconfig --screenshot-window NAME` can open and save: each with the menu command
// that opens it (0: open anyway) and the objectName of its top-level widget.
#include <span>
#include <string>
#include <string_view>

namespace qv {

struct ScreenshotWindow {
    const char* name;
    int command;
    const char* objectName;
};

std::span<const ScreenshotWindow> screenshotWindows();
// nullptr for an unknown name.
const ScreenshotWindow* findScreenshotWindow(std::string_view name);
// "main, telemetry, plot, ..."
std::string screenshotWindowNames();

}  // namespace qv
