#pragma once
// Bridge-client settings that keep test traffic on this machine: multicast on 127.0.0.1 with
// TTL 1, a port of the test's own.
#include <cstdint>

#include "link/bridge_codec.h"
#include "link/can_udp_client.h"
#include "link/net/socket.h"

namespace qv::test {

inline constexpr std::uint32_t kLoopbackMask = 0x000000FF;  // 255.0.0.0 in network order

inline BridgeSettings loopbackSettings(std::uint16_t port, std::uint64_t busId = kDefaultBusId) {
    BridgeSettings s;
    s.group = *net::parseIPv4(kDefaultGroup);
    s.port = port;
    s.busId = busId;
    s.ttl = 1;
    s.interfaceAddress = net::kLoopback;
    s.mask = kLoopbackMask;
    return s;
}

// A raw multicast socket on the test group and port, on loopback.
inline net::UdpSocket rawGroupSocket(std::uint16_t port) {
    net::UdpOptions o;
    o.group = *net::parseIPv4(kDefaultGroup);
    o.interfaceAddress = net::kLoopback;
    o.port = port;
    o.ttl = 1;
    return *net::UdpSocket::open(o);
}

}  // namespace qv::test
