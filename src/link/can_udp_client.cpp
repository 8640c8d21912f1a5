#include "link/can_udp_client.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>

#include "link/exceptions.h"
#include "link/net/route.h"
#include "link/platform/settings_store.h"

namespace qv {

namespace {

constexpr int kReceivePollMs = 10;
// Reads of one TCP batch at most (each up to 1472 bytes), so that the engine is polled regularly
// however fast the bridge sends.
constexpr int kMaxTcpReadsPerBatch = 64;

double steadyMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// The host's IPv4 address as the name service lists it last; nothing when it has none.
std::optional<std::uint32_t> hostAddress() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &list) != 0 || list == nullptr) return std::nullopt;
    std::optional<std::uint32_t> last;
    for (addrinfo* a = list; a != nullptr; a = a->ai_next)
        last = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(list);
    return last;
}

}  // namespace

BridgeSettings bridgeSettingsFrom(const SettingsStore& store) {
    BridgeSettings s;
    if (!store.hasKey(kBridgeSettingsKey)) return s;
    if (auto port = store.readUint32(kBridgeSettingsKey, "port"); port && *port <= 0xFFFF)
        s.port = static_cast<std::uint16_t>(*port);
    if (auto bus = store.readUint64(kBridgeSettingsKey, "busId")) s.busId = *bus;
    return s;
}

std::uint64_t makeClientId(std::uint32_t hostAddressNetworkOrder, std::uint32_t random) {
    // Read as a native (little-endian) integer, the network-order address has its first dotted
    // octet in the least significant byte.
    return (static_cast<std::uint64_t>(hostAddressNetworkOrder) << 24) | (random & 0xFFFFFFu);
}

CanUdpClient::CanUdpClient()
    : CanUdpClient(bridgeSettingsFrom(SettingsStore(SettingsStore::defaultPath()))) {}

CanUdpClient::CanUdpClient(std::uint32_t group, std::uint16_t port, std::uint64_t busId, int ttl,
                           std::uint32_t interfaceAddress, std::uint32_t mask)
    : CanUdpClient(BridgeSettings{group, port, busId, ttl, interfaceAddress, mask}) {}

CanUdpClient::CanUdpClient(const std::string& group, std::uint16_t port, std::uint64_t busId,
                           int ttl, std::uint32_t interfaceAddress, std::uint32_t mask)
    : CanUdpClient(BridgeSettings{net::parseIPv4(group).value_or(0), port, busId, ttl,
                                  interfaceAddress, mask}) {}

CanUdpClient::CanUdpClient(const BridgeSettings& settings)
    : settings_(settings),
      engine_(StreamEngine::Io{[this](const CanFrame& f) { return queueFrame(f); },
                               [this] { return flush(); }, [] { return steadyMs(); }}) {
    if (settings_.group == 0) settings_.group = *net::parseIPv4(kDefaultGroup);
    initialise();
}

CanUdpClient::~CanUdpClient() {
    close();
}

void CanUdpClient::initialise() {
    std::random_device device;
    std::mt19937 random(device() ^ static_cast<std::uint32_t>(steadyMs()));
    const std::uint32_t a = hostAddress().value_or(static_cast<std::uint32_t>(random()));
    clientId_ = makeClientId(a, static_cast<std::uint32_t>(random()));
}

void CanUdpClient::open() {
    openMulticast();
}

namespace {

// Joins a receive thread, unless the caller is that thread (a listener closing the client from
// inside a callback): then the thread ends by itself once the callback returns.
void joinReceiveThread(std::thread& thread) {
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();
    else
        thread.join();
}

// Takes a socket's lifecycle lock for closing. On the socket's receive thread (a listener closing
// from a callback) only when nobody else is closing: that one is joining this very thread and
// must not be waited for; false then, and the thread just stops.
bool lockLifecycle(std::unique_lock<std::recursive_mutex>& life,
                   const std::atomic<std::thread::id>& receiveThread) {
    if (receiveThread.load() == std::this_thread::get_id()) return life.try_lock();
    life.lock();
    return true;
}

}  // namespace

void CanUdpClient::openMulticast() {
    std::unique_lock life(udpLifecycle_);
    {
        std::lock_guard lock(udpLock_);
        if (udp_) return;
    }
    net::UdpOptions options;
    options.group = settings_.group;
    options.interfaceAddress = settings_.interfaceAddress;
    options.port = settings_.port;
    options.ttl = settings_.ttl;
    options.receiveBuffer = kReceiveBufferBytes;
    std::string step;
    auto socket = net::UdpSocket::open(options, &step);
    if (!socket) {
        life.unlock();
        close();
        throw IOException(step == "bind" ? "Failed to bind port" : "Failed to open socket");
    }
    auto shared = std::make_shared<net::UdpSocket>(std::move(*socket));
    {
        std::lock_guard lock(udpLock_);
        udp_ = shared;
    }
    udpRunning_ = true;
    udpThread_ = std::thread([this, shared] { multicastLoop(shared); });
    udpThreadId_ = udpThread_.get_id();
}

void CanUdpClient::connectTcp(std::uint32_t address, std::uint32_t word1, std::uint32_t word2) {
    // A listener connecting from inside a callback of the connection finds it open.
    if (isTcpOpen()) return;
    std::lock_guard life(tcpLifecycle_);
    if (tcpState() == TcpState::kOpen) return;
    reapTcp();
    const auto routes = net::readRoutes();
    const auto best = routes ? net::bestRoute(*routes, address) : std::nullopt;
    if (!net::routeAllowsBridge(best, settings_.interfaceAddress, settings_.mask))
        throw IOException("Bridge on unreachable subnet");
    // Connecting may take seconds: no lock but the lifecycle one is held meanwhile.
    auto socket = net::TcpSocket::connect(address, settings_.port, kTcpConnectTimeoutMs);
    if (!socket) throw IOException("TCP connect error");
    auto shared = std::make_shared<net::TcpSocket>(std::move(*socket));
    {
        std::lock_guard lock(tcpLock_);
        tcpFirstSend_ = true;
        tcpWord1_ = word1;
        tcpWord2_ = word2;
    }
    paths_.connected(word1, word2);
    {
        std::lock_guard lock(tcpSocketLock_);
        tcp_ = shared;
        tcpState_ = TcpState::kOpen;
    }
    tcpRunning_ = true;
    tcpThread_ = std::thread([this, shared] { tcpLoop(shared); });
    tcpThreadId_ = tcpThread_.get_id();
}

void CanUdpClient::connectTcp(const std::string& address, std::uint32_t word1,
                              std::uint32_t word2) {
    const auto parsed = net::parseIPv4(address);
    if (!parsed) throw IOException("TCP connect error");
    connectTcp(*parsed, word1, word2);
}

void CanUdpClient::sendDatagram(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(udpLock_);
    if (!udp_) throw IOException("Unable to send CAN packets: CanUdpClient is not open");
    const long sent = udp_->sendTo(settings_.group, settings_.port, bytes);
    if (sent != static_cast<long>(bytes.size())) throw IOException("Sending failed");
}

void CanUdpClient::sendFrame(const CanFrame& frame) {
    std::uint8_t bytes[kHeaderSize + kRecordSize];
    encodeHeader(bytes, settings_.busId, clientId_);
    encodeRecord(bytes + kHeaderSize, frame);
    sendDatagram(bytes);
    ++framesSent_;
}

bool CanUdpClient::queueFrame(const CanFrame& frame) {
    try {
        std::lock_guard lock(queueLock_);
        if (pending_.size() >= kMaxFramesPerDatagram && tcpState() == TcpState::kClosed)
            sendPendingUdp(false);
        pending_.push_back(frame);
        return true;
    } catch (const IOException&) {
        return false;
    }
}

void CanUdpClient::sendPendingUdp(bool bit6) {
    std::lock_guard queue(queueLock_);
    std::vector<std::uint8_t> bytes;
    // At most 104 frames fit a datagram; the frames of a datagram that failed stay pending.
    while (!pending_.empty()) {
        const std::size_t n = std::min(pending_.size(), kMaxFramesPerDatagram);
        bytes.clear();
        encodeFrames(bytes, std::span(pending_.data(), n), settings_.busId, clientId_, true, bit6);
        sendDatagram(bytes);
        framesSent_ += n;
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    }
}

void CanUdpClient::sendPendingTcp(bool bit6) {
    std::lock_guard queue(queueLock_);
    std::lock_guard lock(tcpLock_);
    std::shared_ptr<net::TcpSocket> socket;
    {
        std::lock_guard s(tcpSocketLock_);
        if (tcpState_ == TcpState::kOpen) socket = tcp_;
    }
    if (!socket) {
        // Frames meant for a connection that failed are not sent later some other way.
        if (tcpState() == TcpState::kFailed) pending_.clear();
        throw IOException("Unable to send CAN packets: TCP is not open");
    }
    if (pending_.empty()) return;
    std::vector<std::uint8_t> bytes;
    if (tcpFirstSend_) {
        bytes.resize(8);
        putBigEndian32(bytes.data(), tcpWord1_);
        putBigEndian32(bytes.data() + 4, tcpWord2_);
        paths_.forwardingMayStart();
    }
    encodeFrames(bytes, pending_, settings_.busId, clientId_, tcpFirstSend_, bit6);
    const long sent = socket->sendAll(bytes, kTcpSendTimeoutMs);
    if (sent != static_cast<long>(bytes.size())) {
        // An error, or a bridge that stopped reading. A stream cut inside a record cannot go on,
        // so the connection is given up; its frames are dropped, as a bus would lose them.
        pending_.clear();
        failTcp(socket);
        throw IOException("Sending failed");
    }
    framesSent_ += pending_.size();
    pending_.clear();
    tcpFirstSend_ = false;
}

bool CanUdpClient::flush() {
    try {
        std::lock_guard lock(queueLock_);
        switch (tcpState()) {
            case TcpState::kOpen:
                sendPendingTcp(false);
                break;
            case TcpState::kFailed:
                // The caller relies on the connection: tell it, rather than send some other way.
                pending_.clear();
                return false;
            case TcpState::kClosed:
                sendPendingUdp(false);
                break;
        }
        return true;
    } catch (const IOException&) {
        return false;
    }
}

void CanUdpClient::close() {
    {
        std::lock_guard lock(queueLock_);
        engine_.clear();
    }
    closeMulticast();
    closeTcp();
}

void CanUdpClient::closeMulticast() {
    std::unique_lock life(udpLifecycle_, std::defer_lock);
    if (!lockLifecycle(life, udpThreadId_)) {
        udpRunning_ = false;
        return;
    }
    std::shared_ptr<net::UdpSocket> socket;
    {
        std::lock_guard lock(udpLock_);
        socket = std::move(udp_);
        udp_.reset();
    }
    udpRunning_ = false;
    if (socket) socket->leaveGroup();
    // The thread holds the socket until it ends; it notices the stop within one poll period.
    joinReceiveThread(udpThread_);
    udpThreadId_ = std::thread::id();
}

void CanUdpClient::closeTcp() {
    std::unique_lock life(tcpLifecycle_, std::defer_lock);
    if (!lockLifecycle(life, tcpThreadId_)) {
        tcpRunning_ = false;
        return;
    }
    std::shared_ptr<net::TcpSocket> socket;
    {
        std::lock_guard lock(tcpSocketLock_);
        socket = std::move(tcp_);
        tcp_.reset();
        tcpState_ = TcpState::kClosed;
    }
    tcpRunning_ = false;
    // Wakes a send waiting for room and the receive thread at once, whatever the peer does.
    if (socket) socket->shutdownBoth();
    joinReceiveThread(tcpThread_);
    tcpThreadId_ = std::thread::id();
    paths_.disconnected();
    std::lock_guard lock(tcpLock_);
    tcpFirstSend_ = false;
}

void CanUdpClient::reapTcp() {
    std::lock_guard life(tcpLifecycle_);
    if (tcpState() == TcpState::kOpen) return;
    {
        std::lock_guard lock(tcpSocketLock_);
        tcp_.reset();
        tcpState_ = TcpState::kClosed;
    }
    tcpRunning_ = false;
    joinReceiveThread(tcpThread_);
    tcpThreadId_ = std::thread::id();
}

CanUdpClient::TcpState CanUdpClient::tcpState() const {
    std::lock_guard lock(tcpSocketLock_);
    return tcpState_;
}

void CanUdpClient::failTcp(const std::shared_ptr<net::TcpSocket>& socket) {
    {
        std::lock_guard lock(tcpSocketLock_);
        if (tcp_ != socket || tcpState_ != TcpState::kOpen) return;
        tcpState_ = TcpState::kFailed;
    }
    socket->shutdownBoth();
    paths_.disconnected();
    if (tcpLost_) tcpLost_();
}

void CanUdpClient::setListener(PacketReceivedListener* listener) {
    std::lock_guard lock(listenerLock_);
    listener_ = listener;
}

void CanUdpClient::clearListener() {
    setListener(nullptr);
}

bool CanUdpClient::configureStream(std::uint32_t controlId, std::uint32_t dataId,
                                   std::uint16_t blockSize, double timeoutMs, std::uint32_t retries,
                                   PacketReceivedListener* listener) {
    std::lock_guard lock(queueLock_);
    return engine_.configureStream(controlId, dataId, blockSize, timeoutMs, retries, listener);
}

bool CanUdpClient::startTransfer(std::span<std::uint8_t> buffer, std::uint16_t index,
                                 std::uint16_t length, bool thisEndSends, bool initiate,
                                 bool variableLength) {
    std::lock_guard lock(queueLock_);
    return engine_.startTransfer(buffer, index, length, thisEndSends, initiate, variableLength);
}

void CanUdpClient::abortTransfer() {
    std::lock_guard lock(queueLock_);
    engine_.abortTransfer();
}

void CanUdpClient::abortAfterTimeout() {
    std::lock_guard lock(queueLock_);
    engine_.abortAfterTimeout();
}

std::uint16_t CanUdpClient::framesPerBlock() const {
    std::lock_guard lock(queueLock_);
    return engine_.framesPerBlock();
}

bool CanUdpClient::isMulticastOpen() const {
    std::lock_guard lock(udpLock_);
    return udp_ != nullptr;
}

bool CanUdpClient::isTcpOpen() const {
    return tcpState() == TcpState::kOpen;
}

std::size_t CanUdpClient::pendingCount() const {
    std::lock_guard lock(queueLock_);
    return pending_.size();
}

std::uint64_t CanUdpClient::droppedDatagrams() const {
    return kernelDrops_.load();
}

int CanUdpClient::receiveBufferSize() const {
    std::lock_guard lock(udpLock_);
    return udp_ ? udp_->receiveBufferSize() : 0;
}

void CanUdpClient::dispatch(const CanPacket& packet) {
    const std::uint32_t id = packet.frame.identifier();
    if (!packet.status) {
        std::lock_guard lock(queueLock_);
        if (id == engine_.controlId()) {
            ++streamFramesReceived_;
            engine_.handleCommand(packet.frame);
            return;
        }
        if (id == engine_.dataId() && engine_.wantsData()) {
            ++streamFramesReceived_;
            engine_.handleData(packet.frame);
            return;
        }
    }
    std::lock_guard lock(listenerLock_);
    if (listener_) listener_->onPacketReceived(packet);
}

void CanUdpClient::deliver(TwoPathFilter::Path path, const CanPacket& packet, double nowMs) {
    // Choosing a frame and handing it on is one step: a frame the other path's thread takes
    // after this one is also handed on after it.
    std::lock_guard lock(deliveryLock_);
    if (paths_.take(path, packet.frame, packet.status, nowMs)) dispatch(packet);
}

void CanUdpClient::runStreamPoll() {
    std::lock_guard lock(queueLock_);
    if (!engine_.pollTransfer()) engine_.abortAfterTimeout();
}

void CanUdpClient::multicastLoop(std::shared_ptr<net::UdpSocket> socket) {
    const int fd = socket->fd();
    const std::uint32_t interfaceAddress = socket->multicastInterface();
    // A bridge datagram is at most 1472 bytes; of a longer one the first 1472 (104 records) are
    // taken, as a receive into a buffer of that size gives them.
    std::vector<std::uint8_t> buffer(kMaxDatagramSize);
    std::vector<CanPacket> packets;
    packets.reserve(kMaxFramesPerDatagram);
    while (udpRunning_) {
        net::waitReadable(fd, kReceivePollMs);
        for (int drained = 0; drained < 4096 && udpRunning_; ++drained) {
            std::uint32_t source = 0;
            bool truncated = false;
            const long n = socket->receiveFrom(buffer, &source, &truncated);
            if (n < 0) break;
            kernelDrops_ = socket->kernelDrops();
            if (truncated) ++truncatedDatagrams_;
            if (source == 0) continue;
            packets.clear();
            decodeFrames(std::span(buffer.data(), static_cast<std::size_t>(n)), true, 0, 0,
                         packets);
            const double now = steadyMs();
            for (CanPacket& p : packets) {
                if (p.busId != settings_.busId || p.senderId == clientId_) continue;
                p.sourceAddress = source;
                p.port = settings_.port;
                p.interfaceAddress = interfaceAddress;
                deliver(TwoPathFilter::Path::kMulticast, p, now);
            }
        }
        runStreamPoll();
    }
}

void CanUdpClient::tcpLoop(std::shared_ptr<net::TcpSocket> socket) {
    const int fd = socket->fd();
    // Every frame of the connection carries the identifiers of the bridge's header, however the
    // stream was cut into reads: a bridge of another bus stays foreign for the whole connection.
    TcpStreamDecoder decoder;
    std::vector<std::uint8_t> buffer(kMaxDatagramSize);
    std::vector<CanPacket> packets;
    while (tcpRunning_) {
        if (!net::waitReadable(fd, kReceivePollMs)) continue;
        // What has arrived is taken as one batch, as the multicast thread takes what its socket
        // holds; then the stream engine acts on it at once (a block that completed is taken and
        // acknowledged) instead of at the multicast thread's next pass, up to 10 ms later when
        // the range comes only over TCP.
        for (int reads = 0; reads < kMaxTcpReadsPerBatch && tcpRunning_; ++reads) {
            const long n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            if (n <= 0) {
                // The bridge closed the connection, or it failed: in-range frames come by
                // multicast again and sending over it reports failure.
                if (tcpRunning_) failTcp(socket);
                return;
            }
            packets.clear();
            decoder.feed(std::span(buffer.data(), static_cast<std::size_t>(n)),
                         decoder.headerBusId(), decoder.headerSenderId(), packets);
            const double now = steadyMs();
            for (const CanPacket& p : packets) {
                if (p.busId != settings_.busId || p.senderId == clientId_) continue;
                deliver(TwoPathFilter::Path::kTcp, p, now);
            }
        }
        runStreamPoll();
    }
}

}  // namespace qv
