#include "sim/bridge.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/bridge_codec.h"

namespace qv::sim {

namespace {

constexpr std::size_t kPrefixSize = 8;
constexpr int kMaxDatagramsPerPass = 256;
constexpr int kMaxReadsPerClientPass = 8;

}  // namespace

// One TCP connection. Its input is reassembled unit by unit (prefix words, header, records)
// whatever the segmentation; its output is a bounded byte queue sent without blocking.
struct Bridge::TcpClient {
    enum class Phase { kPrefix, kHeader, kRecords };

    TcpClient(net::TcpSocket s, const FaultSettings& faults, std::uint64_t seed, std::uint64_t n)
        : socket(std::move(s)), faults(faults, seed), number(n) {}

    std::size_t unitSize() const {
        return phase == Phase::kPrefix   ? kPrefixSize
               : phase == Phase::kHeader ? kHeaderSize
                                         : kRecordSize;
    }

    net::TcpSocket socket;
    FaultInjector faults;
    std::uint64_t number;
    Phase phase = Phase::kPrefix;
    std::uint8_t unit[kHeaderSize] = {};
    std::size_t held = 0;
    std::uint32_t first = 0;  // forwarded identifiers: [first, first + count)
    std::uint32_t count = 0;
    bool rangeKnown = false;
    bool headerSent = false;
    DelayLine<CanFrame> delayed;
    std::vector<CanFrame> ready;
    std::vector<std::uint8_t> out;
    std::size_t outSent = 0;
    bool dead = false;
};

Bridge::Bridge(Bus& bus, BridgeSettings settings)
    : bus_(bus),
      settings_(std::move(settings)),
      multicastFaults_(settings_.faults, deriveSeed(settings_.seed, 1)) {
    std::mt19937_64 identity(deriveSeed(settings_.seed, 0));
    senderId_ = identity();
}

Bridge::~Bridge() {
    if (udp_) udp_->leaveGroup();
}

void Bridge::log(const std::string& text) const {
    if (settings_.log) settings_.log(text);
}

bool Bridge::open(std::string* error) {
    net::UdpOptions u;
    u.group = kBridgeGroup;
    u.interfaceAddress = settings_.interfaceAddress;
    u.port = settings_.port;
    u.ttl = 1;
    u.loopback = true;  // clients on this host must hear the bus
    std::string step;
    udp_ = net::UdpSocket::open(u, &step);
    if (!udp_) {
        if (error)
            *error = "cannot open the multicast socket on " +
                     net::formatIPv4(settings_.interfaceAddress) + " port " +
                     std::to_string(settings_.port) + " (" + step + ": " + std::strerror(errno) +
                     ")";
        return false;
    }
    listener_ = net::TcpListener::listen(settings_.interfaceAddress, settings_.port);
    if (!listener_) {
        if (error)
            *error = "cannot listen for TCP on " + net::formatIPv4(settings_.interfaceAddress) +
                     " port " + std::to_string(settings_.port) + " (" + std::strerror(errno) + ")";
        udp_.reset();
        return false;
    }
    return true;
}

std::uint16_t Bridge::tcpPort() const {
    return listener_ ? listener_->localPort() : 0;
}

void Bridge::appendPollFds(std::vector<pollfd>& fds) const {
    if (udp_) fds.push_back({udp_->fd(), POLLIN, 0});
    if (listener_) fds.push_back({listener_->fd(), POLLIN, 0});
    for (const auto& c : clients_) {
        const short events =
            static_cast<short>(POLLIN | (c->out.size() > c->outSent ? POLLOUT : 0));
        fds.push_back({c->socket.fd(), events, 0});
    }
}

void Bridge::onFrame(const CanFrame& frame, double nowMs) {
    if (!applyFrameFaults(frame, nowMs)) emitFrame(frame, nowMs);
}

bool Bridge::applyFrameFaults(const CanFrame& frame, double nowMs) {
    frameFaultCounts_.resize(settings_.frameFaults.size(), 0);
    bool held = false;
    for (std::size_t i = 0; i < settings_.frameFaults.size(); ++i) {
        const FrameFault& f = settings_.frameFaults[i];
        if (frame.identifier() != f.identifier) continue;
        if (f.firstByte >= 0 && frame.data()[0] != f.firstByte) continue;
        if (++frameFaultCounts_[i] % f.every != 0) continue;
        if (f.replay) {
            ++counters_.framesReplayed;
        } else {
            if (held) continue;
            held = true;
            ++counters_.framesHeld;
        }
        scheduled_.emplace(nowMs + f.ms, frame);
    }
    return held;
}

void Bridge::emitFrame(const CanFrame& frame, double nowMs) {
    bool carriedByTcp = false;
    for (auto& c : clients_) {
        if (c->dead || !c->rangeKnown || settings_.tcpForward == TcpForward::kNone) continue;
        const std::uint64_t id = frame.identifier();
        if (id < c->first || id >= std::uint64_t{c->first} + c->count) continue;
        carriedByTcp = true;
        for (int k = c->faults.copies(); k > 0; --k)
            c->delayed.push(frame, nowMs + c->faults.delayMs() + settings_.tcpDelayMs);
    }
    if (settings_.tcpForward == TcpForward::kTcp && carriedByTcp) return;
    queueMulticast(frame, false, nowMs);
}

void Bridge::queueMulticast(const CanFrame& frame, bool status, double nowMs) {
    const double release = nowMs + multicastFaults_.delayMs() + settings_.multicastDelayMs;
    for (int k = multicastFaults_.copies(); k > 0; --k)
        multicastDelay_.push(Outgoing{frame, status}, release);
}

void Bridge::tick(double nowMs) {
    if (nextStatusMs_ < 0) nextStatusMs_ = nowMs;  // first pass
    if (nowMs >= nextStatusMs_) {
        // Bit rate in kbit/s, most significant byte first.
        CanFrame::Data data{};
        data[0] = static_cast<std::uint8_t>(settings_.bitrateKbps >> 8);
        data[1] = static_cast<std::uint8_t>(settings_.bitrateKbps & 0xFF);
        queueMulticast(CanFrame(0, false, false, 8, data), true, nowMs);
        nextStatusMs_ = nextDeadline(nextStatusMs_, kStatusPeriodMs, nowMs);
    }
}

void Bridge::receive(double nowMs) {
    receiveMulticast();
    acceptClients(nowMs);
    for (auto& c : clients_)
        if (!c->dead) readClient(*c);
}

void Bridge::receiveMulticast() {
    if (!udp_) return;
    std::uint8_t buffer[kMaxDatagramSize];
    std::vector<CanPacket> packets;
    for (int n = 0; n < kMaxDatagramsPerPass; ++n) {
        std::uint32_t source = 0;
        const long got = udp_->receiveFrom(buffer, &source);
        if (got < 0) break;
        packets.clear();
        decodeFrames(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(got)), true, 0,
                     0, packets);
        for (const CanPacket& p : packets) {
            // Another bus, our own datagram looped back, or another bridge's status frame.
            if (p.busId != settings_.busId || p.senderId == senderId_ || p.status) continue;
            ++counters_.framesFromClients;
            bus_.send(p.frame, this);
        }
    }
}

void Bridge::acceptClients(double) {
    if (!listener_) return;
    while (auto socket = listener_->accept()) {
        if (clients_.size() >= kMaxTcpClients) {
            log("tcp: refused a connection, " + std::to_string(kMaxTcpClients) + " are open");
            continue;  // closed as it goes out of scope
        }
        const int fd = socket->fd();
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
        const std::uint64_t n = ++clientsEver_;
        clients_.push_back(std::make_unique<TcpClient>(std::move(*socket), settings_.faults,
                                                       deriveSeed(settings_.seed, 100 + n), n));
        ++counters_.tcpAccepted;
        log("tcp: client " + std::to_string(n) + " connected from " +
            net::formatIPv4(clients_.back()->socket.peerAddress()));
    }
    counters_.tcpClients = clients_.size();
}

void Bridge::readClient(TcpClient& c) {
    std::uint8_t buffer[kMaxDatagramSize];
    for (int n = 0; n < kMaxReadsPerClientPass && !c.dead; ++n) {
        const long got = ::recv(c.socket.fd(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (got == 0) return dropClient(c, "closed the connection");
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
            return dropClient(c, std::string("read error: ") + std::strerror(errno));
        }
        std::size_t pos = 0;
        const auto size = static_cast<std::size_t>(got);
        while (pos < size && !c.dead) {
            const std::size_t need = c.unitSize();
            const std::size_t take = std::min(need - c.held, size - pos);
            std::memcpy(c.unit + c.held, buffer + pos, take);
            c.held += take;
            pos += take;
            if (c.held < need) break;
            c.held = 0;
            consumeUnit(c, c.unit);
        }
    }
}

void Bridge::consumeUnit(TcpClient& c, const std::uint8_t* unit) {
    switch (c.phase) {
        case TcpClient::Phase::kPrefix:
            c.first = getBigEndian32(unit);
            c.count = getBigEndian32(unit + 4);
            c.rangeKnown = true;
            c.phase = TcpClient::Phase::kHeader;
            log("tcp: client " + std::to_string(c.number) + " asks for " + std::to_string(c.count) +
                " identifiers from " + std::to_string(c.first));
            return;
        case TcpClient::Phase::kHeader:
            if (getBigEndian64(unit) != settings_.busId)
                return dropClient(c, "sent a header for another bus");
            c.phase = TcpClient::Phase::kRecords;
            return;
        case TcpClient::Phase::kRecords: {
            std::vector<CanPacket> packets;
            if (decodeFrames(std::span<const std::uint8_t>(unit, kRecordSize), false,
                             settings_.busId, 0, packets) != kRecordSize)
                return dropClient(c, "sent an invalid frame record");
            if (packets.front().status) return;  // not bus traffic
            ++counters_.framesFromClients;
            ++counters_.framesFromTcp;
            bus_.send(packets.front().frame, this);
            return;
        }
    }
}

void Bridge::flushClient(TcpClient& c, double nowMs) {
    c.delayed.release(nowMs, c.ready);
    if (!c.ready.empty()) {
        // The bridge's first transmission starts with the header; later ones are records only.
        if (!c.headerSent) {
            const std::size_t at = c.out.size();
            c.out.resize(at + kHeaderSize);
            encodeHeader(c.out.data() + at, settings_.busId, senderId_);
            c.headerSent = true;
        }
        encodeFrames(c.out, c.ready, settings_.busId, senderId_, false, false);
        c.ready.clear();
    }
    while (c.outSent < c.out.size()) {
        const long sent = ::send(c.socket.fd(), c.out.data() + c.outSent, c.out.size() - c.outSent,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            return dropClient(c, std::string("send error: ") + std::strerror(errno));
        }
        c.outSent += static_cast<std::size_t>(sent);
    }
    if (c.outSent == c.out.size()) {
        c.out.clear();
        c.outSent = 0;
    } else if (c.out.size() - c.outSent > kMaxTcpBacklog) {
        dropClient(c, "does not read what it is sent");
    }
}

void Bridge::dropClient(TcpClient& c, const std::string& why) {
    if (c.dead) return;
    c.dead = true;
    ++counters_.tcpDropped;
    log("tcp: client " + std::to_string(c.number) + " " + why);
}

void Bridge::dropTcpClients() {
    for (auto& c : clients_) dropClient(*c, "dropped on request");
}

void Bridge::flush(double nowMs) {
    while (!scheduled_.empty() && scheduled_.begin()->first <= nowMs) {
        const CanFrame frame = scheduled_.begin()->second;
        scheduled_.erase(scheduled_.begin());
        emitFrame(frame, nowMs);
    }
    for (auto& c : clients_)
        if (!c->dead) flushClient(*c, nowMs);
    const auto before = clients_.size();
    std::erase_if(clients_, [](const auto& c) { return c->dead; });
    if (clients_.size() != before) counters_.tcpClients = clients_.size();

    multicastDelay_.release(nowMs, multicastReady_);
    if (!udp_ || multicastReady_.empty()) {
        multicastReady_.clear();
        return;
    }
    // Frames that became due in the same pass share datagrams, 104 at most in each.
    std::vector<std::uint8_t> datagram;
    for (std::size_t start = 0; start < multicastReady_.size(); start += kMaxFramesPerDatagram) {
        const std::size_t n = std::min(kMaxFramesPerDatagram, multicastReady_.size() - start);
        datagram.assign(kHeaderSize + n * kRecordSize, 0);
        encodeHeader(datagram.data(), settings_.busId, senderId_);
        for (std::size_t k = 0; k < n; ++k) {
            const Outgoing& o = multicastReady_[start + k];
            encodeRecord(datagram.data() + kHeaderSize + k * kRecordSize, o.frame,
                         o.status ? flags::kStatus : 0);
        }
        if (udp_->sendTo(kBridgeGroup, settings_.port, datagram) ==
            static_cast<long>(datagram.size())) {
            ++counters_.datagramsSent;
            counters_.framesMulticast += n;
        }
    }
    multicastReady_.clear();
    counters_.framesLost = multicastFaults_.lost();
    counters_.framesDuplicated = multicastFaults_.duplicated();
}

bool Bridge::holding() const {
    if (!multicastDelay_.empty() || !scheduled_.empty()) return true;
    return std::any_of(clients_.begin(), clients_.end(),
                       [](const auto& c) { return !c->delayed.empty(); });
}

}  // namespace qv::sim
