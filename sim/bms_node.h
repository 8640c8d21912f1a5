#pragma once
// A battery-management node: every 100 ms the precharge state at 0x263 (byte 1) and the lowest
// and highest cell at 0x266 (int16 mV and uint16 cell numbers, little-endian), with values that
// move: the precharge sequence IDLE, PRECH, MAIN, RUN repeats every 30 s, cells drift around
// 3.3 V and the weakest and strongest cells change now and then.
#include <cstdint>

#include "sim/bus.h"

namespace qv::sim {

inline constexpr std::uint32_t kBmsPrechargeId = 0x263;
inline constexpr std::uint32_t kBmsCellsId = 0x266;
inline constexpr double kBmsPeriodMs = 100.0;

class BmsNode : public Node {
  public:
    explicit BmsNode(Bus& bus) : bus_(bus) {}
    void onFrame(const CanFrame&, double) override {}
    void tick(double nowMs) override;

    // The state and cells at `seconds` after the node started.
    static std::uint8_t prechargeState(double seconds);
    static CanFrame::Data cellMessage(double seconds);

  private:
    Bus& bus_;
    double startMs_ = -1;
    double nextMs_ = -1;
};

}  // namespace qv::sim
