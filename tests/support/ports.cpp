#include "support/ports.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>

#include "link/net/socket.h"

namespace qv::test {

namespace {

// Below the kernel's ephemeral range (32768 and up), so no outgoing connection of another test
// can take the port as its local end between our check and the test's bind.
constexpr unsigned kFirstPort = 20000;
constexpr unsigned kPortCount = 12000;

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
    // Each process walks the range from its own starting point, and never hands out a port twice;
    // parallel test processes start far apart.
    static const unsigned start = static_cast<unsigned>(::getpid()) * 97u % kPortCount;
    static std::atomic<unsigned> next{0};
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const unsigned offset = (start + next.fetch_add(1)) % kPortCount;
        const auto port = static_cast<std::uint16_t>(kFirstPort + offset);
        if (bindable(SOCK_DGRAM, port) && bindable(SOCK_STREAM, port)) return port;
    }
    throw std::runtime_error("no free port");
}

}  // namespace qv::test
