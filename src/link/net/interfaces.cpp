#include "link/net/interfaces.h"

#include <ifaddrs.h>
#include <netinet/in.h>

namespace qv::net {

std::optional<std::uint32_t> interfaceNetmask(std::uint32_t address) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return std::nullopt;
    std::optional<std::uint32_t> mask;
    for (ifaddrs* i = list; i != nullptr && !mask; i = i->ifa_next) {
        if (!i->ifa_addr || !i->ifa_netmask || i->ifa_addr->sa_family != AF_INET) continue;
        if (reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr != address) continue;
        mask = reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr;
    }
    ::freeifaddrs(list);
    return mask;
}

}  // namespace qv::net
