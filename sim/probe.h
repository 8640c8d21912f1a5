#pragma once
// A raw participant on the bridge's multicast group, for tests and benchmarks of the simulator:
// it sees every datagram as sent (no filtering) and can send frames as a client would.
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "link/can_frame.h"
#include "link/net/socket.h"

namespace qv::sim {

struct ProbeDatagram {
    std::size_t bytes = 0;
    std::uint32_t source = 0;
    std::vector<CanPacket> packets;
};

class Probe {
  public:
    // Joins the group on `interfaceAddress` at `port`. Throws std::runtime_error on failure.
    Probe(std::uint16_t port, std::uint64_t busId, std::uint64_t senderId,
          std::uint32_t interfaceAddress = net::kLoopback);

    // Waits up to `timeoutMs` for one datagram.
    std::optional<ProbeDatagram> receive(int timeoutMs);
    // Collects every datagram that arrives within `durationMs`.
    std::vector<ProbeDatagram> collect(int durationMs);
    // Waits up to `timeoutMs` for a packet that `match` accepts.
    std::optional<CanPacket> waitFor(const std::function<bool(const CanPacket&)>& match,
                                     int timeoutMs);
    // Sends `frames` in one datagram with this probe's header (or another bus identifier).
    bool send(const std::vector<CanFrame>& frames);
    bool sendWithBusId(const std::vector<CanFrame>& frames, std::uint64_t busId);

  private:
    net::UdpSocket socket_;
    std::uint16_t port_;
    std::uint64_t busId_;
    std::uint64_t senderId_;
};

}  // namespace qv::sim
