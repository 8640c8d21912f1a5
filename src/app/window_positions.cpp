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
    return window == PlacedWindow::Main ? kMainDefaultPosition : kToolDefaultPosition;
}

WindowPositions defaultPositions() {
    WindowPositions positions;
    for (std::size_t i = 0; i < kPlacedWindowCount; ++i)
        positions[i] = defaultPosition(static_cast<PlacedWindow>(i));
    return positions;
}

WindowPlace restoreWindowPlace(const SettingsStore& store, const std::string& stem,
                               ScreenPoint defaultPosition, const WorkArea& area) {
    WindowPlace place{defaultPosition, std::nullopt};
    if (!store.hasKey(kWindowPositionsKey)) return place;
    const auto x = readCoordinate(store, stem + "(X)");
    const auto y = readCoordinate(store, stem + "(Y)");
    if (x && y && *x >= 0 && *x < area.right && *y >= 0 && *y < area.bottom)
        place.position = {*x, *y};
    const auto w = readCoordinate(store, stem + "(W)");
    const auto h = readCoordinate(store, stem + "(H)");
    if (w && h && *w >= 1 && *w <= area.right - area.left && *h >= 1 &&
        *h <= area.bottom - area.top)
        place.size = WindowSize{*w, *h};
    return place;
}

WindowPositions restoreWindowPositions(const SettingsStore& store, const WorkArea& area) {
    WindowPositions positions;
    for (std::size_t i = 0; i < kPlacedWindowCount; ++i) {
        const auto window = static_cast<PlacedWindow>(i);
        positions[i] = restoreWindowPlace(store, kStems[i], defaultPosition(window), area).position;
    }
    return positions;
}

void storeWindowPlace(SettingsStore& store, const std::string& stem, const WindowPlace& place) {
    const auto asStored = [](int v) {
        return std::to_string(static_cast<std::uint32_t>(static_cast<std::int32_t>(v)));
    };
    store.setValue(kWindowPositionsKey, stem + "(X)", asStored(place.position.x));
    store.setValue(kWindowPositionsKey, stem + "(Y)", asStored(place.position.y));
    if (!place.size) return;
    store.setValue(kWindowPositionsKey, stem + "(W)", asStored(place.size->width));
    store.setValue(kWindowPositionsKey, stem + "(H)", asStored(place.size->height));
}

void storeWindowPositions(SettingsStore& store, const WindowPositions& positions) {
    for (std::size_t i = 0; i < kPlacedWindowCount; ++i)
        storeWindowPlace(store, kStems[i], {positions[i], std::nullopt});
}

bool saveWindowPlaces(const std::string& settingsPath,
                      const std::vector<std::pair<std::string, WindowPlace>>& places) {
    SettingsStore store(settingsPath);
    for (const auto& [stem, place] : places) storeWindowPlace(store, stem, place);
    return store.save();
}

bool saveWindowPositions(const std::string& settingsPath, const WindowPositions& positions) {
    SettingsStore store(settingsPath);
    storeWindowPositions(store, positions);
    return store.save();
}

}  // namespace qv
