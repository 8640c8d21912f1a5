#pragma once
// The frame checks restated on a raw 14-byte record, independently of the decoder under test.
#include <cstdint>

#include "link/bridge_codec.h"

inline bool recordValid(const std::uint8_t* r) {
    const std::uint32_t id = qv::getBigEndian32(r);
    const bool extended = (r[4] & qv::flags::kExtended) != 0;
    if (!extended && id >= 0x800) return false;
    if (id >= (1u << 29)) return false;
    return r[5] <= 15;
}
