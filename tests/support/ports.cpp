#include "support/ports.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "link/net/socket.h"

namespace qv::test {

namespace {

bool bindable(int type, std::uint16_t port) {
    net::Fd fd(::socket(AF_INET, type, 0));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = INADDR_ANY;
    return fd.valid() && ::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

}  // namespace

std::uint16_t freePort() {
    // The kernel hands out ephemeral TCP ports round the range, so a port it just gave us is not
    // given to another process soon after; check that UDP is free on it too.
    for (int attempt = 0; attempt < 100; ++attempt) {
        net::Fd fd(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = INADDR_ANY;
        if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) continue;
        socklen_t len = sizeof sa;
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&sa), &len);
        const std::uint16_t port = ntohs(sa.sin_port);
        fd.reset();
        if (bindable(SOCK_DGRAM, port) && bindable(SOCK_STREAM, port)) return port;
    }
    throw std::runtime_error("no free port");
}

}  // namespace qv::test
