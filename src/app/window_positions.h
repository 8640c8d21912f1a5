#pragma once
// Where the windows open: the screen positions kept in the settings store between runs, and
// the check that a stored position still lies on the screen's available area.
#include <array>
#include <cstddef>
#include <string>

namespace qv {

class SettingsStore;

inline constexpr const char* kWindowPositionsKey =
    "SOFTWARE\\Brenlow\\CAN QVM40 Interface\\Window Positions";

// The windows whose positions are kept, in the order they are read and written.
enum class PlacedWindow : std::size_t {
    Main,
    Controls,
    Configuration,
    DuvodaRezir,
    PmExtraction,
    ImExtraction,
    Telemetry,
};
inline constexpr std::size_t kPlacedWindowCount = 7;

// Stem of the pair of value names: "MainDlg" gives "MainDlg(X)" and "MainDlg(Y)".
const char* positionValueStem(PlacedWindow window);

struct ScreenPoint {
    int x = 0;
    int y = 0;
    bool operator==(const ScreenPoint&) const = default;
};

// The screen's available area (without panels and task bars), right and bottom exclusive.
struct WorkArea {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

using WindowPositions = std::array<ScreenPoint, kPlacedWindowCount>;

ScreenPoint defaultPosition(PlacedWindow window);
WindowPositions defaultPositions();

// The positions to open at: a stored pair is taken only when both values are 32-bit numbers
// and 0 <= X < right and 0 <= Y < bottom of the work area; any other window opens at its
// default, (10, 10) for the main window and (250, 10) for the tools.
WindowPositions restoreWindowPositions(const SettingsStore& store, const WorkArea& area);

// Writes every position into the store (left and top edges, as 32-bit values: a window partly
// off the left edge is written as the 32-bit form of its negative X and is not taken back).
void storeWindowPositions(SettingsStore& store, const WindowPositions& positions);

// Reads the file afresh, writes the positions into it and saves it, keeping every other key
// (the bridge settings live in the same file). False when the file could not be written.
bool saveWindowPositions(const std::string& settingsPath, const WindowPositions& positions);

}  // namespace qv
