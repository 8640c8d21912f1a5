#include "sim/foreign_driver_controls.h"

#include <cstring>

namespace qv::sim {

namespace {

CanFrame floatPair(std::uint32_t id, float low, float high) {
    CanFrame::Data d{};
    std::uint32_t bits[2];
    std::memcpy(&bits[0], &low, 4);
    std::memcpy(&bits[1], &high, 4);
    for (std::size_t i = 0; i < 4; ++i) {
        d[i] = static_cast<std::uint8_t>(bits[0] >> (8 * i));
        d[4 + i] = static_cast<std::uint8_t>(bits[1] >> (8 * i));
    }
    return CanFrame(id, false, false, 8, d);
}

}  // namespace

void ForeignDriverControls::switchOn(std::uint32_t base) {
    if (!on_ || base != base_) nextMs_ = -1;
    on_ = true;
    base_ = base;
}

void ForeignDriverControls::tick(double nowMs) {
    if (!on_) return;
    if (nextMs_ >= 0 && nowMs < nextMs_) return;
    bus_.send(floatPair(base_ + 1, 0.0f, 0.0f), this);
    bus_.send(floatPair(base_ + 2, 0.0f, 1.0f), this);
    nextMs_ = nextDeadline(nextMs_ < 0 ? nowMs : nextMs_, kForeignDriverControlsPeriodMs, nowMs);
}

}  // namespace qv::sim
