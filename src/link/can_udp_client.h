#pragma once
// The program's only road to the CAN bus: joins the bridges' multicast group, sends frames as
// datagrams, receives datagrams on a thread of its own, filters them and hands each frame to
// the stream engine or to the one registered listener. It can also open a TCP connection to one
// bridge; while that is up, queued frames go out over TCP instead.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
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
#include "link/two_path_filter.h"

namespace qv {

class SettingsStore;

inline constexpr std::uint16_t kDefaultBridgePort = 4876;
inline constexpr const char* kDefaultGroup = "239.255.60.60";
// A TCP send that cannot hand its bytes to the socket within this time has failed: the bridge
// does not read, and the connection is given up.
inline constexpr int kTcpSendTimeoutMs = 1000;
inline constexpr int kTcpConnectTimeoutMs = 3000;

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

// Every operation may be called from any thread; open and close of each socket are serialised,
// and close() may be called any number of times, also while another thread opens or closes.
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
    // Set before connectTcp(): called when a connection that was open fails or is closed by the
    // bridge (closeTcp() does not call it). It runs with client locks held and must not call
    // into the client.
    void setTcpLostHook(std::function<void()> hook) { tcpLost_ = std::move(hook); }

    // The stream engine hosted by this client (all under the queue lock).
    bool configureStream(std::uint32_t controlId, std::uint32_t dataId, std::uint16_t blockSize,
                         double timeoutMs, std::uint32_t retries, PacketReceivedListener* listener);
    bool startTransfer(std::span<std::uint8_t> buffer, std::uint16_t index, std::uint16_t length,
                       bool thisEndSends, bool initiate, bool variableLength);
    void abortTransfer();
    // Ends a running transfer as if its retries had run out (abort with code 0).
    void abortAfterTimeout();
    std::uint16_t framesPerBlock() const;

    std::uint32_t group() const { return settings_.group; }
    std::uint16_t port() const { return settings_.port; }
    std::uint64_t busId() const { return settings_.busId; }
    int ttl() const { return settings_.ttl; }
    std::uint32_t interfaceAddress() const { return settings_.interfaceAddress; }
    std::uint32_t mask() const { return settings_.mask; }
    std::uint64_t clientId() const { return clientId_; }
    bool isMulticastOpen() const;
    // True while a TCP connection is up: not after closeTcp(), nor once the bridge closed it or
    // a send or receive on it failed.
    bool isTcpOpen() const;
    std::size_t pendingCount() const;
    // Datagrams the kernel dropped for want of receive-buffer room.
    std::uint64_t droppedDatagrams() const;
    // Datagrams longer than a bridge datagram: their first 1472 bytes (104 records) were taken.
    std::uint64_t truncatedDatagrams() const { return truncatedDatagrams_; }
    // Frames sent (multicast and TCP) and frames handed to the stream engine, since construction.
    std::uint64_t framesSent() const { return framesSent_; }
    std::uint64_t streamFramesReceived() const { return streamFramesReceived_; }
    // Receive-buffer size the kernel granted the multicast socket.
    int receiveBufferSize() const;

    // The receive buffer asked for the multicast socket (the kernel may cap it; see README).
    static constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;

  private:
    enum class TcpState { kClosed, kOpen, kFailed };

    void initialise();
    void multicastLoop(std::shared_ptr<net::UdpSocket> socket);
    void tcpLoop(std::shared_ptr<net::TcpSocket> socket);
    void dispatch(const CanPacket& packet);
    void deliver(TwoPathFilter::Path path, const CanPacket& packet, double nowMs);
    void runStreamPoll();
    void sendDatagram(std::span<const std::uint8_t> bytes);
    TcpState tcpState() const;
    // The connection on `socket` failed: it counts as closed for sending and receiving.
    void failTcp(const std::shared_ptr<net::TcpSocket>& socket);
    // Joins the receive thread of a connection that ended by itself and forgets its socket.
    void reapTcp();

    BridgeSettings settings_;
    std::uint64_t clientId_ = 0;

    mutable std::recursive_mutex udpLock_;
    mutable std::recursive_mutex tcpLock_;
    mutable std::recursive_mutex listenerLock_;
    mutable std::recursive_mutex queueLock_;
    // Held across each opening and closing of a socket, joins included; never by a receive thread.
    std::recursive_mutex udpLifecycle_;
    std::recursive_mutex tcpLifecycle_;
    // Guards tcp_ and tcpState_ only; never held while blocking.
    mutable std::mutex tcpSocketLock_;
    // Taken by the receive threads only, first, around choosing and handing on each frame. A
    // listener must therefore not close the client's sockets from inside a callback while the
    // other receive thread might be waiting for it (the port never does).
    std::mutex deliveryLock_;

    std::shared_ptr<net::UdpSocket> udp_;
    std::thread udpThread_;
    std::atomic<std::thread::id> udpThreadId_{};
    std::atomic<bool> udpRunning_{false};
    std::atomic<std::uint64_t> truncatedDatagrams_{0};
    std::atomic<std::uint32_t> kernelDrops_{0};
    std::atomic<std::uint64_t> framesSent_{0};
    std::atomic<std::uint64_t> streamFramesReceived_{0};

    std::shared_ptr<net::TcpSocket> tcp_;
    TcpState tcpState_ = TcpState::kClosed;
    std::thread tcpThread_;
    std::atomic<std::thread::id> tcpThreadId_{};
    std::atomic<bool> tcpRunning_{false};
    bool tcpFirstSend_ = false;
    std::uint32_t tcpWord1_ = 0;
    std::uint32_t tcpWord2_ = 0;
    std::function<void()> tcpLost_;
    TwoPathFilter paths_;

    std::vector<CanFrame> pending_;
    PacketReceivedListener* listener_ = nullptr;
    StreamEngine engine_;
};

}  // namespace qv
