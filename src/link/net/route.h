#pragma once
// Which route leads to a bridge. A bridge is reached by TCP only on a directly connected subnet,
// never through a gateway.
#include <cstdint>
#include <optional>
#include <vector>

namespace qv::net {

struct Route {
    std::uint32_t destination = 0;  // network, network byte order
    int prefixLength = 0;
    std::uint32_t gateway = 0;  // 0 when directly connected
    bool local = false;         // a route of the host's own addresses (local table)
};

// All IPv4 unicast and local routes of every table, read from the kernel (netlink). Nothing
// when the table cannot be read.
std::optional<std::vector<Route>> readRoutes();

// The route that leads to `address`: a route of the host's own addresses when one matches (the
// widest, so the loopback address reports its 127.0.0.0/8 network rather than a host route),
// else the longest matching prefix among ordinary routes.
std::optional<Route> bestRoute(const std::vector<Route>& routes, std::uint32_t address);

// The connect rule: there is a route; it is not the default route; and when an interface is
// configured, the route's network equals interfaceAddress AND mask.
bool routeAllowsBridge(const std::optional<Route>& best, std::uint32_t interfaceAddress,
                       std::uint32_t mask);

}  // namespace qv::net
