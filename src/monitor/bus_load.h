#pragma once
// The bus-load estimate of the status line: the frames counted in the last five ticks
// (one second) times 120 bits, against the bus bit rate.
//
// The tick calls tick() as its last step with the frames the CAN port counted since the
// previous tick (CBcan::takeReceivedFrameCount), canBridgeHeard() and the bit rate
// (CBcan::busBitRate). When it returns a figure the window sets the status line and the
// colour box (Monitor does this for its panel).
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "monitor/monitor_types.h"

namespace qv {

struct BusLoadFigure {
    double percent = 0;
    std::string text;  // "CAN BUS loading is %0.2f%%" or "Not Connected..."
    ColorRef colour = kBlack;
};

class BusLoad {
  public:
    // Nothing while the bridge has not been heard or no usable bit rate is known (0): then the
    // status line keeps its text and every later tick tries again.
    std::optional<BusLoadFigure> tick(std::uint64_t framesThisTick, bool bridgeHeard,
                                      std::uint32_t bitRate, bool deviceSelected);
    void reset();

    static ColorRef colourFor(double percent);
    static std::string statusText(double percent, bool deviceSelected);

  private:
    std::array<std::uint64_t, 4> history_{};  // newest last
    int ticks_ = 0;
};

}  // namespace qv
