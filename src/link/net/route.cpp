#include "link/net/route.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "link/net/socket.h"

namespace qv::net {

namespace {

std::uint32_t prefixMask(int prefixLength) {
    if (prefixLength <= 0) return 0;
    if (prefixLength >= 32) return 0xFFFFFFFFu;
    return htonl(~((1u << (32 - prefixLength)) - 1));
}

bool matches(const Route& r, std::uint32_t address) {
    const std::uint32_t m = prefixMask(r.prefixLength);
    return (address & m) == (r.destination & m);
}

// Parses the route messages of one netlink reply buffer; returns false at the end of the dump.
bool parseRouteMessages(const char* buffer, std::size_t length, std::vector<Route>& out,
                        bool& failed) {
    std::size_t remaining = length;
    for (auto* nh = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(nh, remaining);
         nh = NLMSG_NEXT(nh, remaining)) {
        if (nh->nlmsg_type == NLMSG_DONE) return false;
        if (nh->nlmsg_type == NLMSG_ERROR) {
            failed = true;
            return false;
        }
        if (nh->nlmsg_type != RTM_NEWROUTE) continue;
        const auto* rt = static_cast<const rtmsg*>(NLMSG_DATA(nh));
        if (rt->rtm_family != AF_INET) continue;
        if (rt->rtm_type != RTN_UNICAST && rt->rtm_type != RTN_LOCAL) continue;
        Route route;
        route.prefixLength = rt->rtm_dst_len;
        route.local = rt->rtm_type == RTN_LOCAL;
        int attrLength = static_cast<int>(RTM_PAYLOAD(nh));
        for (auto* a = RTM_RTA(rt); RTA_OK(a, attrLength); a = RTA_NEXT(a, attrLength)) {
            if (RTA_PAYLOAD(a) < 4) continue;
            if (a->rta_type == RTA_DST) std::memcpy(&route.destination, RTA_DATA(a), 4);
            if (a->rta_type == RTA_GATEWAY) std::memcpy(&route.gateway, RTA_DATA(a), 4);
        }
        out.push_back(route);
    }
    return true;
}

}  // namespace

std::optional<std::vector<Route>> readRoutes() {
    Fd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!fd.valid()) return std::nullopt;
    struct {
        nlmsghdr header;
        rtmsg message;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.message.rtm_family = AF_INET;
    if (::send(fd.get(), &request, request.header.nlmsg_len, 0) < 0) return std::nullopt;

    std::vector<Route> routes;
    alignas(nlmsghdr) char buffer[32768];
    for (int reads = 0; reads < 10000; ++reads) {
        if (!waitReadable(fd.get(), 1000)) return std::nullopt;
        const long n = ::recv(fd.get(), buffer, sizeof buffer, 0);
        if (n <= 0) return std::nullopt;
        bool failed = false;
        const bool more = parseRouteMessages(buffer, static_cast<std::size_t>(n), routes, failed);
        if (failed) return std::nullopt;
        if (!more) return routes;
    }
    return std::nullopt;
}

std::optional<Route> bestRoute(const std::vector<Route>& routes, std::uint32_t address) {
    // The kernel consults the table of the host's own addresses first.
    std::optional<Route> best;
    for (const Route& r : routes) {
        if (!r.local || !matches(r, address)) continue;
        if (!best || r.prefixLength < best->prefixLength) best = r;
    }
    if (best) return best;
    for (const Route& r : routes) {
        if (r.local || !matches(r, address)) continue;
        if (!best || r.prefixLength > best->prefixLength) best = r;
    }
    return best;
}

bool routeAllowsBridge(const std::optional<Route>& best, std::uint32_t interfaceAddress,
                       std::uint32_t mask) {
    if (!best) return false;
    const std::uint32_t network = best->destination & prefixMask(best->prefixLength);
    if (network == 0 || best->gateway != 0) return false;
    if (interfaceAddress != 0 && network != (interfaceAddress & mask)) return false;
    return true;
}

}  // namespace qv::net
