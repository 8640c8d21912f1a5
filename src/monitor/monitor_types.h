#pragma once
// Values shared by the monitoring models and the windows that show them: device type codes,
// the selected device, and colours as the windows paint them.
#include <cstdint>
#include <string>

namespace qv {

// Device type codes after normalisation of the identification message.
inline constexpr std::int32_t kTypeChargerFamily = 0;  // announced as "KX03"
inline constexpr std::int32_t kTypeIsolatedCharger = 0x4000;
inline constexpr std::int32_t kTypeGridTieCharger = 0x4001;
inline constexpr std::int32_t kTypeLargeController = 0x4002;
inline constexpr std::int32_t kTypeSmallController = 0x4003;
inline constexpr std::int32_t kTypeResearchUnit = 0x6000;

// A charger with active motor 0 shows charger quantities; everything else is motor mode.
constexpr bool isChargerMode(std::int32_t type, std::int32_t activeMotor) {
    return (type == kTypeIsolatedCharger || type == kTypeGridTieCharger) && activeMotor == 0;
}

// The process-wide selected device. `base` is a CAN base address (a multiple of 0x20), or
// kNoDevice (nothing selected, the next device found is taken) or kAutoSelectOff (nothing is
// taken automatically). After the selected device disappears `base` keeps its address and
// `selected` is false, so only a device at that base is taken again.
struct SelectedDevice {
    static constexpr std::int32_t kNoDevice = -1;
    static constexpr std::int32_t kAutoSelectOff = -2;

    std::int32_t base = kNoDevice;
    std::uint32_t serial = 0;
    std::uint32_t bridgeAddress = 0;  // IPv4 as received (network byte order)
    std::int32_t type = 0;
    bool selected = false;
};

// A colour as 0x00BBGGRR, or kButtonFace for the system's button-face colour (the window
// maps that one to its palette).
using ColorRef = std::uint32_t;
inline constexpr ColorRef kButtonFace = 0xFF000000u;
inline constexpr ColorRef kBlack = 0x000000;
inline constexpr ColorRef kWhite = 0xFFFFFF;
inline constexpr ColorRef kErrorRed = 0x6464E6;       // (230, 100, 100)
inline constexpr ColorRef kWarningOrange = 0x6496FA;  // (250, 150, 100)
inline constexpr ColorRef kRunGreen = 0x64E664;       // (100, 230, 100)
inline constexpr ColorRef kLoadGreen = 0x00FF00;
inline constexpr ColorRef kLoadYellow = 0x00FFFF;
inline constexpr ColorRef kLoadRed = 0x0000FF;

constexpr std::uint8_t redOf(ColorRef c) {
    return static_cast<std::uint8_t>(c & 0xFF);
}
constexpr std::uint8_t greenOf(ColorRef c) {
    return static_cast<std::uint8_t>((c >> 8) & 0xFF);
}
constexpr std::uint8_t blueOf(ColorRef c) {
    return static_cast<std::uint8_t>((c >> 16) & 0xFF);
}

// One coloured text cell as a window shows it. Texts are UTF-8.
struct CellState {
    std::string text;
    ColorRef background = kButtonFace;
    ColorRef textColour = kBlack;
    bool enabled = true;
    bool visible = true;
    // Nothing live behind the value (no device selected, or it fell silent): shown greyed.
    bool stale = false;
};

}  // namespace qv
