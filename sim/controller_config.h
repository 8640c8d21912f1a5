#pragma once
// The configuration a simulated controller holds: the three structures in the record layout of
// its firmware (the program's defaults with the controller's own base address and serial
// number), served as configuration streams, and replaced only by written streams that check out
// (header, version, sizes, every checksum). In recovery mode it reports the configuration error
// and answers the public stream request with the recovery image.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/options.h"

namespace qv::sim {

// Record sizes of the public, private and motor structures in a layout version; zeros for a
// version no simulated firmware knows. 199 is shorter than 200, 201 longer by 10 bytes each.
std::array<std::uint16_t, 3> layoutSizes(std::uint16_t version);

class ControllerConfig {
  public:
    ControllerConfig(std::uint32_t base, std::uint32_t serial, const SimConfigModes& modes);

    // The bytes served for a configuration stream request of `kind` (0, 1, 2).
    std::vector<std::uint8_t> stream(int kind) const;
    // The stream as last stored, never the recovery image.
    std::vector<std::uint8_t> storedStream(int kind) const;
    std::uint16_t requiredVersion() const { return modes_.requiredVersion; }
    bool recovery() const { return modes_.recovery; }
    bool acknowledges(int kind) const { return !modes_.noAck[static_cast<std::size_t>(kind)]; }
    const SimConfigModes& modes() const { return modes_; }

    // Takes a written stream when it checks out; otherwise returns why it was refused and keeps
    // what it held.
    std::string write(int kind, std::span<const std::uint8_t> bytes);
    // A reset: recovery mode ends once every structure has been written since it began.
    void reset();

  private:
    struct Held {
        std::uint16_t version = 0;
        std::uint16_t recordSize = 0;
        std::vector<std::uint8_t> records;
    };

    SimConfigModes modes_;
    std::array<Held, 3> held_;
    std::array<bool, 3> written_{};
};

}  // namespace qv::sim
