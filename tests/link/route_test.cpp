#include <gtest/gtest.h>

#include "link/net/route.h"
#include "link/net/socket.h"

namespace qv::net {
namespace {

std::uint32_t ip(const char* text) {
    return *parseIPv4(text);
}

TEST(Route, LongestPrefixWinsAndGatewaysAreRefused) {
    const std::vector<Route> routes{
        {0, 0, ip("192.168.1.1"), false},                 // default route
        {ip("192.168.1.0"), 24, 0, false},                // the LAN
        {ip("10.0.0.0"), 8, ip("192.168.1.254"), false},  // through a gateway
        {ip("192.168.1.5"), 32, 0, true},                 // own address
        {ip("127.0.0.0"), 8, 0, true},
        {ip("127.0.0.1"), 32, 0, true},
    };
    const auto lan = bestRoute(routes, ip("192.168.1.20"));
    ASSERT_TRUE(lan);
    EXPECT_EQ(lan->prefixLength, 24);
    EXPECT_TRUE(routeAllowsBridge(lan, 0, 0));
    EXPECT_TRUE(routeAllowsBridge(lan, ip("192.168.1.5"), ip("255.255.255.0")));
    // Another interface configured: the LAN route is not its subnet.
    EXPECT_FALSE(routeAllowsBridge(lan, ip("192.168.2.5"), ip("255.255.255.0")));
    EXPECT_FALSE(routeAllowsBridge(bestRoute(routes, ip("8.8.4.4")), 0, 0));
    EXPECT_FALSE(routeAllowsBridge(bestRoute(routes, ip("10.1.2.3")), 0, 0));
    // Loopback reports its network, so it matches a 127.0.0.1/8 interface.
    const auto lo = bestRoute(routes, ip("127.0.0.1"));
    ASSERT_TRUE(lo);
    EXPECT_EQ(lo->prefixLength, 8);
    EXPECT_TRUE(routeAllowsBridge(lo, ip("127.0.0.1"), ip("255.0.0.0")));
    EXPECT_FALSE(routeAllowsBridge(std::nullopt, 0, 0));
}

TEST(Route, KernelTableHasLoopback) {
    const auto routes = readRoutes();
    ASSERT_TRUE(routes);
    EXPECT_TRUE(routeAllowsBridge(bestRoute(*routes, ip("127.0.0.1")), 0, 0));
}

}  // namespace
}  // namespace qv::net
