#include "link/net/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace qv::net {

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

int Fd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void Fd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

std::optional<std::uint32_t> parseIPv4(const std::string& text) {
    in_addr addr{};
    if (::inet_pton(AF_INET, text.c_str(), &addr) != 1) return std::nullopt;
    return addr.s_addr;
}

std::string formatIPv4(std::uint32_t networkOrder) {
    in_addr addr{};
    addr.s_addr = networkOrder;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

bool waitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc > 0;
}

namespace {

sockaddr_in makeAddress(std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    sa.sin_port = htons(port);
    return sa;
}

bool setNonBlocking(int fd) {
    const int fl = ::fcntl(fd, F_GETFL, 0);
    return fl >= 0 && ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0;
}

void setError(std::string* error, const char* what) {
    if (error) *error = what;
}

}  // namespace

std::optional<UdpSocket> UdpSocket::open(const UdpOptions& o, std::string* error) {
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return setError(error, "socket"), std::nullopt;
    const int one = 1;
    if (o.reuseAddress && ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
        return setError(error, "option"), std::nullopt;
    if (o.receiveBuffer > 0) {
        // Ask for the size; the kernel caps it at net.core.rmem_max. Root may go above the cap.
        ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &o.receiveBuffer, sizeof o.receiveBuffer);
        ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUFFORCE, &o.receiveBuffer,
                     sizeof o.receiveBuffer);
    }
    const unsigned char ttl = static_cast<unsigned char>(o.ttl);
    const unsigned char loop = o.loopback ? 1 : 0;
    in_addr iface{};
    iface.s_addr = o.interfaceAddress;
    if (::setsockopt(fd.get(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0 ||
        ::setsockopt(fd.get(), IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0 ||
        ::setsockopt(fd.get(), IPPROTO_IP, IP_MULTICAST_IF, &iface, sizeof iface) != 0)
        return setError(error, "option"), std::nullopt;
    // Let received datagrams report how many the kernel dropped for want of buffer room.
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RXQ_OVFL, &one, sizeof one);
    // Only the groups this socket joined, not every group some other socket of the host joined.
    const int zero = 0;
    ::setsockopt(fd.get(), IPPROTO_IP, IP_MULTICAST_ALL, &zero, sizeof zero);
    if (!setNonBlocking(fd.get())) return setError(error, "option"), std::nullopt;
    // A socket bound to a unicast address does not see multicast on Linux: bind to any address
    // and let the group membership on the chosen interface select the traffic.
    const sockaddr_in local = makeAddress(INADDR_ANY, o.port);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return setError(error, "bind"), std::nullopt;
    if (o.group != 0) {
        ip_mreq mreq{};
        mreq.imr_multiaddr.s_addr = o.group;
        mreq.imr_interface.s_addr = o.interfaceAddress;
        if (::setsockopt(fd.get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0)
            return setError(error, "bind"), std::nullopt;
    }
    return UdpSocket(std::move(fd), o.group);
}

long UdpSocket::sendTo(std::uint32_t address, std::uint16_t port,
                       std::span<const std::uint8_t> bytes) {
    const sockaddr_in to = makeAddress(address, port);
    long rc;
    do {
        rc = ::sendto(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        // The send buffer is full: wait briefly for room rather than lose the datagram.
        pollfd p{fd_.get(), POLLOUT, 0};
        if (::poll(&p, 1, 100) > 0)
            rc = ::sendto(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    return rc;
}

long UdpSocket::receiveFrom(std::span<std::uint8_t> buffer, std::uint32_t* sourceAddress,
                            bool* truncated) {
    sockaddr_in from{};
    iovec iov{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(std::uint32_t))];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    long rc;
    do {
        rc = ::recvmsg(fd_.get(), &msg, MSG_DONTWAIT);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return rc;
    if (sourceAddress) *sourceAddress = from.sin_addr.s_addr;
    if (truncated) *truncated = (msg.msg_flags & MSG_TRUNC) != 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL &&
            c->cmsg_len >= CMSG_LEN(sizeof(std::uint32_t)))
            std::memcpy(&kernelDrops_, CMSG_DATA(c), sizeof kernelDrops_);
    }
    return rc;
}

std::uint32_t UdpSocket::multicastInterface() const {
    in_addr iface{};
    socklen_t len = sizeof iface;
    if (::getsockopt(fd_.get(), IPPROTO_IP, IP_MULTICAST_IF, &iface, &len) != 0) return 0;
    return iface.s_addr;
}

std::uint16_t UdpSocket::localPort() const {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

int UdpSocket::receiveBufferSize() const {
    int size = 0;
    socklen_t len = sizeof size;
    ::getsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &size, &len);
    return size;
}

void UdpSocket::leaveGroup() {
    if (group_ == 0 || !fd_.valid()) return;
    ip_mreq mreq{};
    mreq.imr_multiaddr.s_addr = group_;
    mreq.imr_interface.s_addr = INADDR_ANY;
    ::setsockopt(fd_.get(), IPPROTO_IP, IP_DROP_MEMBERSHIP, &mreq, sizeof mreq);
}

std::optional<TcpSocket> TcpSocket::connect(std::uint32_t address, std::uint16_t port,
                                            int timeoutMs) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid() || !setNonBlocking(fd.get())) return std::nullopt;
    const sockaddr_in to = makeAddress(address, port);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        if (errno != EINPROGRESS) return std::nullopt;
        pollfd p{fd.get(), POLLOUT, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
            return std::nullopt;
    }
    // Back to blocking: the receive thread waits with poll, sends complete before returning.
    const int fl = ::fcntl(fd.get(), F_GETFL, 0);
    ::fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK);
    const int one = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return TcpSocket(std::move(fd));
}

long TcpSocket::sendAll(std::span<const std::uint8_t> bytes, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int flags = MSG_NOSIGNAL | (timeoutMs >= 0 ? MSG_DONTWAIT : 0);
        const long rc = ::send(fd_.get(), bytes.data() + sent, bytes.size() - sent, flags);
        if (rc >= 0) {
            sent += static_cast<std::size_t>(rc);
            continue;
        }
        if (errno == EINTR) continue;
        if (timeoutMs >= 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{fd_.get(), POLLOUT, 0};
            if (left.count() > 0 && ::poll(&p, 1, static_cast<int>(left.count())) > 0) continue;
            if (left.count() > 0 && errno == EINTR) continue;
            break;  // time is up
        }
        return sent > 0 ? static_cast<long>(sent) : -1;
    }
    return static_cast<long>(sent);
}

long TcpSocket::receive(std::span<std::uint8_t> buffer) {
    long rc;
    do {
        rc = ::recv(fd_.get(), buffer.data(), buffer.size(), 0);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

void TcpSocket::shutdownSend() {
    if (fd_.valid()) ::shutdown(fd_.get(), SHUT_WR);
}

void TcpSocket::shutdownBoth() {
    if (fd_.valid()) ::shutdown(fd_.get(), SHUT_RDWR);
}

std::uint32_t TcpSocket::peerAddress() const {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getpeername(fd_.get(), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    return sa.sin_addr.s_addr;
}

std::optional<TcpListener> TcpListener::listen(std::uint32_t address, std::uint16_t port) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return std::nullopt;
    const int one = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in local = makeAddress(address, port);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(fd.get(), 8) != 0 || !setNonBlocking(fd.get()))
        return std::nullopt;
    return TcpListener(std::move(fd));
}

std::uint16_t TcpListener::localPort() const {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

std::optional<TcpSocket> TcpListener::accept() {
    const int fd = ::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return std::nullopt;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return TcpSocket(Fd(fd));
}

}  // namespace qv::net
