#pragma once
// The host's network interfaces.
#include <cstdint>
#include <optional>

namespace qv::net {

// The netmask of the interface that holds `address` (network order); nothing when no interface
// of this host has that address.
std::optional<std::uint32_t> interfaceNetmask(std::uint32_t address);

}  // namespace qv::net
