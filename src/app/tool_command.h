#pragma once
// The frame that tells a controller which commissioning tool window is open (at base + 15):
// bytes 0-3 a float value (always 0.0), 4-5 the tool number, 6-7 the start flag.
#include <bit>
#include <cstdint>

#include "link/can_frame.h"

namespace qv {

inline constexpr std::uint32_t kToolCommandOffset = 0x0F;
inline constexpr int kToolNumberDuvodaRezir = 1;
inline constexpr int kToolNumberPmExtraction = 2;
inline constexpr int kToolNumberImExtraction = 3;

inline CanFrame::Data toolCommandData(float value, std::uint16_t tool, std::uint16_t start) {
    CanFrame::Data d{};
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        d[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
    d[4] = static_cast<std::uint8_t>(tool);
    d[5] = static_cast<std::uint8_t>(tool >> 8);
    d[6] = static_cast<std::uint8_t>(start);
    d[7] = static_cast<std::uint8_t>(start >> 8);
    return d;
}

}  // namespace qv
