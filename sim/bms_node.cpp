#include "sim/bms_node.h"

#include <cmath>
#include <numbers>

namespace qv::sim {

namespace {

constexpr double kCyclePeriodS = 30.0;
constexpr std::uint16_t kCells = 108;

void put16(CanFrame::Data& d, std::size_t at, std::uint16_t v) {
    d[at] = static_cast<std::uint8_t>(v & 0xFF);
    d[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace

std::uint8_t BmsNode::prechargeState(double seconds) {
    const double t = std::fmod(seconds, kCyclePeriodS);
    if (t < 2.0) return 1;  // IDLE
    if (t < 4.0) return 3;  // PRECH
    if (t < 5.0) return 2;  // MAIN
    return 4;               // RUN
}

CanFrame::Data BmsNode::cellMessage(double seconds) {
    const double swing = std::sin(2.0 * std::numbers::pi * seconds / 60.0);
    const auto low = static_cast<std::int16_t>(3250 + 30 * swing);
    const auto high = static_cast<std::int16_t>(3360 + 20 * swing);
    // The weakest and strongest cells change every 7 and 11 seconds.
    const auto step = static_cast<std::uint32_t>(seconds);
    const auto lowCell = static_cast<std::uint16_t>(1 + (step / 7 * 37) % kCells);
    const auto highCell = static_cast<std::uint16_t>(1 + (step / 11 * 53 + 5) % kCells);
    CanFrame::Data d{};
    put16(d, 0, static_cast<std::uint16_t>(low));
    put16(d, 2, static_cast<std::uint16_t>(high));
    put16(d, 4, lowCell);
    put16(d, 6, highCell);
    return d;
}

void BmsNode::tick(double nowMs) {
    if (startMs_ < 0) startMs_ = nextMs_ = nowMs;
    if (nowMs < nextMs_) return;
    nextMs_ = nextDeadline(nextMs_, kBmsPeriodMs, nowMs);
    const double seconds = (nowMs - startMs_) / 1000.0;
    CanFrame::Data precharge{};
    precharge[1] = prechargeState(seconds);
    bus_.send(CanFrame(kBmsPrechargeId, false, false, 8, precharge), this);
    bus_.send(CanFrame(kBmsCellsId, false, false, 8, cellMessage(seconds)), this);
}

}  // namespace qv::sim
