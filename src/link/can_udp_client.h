#pragma once
// The program's only road to the CAN bus: joins the bridges' multicast group, sends frames as
// datagrams, receives datagrams on a thread of its own, filters them and hands each frame to
// the stream engine or to the one registered listener. It can also open a TCP connection to one
// bridge; while that is up, queued frames go out over TCP instead.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "link/bridge_codec.h"
#include "link/can_frame.h"
#include "link/net/socket.h"
#include "link/stream_engine.h"
#include "link/stream_types.h"

namespace qv {

class SettingsStore;

inline constexpr std::uint16_t kDefaultBridgePort = 4876;
inline constexpr const char* kDefaultGroup = "239.255.60.60";

struct BridgeSettings {
    std::uint32_t group = 0;  // network order; 0 selects the default group
    std::uint16_t port = kDefaultBridgePort;
    std::uint64_t busId = kDefaultBusId;
    int ttl = 1;
    std::uint32_t interfaceAddress = 0;
    std::uint32_t mask = 0;
};

// The settings read from the store's bridge key: "port" (32-bit) and "busId" (64-bit); a missing
// key or value keeps its default.
BridgeSettings bridgeSettingsFrom(const SettingsStore& store);

// Client identifier: (host IPv4 address with its first octet least significant) << 24, or-ed
// with the low 24 bits of a random number.
std::uint64_t makeClientId(std::uint32_t hostAddressNetworkOrder, std::uint32_t random);

class CanUdpClient {
  public:
    // From the settings store at its default path.
    CanUdpClient();
    CanUdpClient(std::uint32_t group, std::uint16_t port, std::uint64_t busId, int ttl,
                 std::uint32_t interfaceAddress, std::uint32_t mask);
    CanUdpClient(const std::string& group, std::uint16_t port, std::uint64_t busId, int ttl,
                 std::uint32_t interfaceAddress, std::uint32_t mask);
    explicit CanUdpClient(const BridgeSettings& settings);
    virtual ~CanUdpClient();
    CanUdpClient(const CanUdpClient&) = delete;
    CanUdpClient& operator=(const CanUdpClient&) = delete;

    virtual void open();
    virtual void openMulticast();
    virtual void connectTcp(std::uint32_t address, std::uint32_t word1, std::uint32_t word2);
    virtual void connectTcp(const std::string& address, std::uint32_t word1, std::uint32_t word2);
    virtual void sendFrame(const CanFrame& frame);
    virtual bool queueFrame(const CanFrame& frame);
    virtual void sendPendingUdp(bool bit6);
    virtual void sendPendingTcp(bool bit6);
    virtual bool flush();
    virtual void close();
    virtual void closeMulticast();
    virtual void closeTcp();

    // Register before open(): every frame the stream engine does not take goes to the listener.
    void setListener(PacketReceivedListener* listener);
    void clearListener();

    // The stream engine hosted by this client (all under the queue lock).
    bool configureStream(std::uint32_t controlId, std::uint32_t dataId, std::uint16_t blockSize,
                         double timeoutMs, std::uint32_t retries, PacketReceivedListener* listener);
    bool startTransfer(std::span<std::uint8_t> buffer, std::uint16_t index, std::uint16_t length,
                       bool thisEndSends, bool initiate, bool variableLength);
    void abortTransfer();
    std::uint16_t framesPerBlock() const;

    std::uint32_t group() const { return settings_.group; }
    std::uint16_t port() const { return settings_.port; }
    std::uint64_t busId() const { return settings_.busId; }
    int ttl() const { return settings_.ttl; }
    std::uint32_t interfaceAddress() const { return settings_.interfaceAddress; }
    std::uint32_t mask() const { return settings_.mask; }
    std::uint64_t clientId() const { return clientId_; }
    bool isMulticastOpen() const;
    bool isTcpOpen() const;
    std::size_t pendingCount() const;
    // Datagrams that could not be taken: dropped by the kernel for want of buffer room, or too
    // long to be a bridge datagram.
    std::uint64_t droppedDatagrams() const;
    // Frames sent (multicast and TCP) and frames handed to the stream engine, since construction.
    std::uint64_t framesSent() const { return framesSent_; }
    std::uint64_t streamFramesReceived() const { return streamFramesReceived_; }
    // Receive-buffer size the kernel granted the multicast socket.
    int receiveBufferSize() const;

    // The receive buffer asked for the multicast socket (the kernel may cap it; see README).
    static constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;

  private:
    void initialise();
    void multicastLoop();
    void tcpLoop();
    void dispatch(const CanPacket& packet);
    bool carriedByTcp(std::uint32_t identifier) const;
    void runStreamPoll();
    void sendDatagram(std::span<const std::uint8_t> bytes);

    BridgeSettings settings_;
    std::uint64_t clientId_ = 0;

    mutable std::recursive_mutex udpLock_;
    mutable std::recursive_mutex tcpLock_;
    mutable std::recursive_mutex listenerLock_;
    mutable std::recursive_mutex queueLock_;

    std::optional<net::UdpSocket> udp_;
    std::thread udpThread_;
    std::atomic<bool> udpRunning_{false};
    std::atomic<std::uint64_t> truncatedDatagrams_{0};
    std::atomic<std::uint32_t> kernelDrops_{0};
    std::atomic<std::uint64_t> framesSent_{0};
    std::atomic<std::uint64_t> streamFramesReceived_{0};

    std::optional<net::TcpSocket> tcp_;
    std::thread tcpThread_;
    // While TCP is up, the identifiers the bridge forwards over it: [low, low + count).
    std::atomic<bool> tcpRangeActive_{false};
    std::atomic<std::uint32_t> tcpRangeLow_{0};
    std::atomic<std::uint32_t> tcpRangeCount_{0};
    std::atomic<bool> tcpRunning_{false};
    bool tcpFirstSend_ = false;
    std::uint32_t tcpWord1_ = 0;
    std::uint32_t tcpWord2_ = 0;

    std::vector<CanFrame> pending_;
    PacketReceivedListener* listener_ = nullptr;
    StreamEngine engine_;
};

}  // namespace qv
