#pragma once
// The frames a driver-controls node sends a controller: two IEEE-754 single floats,
// little-endian, in bytes 0-3 and 4-7 of a standard 8-byte frame.
#include <cstdint>
#include <optional>

#include "link/can_frame.h"

namespace qv {

// Offsets from the driver-controls base address (`driverControlsBaseAddress`).
inline constexpr std::uint32_t kDriveCommandOffset = 1;       // velocity rpm, current 0..1
inline constexpr std::uint32_t kBusCurrentCommandOffset = 2;  // misc value, bus current 0..1
// Offset from the selected device's base: the take-over notice (eight zero bytes).
inline constexpr std::uint32_t kTakeOverNoticeOffset = 15;

// The highest standard identifier; every driver-controls frame is a standard frame.
inline constexpr std::uint32_t kMaxStandardId = 0x7FF;

// The frame, or nothing when either value is not finite or `identifier` is not a standard
// identifier: such a frame is never put on the bus.
std::optional<CanFrame> floatPairFrame(std::uint32_t identifier, float low, float high);

// The two floats of a frame built as above (bytes 0-3, bytes 4-7).
float lowFloat(const CanFrame& frame);
float highFloat(const CanFrame& frame);

}  // namespace qv
