#include "app/window_positions.h"

#include <cstdint>
#include <optional>

#include "common/parse_number.h"
#include "link/platform/settings_store.h"

namespace qv {

namespace {

constexpr std::array<const char*, kPlacedWindowCount> kStems = {
    "MainDlg", "CtrlDlg", "CfgDlg", "PhSenseDlg", "PmExtractDlg", "ImExtractDlg", "TelemDlg"};

// A stored value as the 32-bit number the window position is kept in: decimal or 0x hex,
// read back as a signed coordinate. Text that is not such a number is of another type.
std::optional<int> readCoordinate(const SettingsStore& store, const std::string& name) {
    const auto text = store.value(kWindowPositionsKey, name);
    if (!text) return std::nullopt;
    const auto number = parseUnsignedNumber(*text);
    if (!number || *number > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<int>(static_cast<std::int32_t>(static_cast<std::uint32_t>(*number)));
}

}  // namespace

const char* positionValueStem(PlacedWindow window) {
    return kStems.at(static_cast<std::size_t>(window));
}

ScreenPoint defaultPosition(PlacedWindow window) {
    return window == PlacedWindow::Main ? ScreenPoint{10, 10} : ScreenPoint{250, 10};
}

WindowPositions defaultPositions() {
    WindowPositions positions;
    for (std::size_t i = 0; i < kPlacedWindowCount; ++i)
        positions[i] = defaultPosition(static_cast<PlacedWindow>(i));
    return positions;
}

WindowPositions restoreWindowPositions(const SettingsStore& store, const WorkArea& area) {
    WindowPositions positions = defaultPositions();
    if (!store.hasKey(kWindowPositionsKey)) return positions;
    for (std::size_t i = 0; i < kPlacedWindowCount; ++i) {
        const std::string stem = kStems[i];
        const auto x = readCoordinate(store, stem + "(X)");
        const auto y = readCoordinate(store, stem + "(Y)");
        if (!x || !y) continue;
        if (*x < 0 || *x >= area.right || *y < 0 || *y >= area.bottom) continue;
        positions[i] = {*x, *y};
    }
    return positions;
}

void storeWindowPositions(SettingsStore& store, const WindowPositions& positions) {
    for (std::size_t i = 0; i < kPlacedWindowCount; ++i) {
        const std::string stem = kStems[i];
        const auto asStored = [](int v) {
            return std::to_string(static_cast<std::uint32_t>(static_cast<std::int32_t>(v)));
        };
        store.setValue(kWindowPositionsKey, stem + "(X)", asStored(positions[i].x));
        store.setValue(kWindowPositionsKey, stem + "(Y)", asStored(positions[i].y));
    }
}

bool saveWindowPositions(const std::string& settingsPath, const WindowPositions& positions) {
    SettingsStore store(settingsPath);
    storeWindowPositions(store, positions);
    return store.save();
}

}  // namespace qv
