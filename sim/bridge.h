#pragma once
// A CAN-Ethernet bridge: multicasts the traffic of its bus to the group in datagrams of up to 104
// frames, puts frames received from clients (multicast or TCP) onto the bus, reports the bit rate
// in a status frame about once a second, and serves TCP clients that ask for a range of
// identifiers.
#include <poll.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/can_frame.h"
#include "link/net/socket.h"
#include "sim/bus.h"
#include "sim/faults.h"
#include "sim/options.h"

namespace qv::sim {

inline constexpr std::uint32_t kBridgeGroup = 0x3C3CFFEF;  // 239.255.60.60, network order
inline constexpr double kStatusPeriodMs = 1000.0;
// A TCP client whose unsent data grows beyond this is not reading; it is dropped.
inline constexpr std::size_t kMaxTcpBacklog = 1 << 20;
inline constexpr std::size_t kMaxTcpClients = 32;

struct BridgeSettings {
    std::uint32_t interfaceAddress = net::kLoopback;
    std::uint16_t port = 4876;
    std::uint64_t busId = 0;
    std::uint16_t bitrateKbps = 500;
    FaultSettings faults;
    TcpForward tcpForward = TcpForward::kBoth;
    double multicastDelayMs = 0;  // extra, multicast only
    double tcpDelayMs = 0;        // extra, TCP only
    std::vector<FrameFault> frameFaults;
    std::uint64_t seed = 1;
    std::function<void(const std::string&)> log;  // verbose reports; may be empty
};

struct BridgeCounters {
    std::uint64_t datagramsSent = 0;
    std::uint64_t framesMulticast = 0;  // records sent, status frames included
    std::uint64_t framesFromClients = 0;
    std::uint64_t framesLost = 0;
    std::uint64_t framesDuplicated = 0;
    std::uint64_t framesReplayed = 0;  // sent again by a replay fault
    std::uint64_t framesHeld = 0;      // held back by a late fault
    std::uint64_t framesFromTcp = 0;   // of framesFromClients, those that came over TCP
    std::uint64_t tcpAccepted = 0;
    std::uint64_t tcpDropped = 0;  // closed by the client or dropped for bad data
    std::size_t tcpClients = 0;
};

class Bridge : public Node {
  public:
    Bridge(Bus& bus, BridgeSettings settings);
    ~Bridge() override;

    // Opens the multicast socket and the TCP listener. False with a message when that fails.
    bool open(std::string* error);

    void onFrame(const CanFrame& frame, double nowMs) override;
    void tick(double nowMs) override;

    // Adds the sockets to wait on.
    void appendPollFds(std::vector<pollfd>& fds) const;
    // Reads what clients sent (bounded per pass) and puts it on the bus.
    void receive(double nowMs);
    // Sends what is due: status frame, batched datagrams, TCP data.
    void flush(double nowMs);
    // True when frames wait for their delay to pass.
    bool holding() const;
    // Closes every TCP connection at the next flush, as a bridge that loses its clients.
    void dropTcpClients();

    std::uint64_t senderId() const { return senderId_; }
    std::uint16_t tcpPort() const;
    const BridgeCounters& counters() const { return counters_; }

  private:
    struct Outgoing {
        CanFrame frame;
        bool status = false;
    };
    struct TcpClient;

    void log(const std::string& text) const;
    void queueMulticast(const CanFrame& frame, bool status, double nowMs);
    // Sends a bus frame to the clients: multicast, and over TCP to those that asked for it,
    // as the forwarding mode says.
    void emitFrame(const CanFrame& frame, double nowMs);
    // Frame faults: true when the frame is held back instead of sent now.
    bool applyFrameFaults(const CanFrame& frame, double nowMs);
    void receiveMulticast();
    void acceptClients(double nowMs);
    void readClient(TcpClient& client);
    void consumeUnit(TcpClient& client, const std::uint8_t* unit);
    void flushClient(TcpClient& client, double nowMs);
    void dropClient(TcpClient& client, const std::string& why);

    Bus& bus_;
    BridgeSettings settings_;
    std::uint64_t senderId_ = 0;
    std::optional<net::UdpSocket> udp_;
    std::optional<net::TcpListener> listener_;
    FaultInjector multicastFaults_;
    DelayLine<Outgoing> multicastDelay_;
    std::vector<Outgoing> multicastReady_;
    std::vector<std::uint64_t> frameFaultCounts_;
    std::multimap<double, CanFrame> scheduled_;  // replayed and late frames by release time
    std::vector<std::unique_ptr<TcpClient>> clients_;
    std::uint64_t clientsEver_ = 0;
    double nextStatusMs_ = -1;  // -1: not started
    BridgeCounters counters_;
};

}  // namespace qv::sim
