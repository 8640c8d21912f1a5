#pragma once
// A driver-controls node other than the program on the bus: while on, it sends the drive
// command at BASE + 1 (0 rpm, current 0.0: a pedal at rest) and the bus-current command at
// BASE + 2 (misc 0.0, bus current 1.0) every 100 ms, as a vehicle's own driver controls do.
// The program must notice it and give up control.
#include <cstdint>

#include "sim/bus.h"

namespace qv::sim {

inline constexpr double kForeignDriverControlsPeriodMs = 100.0;
inline constexpr std::uint32_t kDefaultDriverControlsBase = 0x500;

class ForeignDriverControls final : public Node {
  public:
    explicit ForeignDriverControls(Bus& bus) : bus_(bus) {}

    // Switches the node on at `base` (the first commands go out on the next pass) or off.
    void switchOn(std::uint32_t base);
    void switchOff() { on_ = false; }
    bool on() const { return on_; }
    std::uint32_t base() const { return base_; }

    void onFrame(const CanFrame&, double) override {}
    void tick(double nowMs) override;

  private:
    Bus& bus_;
    bool on_ = false;
    std::uint32_t base_ = kDefaultDriverControlsBase;
    double nextMs_ = -1;  // -1: send on the next pass
};

}  // namespace qv::sim
