#pragma once
// Ports for network tests: each call returns a port that is free for UDP and TCP right now,
// never the same twice in one process, and outside the range of ephemeral local ports.
#include <cstdint>

namespace qv::test {

std::uint16_t freePort();

}  // namespace qv::test
