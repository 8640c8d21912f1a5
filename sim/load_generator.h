#pragma once
// Fills the bus to a given frame rate with frames of one extended identifier (kLoadId), each
// carrying its sequence number (64-bit little-endian, from 0), so that a receiver can count
// what it lost. A fully loaded 1 Mbit/s bus carries about 8,700 frames/s. When the loop falls
// behind, at most 50 ms of frames are sent at once and the rest is dropped, as a bus that
// cannot carry more.
#include <cstdint>

#include "sim/bus.h"

namespace qv::sim {

inline constexpr std::uint32_t kLoadId = 0x1ABCDE01;

class LoadGenerator : public Node {
  public:
    LoadGenerator(Bus& bus, double framesPerSecond) : bus_(bus), rate_(framesPerSecond) {}
    void onFrame(const CanFrame&, double) override {}
    void tick(double nowMs) override;
    std::uint64_t sent() const { return sent_; }

  private:
    Bus& bus_;
    double rate_;
    double startMs_ = -1;
    double owed_ = 0;  // frames due and not yet sent
    double lastMs_ = 0;
    std::uint64_t sent_ = 0;
};

}  // namespace qv::sim
