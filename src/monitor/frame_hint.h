#pragma once
// What the program knows a frame to be, for the Bus Monitor's "Decoded" column: the selected
// device's telemetry (the panel's captions and texts), identification messages, the stream
// protocol's commands, the commissioning exchange and drive commands.
#include <cstdint>
#include <optional>
#include <string>

#include "link/can_frame.h"
#include "monitor/telemetry_values.h"

namespace qv {

class TelemetryPanel;

struct HintContext {
    std::int32_t selectedBase = -1;  // below zero: no device selected
    std::int32_t deviceType = 0;
    const TelemetryValues* values = nullptr;  // the latest values (for the mode and the power)
    const TelemetryPanel* panel = nullptr;    // the captions as shown
    std::optional<std::uint32_t> driverControlsBase;  // the configuration's, or the fallback
};

// "" when the program does not know the frame.
std::string frameHint(const CanFrame& frame, const HintContext& context);

}  // namespace qv
