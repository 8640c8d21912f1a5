#pragma once
// Ports for network tests: each call returns a port that is free for UDP and TCP on loopback
// right now and that no other call in any test process hands out at the same time.
#include <cstdint>

namespace qv::test {

std::uint16_t freePort();

}  // namespace qv::test
