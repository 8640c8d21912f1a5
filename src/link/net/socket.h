#pragma once
// Thin RAII layer over POSIX sockets: just what the bridge client and the simulator need.
// Addresses are IPv4 in network byte order, ports in host order. Failures return false or -1
// with errno set; callers decide what to throw.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qv::net {

// Owns one file descriptor.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

std::optional<std::uint32_t> parseIPv4(const std::string& text);
std::string formatIPv4(std::uint32_t networkOrder);
inline constexpr std::uint32_t kLoopback = 0x0100007F;  // 127.0.0.1 in network order (LE host)

// Waits until `fd` is readable or `timeoutMs` passes. True when readable (or on error/hang-up,
// so that the following read reports it).
bool waitReadable(int fd, int timeoutMs);

struct UdpOptions {
    std::uint32_t group = 0;             // multicast group to join, 0 for none
    std::uint32_t interfaceAddress = 0;  // multicast interface, 0 for any
    std::uint16_t port = 0;              // local port to bind (0: any)
    int ttl = 1;
    int receiveBuffer = 0;  // bytes asked for SO_RCVBUF, 0 to keep the default
    bool reuseAddress = true;
    bool loopback = true;  // IP_MULTICAST_LOOP
};

class UdpSocket {
  public:
    // Creates, configures, binds and (when a group is given) joins. `error` names the step that
    // failed: "bind" for the bind, "socket" or "option" otherwise.
    static std::optional<UdpSocket> open(const UdpOptions& options, std::string* error = nullptr);

    bool valid() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }
    // Sends one datagram; returns the bytes sent or -1.
    long sendTo(std::uint32_t address, std::uint16_t port, std::span<const std::uint8_t> bytes);
    // Non-blocking receive of one datagram into `buffer`; -1 when none is waiting. A datagram
    // longer than the buffer is cut and reported with `*truncated` set.
    long receiveFrom(std::span<std::uint8_t> buffer, std::uint32_t* sourceAddress,
                     bool* truncated = nullptr);
    // Datagrams the kernel dropped for want of receive-buffer room, as last reported with a
    // received datagram (cumulative since the socket opened).
    std::uint32_t kernelDrops() const { return kernelDrops_; }
    // The multicast interface read back from the socket.
    std::uint32_t multicastInterface() const;
    std::uint16_t localPort() const;
    int receiveBufferSize() const;
    // Leaves the group on any interface.
    void leaveGroup();
    void close() { fd_.reset(); }

  private:
    explicit UdpSocket(Fd fd, std::uint32_t group) : fd_(std::move(fd)), group_(group) {}
    Fd fd_;
    std::uint32_t group_ = 0;
    std::uint32_t kernelDrops_ = 0;
};

class TcpSocket {
  public:
    // Blocking connect with a time-out.
    static std::optional<TcpSocket> connect(std::uint32_t address, std::uint16_t port,
                                            int timeoutMs);
    TcpSocket() = default;
    explicit TcpSocket(Fd fd) : fd_(std::move(fd)) {}

    bool valid() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }
    // Sends all bytes (retrying partial sends); returns the bytes sent, -1 on error before any.
    // With `timeoutMs` >= 0 it gives up once that time has passed without the socket taking
    // everything, and returns what was sent by then.
    long sendAll(std::span<const std::uint8_t> bytes, int timeoutMs = -1);
    // One read of what is waiting (blocking only if nothing is); 0 at end of stream, -1 on error.
    long receive(std::span<std::uint8_t> buffer);
    void shutdownSend();
    void shutdownBoth();
    void close() { fd_.reset(); }
    std::uint32_t peerAddress() const;

  private:
    Fd fd_;
};

class TcpListener {
  public:
    static std::optional<TcpListener> listen(std::uint32_t address, std::uint16_t port);
    int fd() const { return fd_.get(); }
    std::uint16_t localPort() const;
    // Accepts one waiting connection, if any (non-blocking).
    std::optional<TcpSocket> accept();

  private:
    explicit TcpListener(Fd fd) : fd_(std::move(fd)) {}
    Fd fd_;
};

}  // namespace qv::net
