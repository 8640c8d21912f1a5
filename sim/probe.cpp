#include "sim/probe.h"

#include <chrono>
#include <stdexcept>

#include "link/bridge_codec.h"
#include "sim/bridge.h"

namespace qv::sim {

namespace {

net::UdpSocket openSocket(std::uint16_t port, std::uint32_t interfaceAddress) {
    net::UdpOptions o;
    o.group = kBridgeGroup;
    o.interfaceAddress = interfaceAddress;
    o.port = port;
    o.receiveBuffer = 1 << 20;
    auto s = net::UdpSocket::open(o);
    if (!s) throw std::runtime_error("probe: cannot join the group");
    return std::move(*s);
}

double clockMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

Probe::Probe(std::uint16_t port, std::uint64_t busId, std::uint64_t senderId,
             std::uint32_t interfaceAddress)
    : socket_(openSocket(port, interfaceAddress)),
      port_(port),
      busId_(busId),
      senderId_(senderId) {}

std::optional<ProbeDatagram> Probe::receive(int timeoutMs) {
    const double end = clockMs() + timeoutMs;
    std::uint8_t buffer[kMaxDatagramSize];
    for (;;) {
        std::uint32_t source = 0;
        const long got = socket_.receiveFrom(buffer, &source);
        if (got >= 0) {
            ProbeDatagram d;
            d.bytes = static_cast<std::size_t>(got);
            d.source = source;
            decodeFrames(std::span<const std::uint8_t>(buffer, d.bytes), true, 0, 0, d.packets);
            return d;
        }
        const double left = end - clockMs();
        if (left <= 0) return std::nullopt;
        net::waitReadable(socket_.fd(), static_cast<int>(left) + 1);
    }
}

std::vector<ProbeDatagram> Probe::collect(int durationMs) {
    std::vector<ProbeDatagram> out;
    const double end = clockMs() + durationMs;
    for (double left = durationMs; left > 0; left = end - clockMs())
        if (auto d = receive(static_cast<int>(left) + 1)) out.push_back(std::move(*d));
    return out;
}

std::optional<CanPacket> Probe::waitFor(const std::function<bool(const CanPacket&)>& match,
                                        int timeoutMs) {
    const double end = clockMs() + timeoutMs;
    for (double left = timeoutMs; left > 0; left = end - clockMs()) {
        auto d = receive(static_cast<int>(left) + 1);
        if (!d) continue;
        for (const CanPacket& p : d->packets)
            if (match(p)) return p;
    }
    return std::nullopt;
}

bool Probe::send(const std::vector<CanFrame>& frames) {
    return sendWithBusId(frames, busId_);
}

bool Probe::sendWithBusId(const std::vector<CanFrame>& frames, std::uint64_t busId) {
    const auto bytes = encodeFrames(frames, busId, senderId_, true, false);
    return socket_.sendTo(kBridgeGroup, port_, bytes) == static_cast<long>(bytes.size());
}

}  // namespace qv::sim
