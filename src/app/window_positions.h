#pragma once
// Where the windows open: the screen positions (and the sizes of resizable windows) kept in the
// settings store between runs, and the check that a stored place still lies on the screen's
// available area. A position is the window's outer top-left corner, its frame included, in
// screen coordinates; a size is that of the window's contents, without the frame.
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

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

struct WindowSize {
    int width = 0;
    int height = 0;
    bool operator==(const WindowSize&) const = default;
};

// A window's place: its outer top-left corner and, for a window the user can resize, the size
// of its contents.
struct WindowPlace {
    ScreenPoint position;
    std::optional<WindowSize> size;
    bool operator==(const WindowPlace&) const = default;
};

// What the placing needs of a window (the Qt windows and the tests' fakes implement it).
class Placeable {
  public:
    virtual ~Placeable() = default;
    // The outer top-left corner, frame included, in screen coordinates; moveTo keeps the size
    // and puts that same corner at `point`.
    virtual ScreenPoint position() const = 0;
    virtual void moveTo(ScreenPoint point) = 0;
    // The size of the contents of a window the user can resize; nothing for a fixed-size
    // window, whose size is not kept.
    virtual std::optional<WindowSize> resizableSize() const { return std::nullopt; }
    virtual void resizeTo(WindowSize /*size*/) {}
};

// Where a window opens without a kept place: (10, 10) the main window, (250, 10) the tools.
inline constexpr ScreenPoint kMainDefaultPosition{10, 10};
inline constexpr ScreenPoint kToolDefaultPosition{250, 10};
ScreenPoint defaultPosition(PlacedWindow window);
WindowPositions defaultPositions();

// The positions to open at: a stored pair is taken only when both values are 32-bit numbers
// and 0 <= X < right and 0 <= Y < bottom of the work area; any other window opens at its
// default, (10, 10) for the main window and (250, 10) for the tools.
WindowPositions restoreWindowPositions(const SettingsStore& store, const WorkArea& area);

// The place kept under `stem` (values "STEM(X)", "STEM(Y)", "STEM(W)", "STEM(H)"): the
// position under the rule of restoreWindowPositions, else `defaultPosition`; the size when both
// values are whole numbers from 1 to the work area's width and height, else nothing.
WindowPlace restoreWindowPlace(const SettingsStore& store, const std::string& stem,
                               ScreenPoint defaultPosition, const WorkArea& area);
// Writes X and Y as storeWindowPositions does, and W and H when the place has a size.
void storeWindowPlace(SettingsStore& store, const std::string& stem, const WindowPlace& place);
// Reads the file afresh, writes the places into it and saves it, keeping every other key.
bool saveWindowPlaces(const std::string& settingsPath,
                      const std::vector<std::pair<std::string, WindowPlace>>& places);

// Writes every position into the store (left and top edges, as 32-bit values: a window partly
// off the left edge is written as the 32-bit form of its negative X and is not taken back).
void storeWindowPositions(SettingsStore& store, const WindowPositions& positions);

// Reads the file afresh, writes the positions into it and saves it, keeping every other key
// (the bridge settings live in the same file). False when the file could not be written.
bool saveWindowPositions(const std::string& settingsPath, const WindowPositions& positions);

}  // namespace qv
