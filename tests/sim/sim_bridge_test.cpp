// The bridge seen from the network: multicast datagrams and the TCP stream, with raw sockets.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>
#include <vector>

#include "link/bridge_codec.h"
#include "link/net/socket.h"
#include "sim/probe.h"
#include "sim/world.h"
#include "support/ports.h"

namespace qv::sim {
namespace {

constexpr std::uint64_t kProbeId = 0x00017F0000ABCDEFull;

Options worldOptions(std::uint16_t port) {
    Options o;
    o.port = port;
    o.seed = 3;
    return o;
}

CanFrame remoteRequest(std::uint32_t id) {
    return CanFrame(id, false, true, 8);
}

// A raw TCP client of the bridge: writes bytes as given, reassembles what comes back.
class RawTcp {
  public:
    explicit RawTcp(std::uint16_t port) {
        auto s = net::TcpSocket::connect(net::kLoopback, port, 1000);
        if (!s) throw std::runtime_error("connect failed");
        socket_ = std::move(*s);
    }
    void write(const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(socket_.sendAll(bytes), static_cast<long>(bytes.size()));
    }
    // Writes the bytes one at a time, with a pause, so that the bridge sees many segments.
    void writeSplit(const std::vector<std::uint8_t>& bytes) {
        for (std::uint8_t b : bytes) {
            write({b});
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    }
    // Reads for `ms`; false when the bridge closed the connection.
    bool readFor(int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::uint8_t buffer[4096];
        while (std::chrono::steady_clock::now() < end) {
            if (!net::waitReadable(socket_.fd(), 5)) continue;
            const long got = socket_.receive(buffer);
            if (got <= 0) return false;
            bytes_.insert(bytes_.end(), buffer, buffer + got);
        }
        return true;
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    // Header then whole records; every record must decode.
    std::vector<CanPacket> packets() const {
        std::vector<CanPacket> out;
        if (bytes_.size() < kHeaderSize) return out;
        const std::size_t whole =
            kHeaderSize + (bytes_.size() - kHeaderSize) / kRecordSize * kRecordSize;
        const std::size_t used = decodeFrames(std::span(bytes_).first(whole), true, 0, 0, out);
        EXPECT_EQ(used, whole) << "a record that does not decode";
        return out;
    }

  private:
    net::TcpSocket socket_;
    std::vector<std::uint8_t> bytes_;
};

std::vector<std::uint8_t> opening(std::uint32_t first, std::uint32_t count, std::uint64_t busId,
                                  const std::vector<CanFrame>& frames) {
    std::vector<std::uint8_t> out(8);
    putBigEndian32(out.data(), first);
    putBigEndian32(out.data() + 4, count);
    encodeFrames(out, frames, busId, kProbeId, true, false);
    return out;
}

TEST(SimBridge, MulticastBatchesEachPassAndReportsTheBitRate) {
    const std::uint16_t port = test::freePort();
    Probe probe(port, kDefaultBusId, kProbeId);
    Options o = worldOptions(port);
    o.bitrateKbps = 1000;
    BackgroundWorld w(o);
    const auto datagrams = probe.collect(1300);
    int status = 0, fullTelemetry = 0;
    for (const ProbeDatagram& d : datagrams) {
        ASSERT_GE(d.bytes, kHeaderSize + kRecordSize);
        EXPECT_LE(d.bytes, kMaxDatagramSize);
        EXPECT_EQ((d.bytes - kHeaderSize) % kRecordSize, 0u);
        EXPECT_EQ(d.source, net::kLoopback);
        int telemetry = 0;
        for (const CanPacket& p : d.packets) {
            EXPECT_EQ(p.busId, kDefaultBusId);
            EXPECT_EQ(p.senderId, w.world().bridgeSenderId());
            if (p.status) {
                ++status;
                EXPECT_EQ(p.frame.data()[0], 0x03);  // 1000 kbit/s, most significant first
                EXPECT_EQ(p.frame.data()[1], 0xE8);
            } else if (p.frame.identifier() > 0x400) {
                ++telemetry;
            }
        }
        // The fifteen telemetry messages of one broadcast leave together.
        fullTelemetry += telemetry == 15;
    }
    EXPECT_GE(status, 1);
    EXPECT_LE(status, 2);
    EXPECT_GE(fullTelemetry, 5);
}

TEST(SimBridge, MulticastFramesReachTheBusUnlessTheyBelongToAnotherBus) {
    const std::uint16_t port = test::freePort();
    Probe probe(port, kDefaultBusId, kProbeId);
    BackgroundWorld w(worldOptions(port));
    const std::uint64_t bridge = w.world().bridgeSenderId();
    // A remote request for 0x40E is answered by one 0x40E more than the broadcasts carry (they
    // send 0x40D and 0x40E together in one datagram). The bridge never echoes the request.
    auto extraAnswers = [&](std::uint64_t busId) {
        EXPECT_TRUE(probe.waitFor(
            [&](const CanPacket& p) {
                return p.senderId == bridge && p.frame.identifier() == 0x40D;
            },
            1000));
        EXPECT_TRUE(probe.sendWithBusId({remoteRequest(0x40E)}, busId));
        int broadcasts = 0, answers = 0;
        for (const ProbeDatagram& d : probe.collect(450))
            for (const CanPacket& p : d.packets) {
                if (p.senderId != bridge) continue;
                EXPECT_FALSE(p.frame.remote());
                broadcasts += p.frame.identifier() == 0x40D;
                answers += p.frame.identifier() == 0x40E;
            }
        EXPECT_GE(broadcasts, 1);
        return answers - broadcasts;
    };
    EXPECT_EQ(extraAnswers(0x1122334455667788ull), 0);
    EXPECT_EQ(extraAnswers(kDefaultBusId), 1);
    EXPECT_EQ(w.world().stats().bridge.framesFromClients, 1u);
}

TEST(SimBridge, TcpClientGetsHeaderOnceThenOnlyItsRangeWhateverTheSegmentation) {
    const std::uint16_t port = test::freePort();
    BackgroundWorld w(worldOptions(port));
    RawTcp tcp(port);
    // Prefix words, header and a remote request, one byte per segment.
    tcp.writeSplit(opening(0x401, 3, kDefaultBusId, {remoteRequest(0x402)}));
    ASSERT_TRUE(tcp.readFor(700));
    ASSERT_GE(tcp.bytes().size(), kHeaderSize + kRecordSize);
    EXPECT_EQ(getBigEndian64(tcp.bytes().data()), kDefaultBusId);
    EXPECT_EQ(getBigEndian64(tcp.bytes().data() + 8), w.world().bridgeSenderId());
    const auto packets = tcp.packets();
    int seen[3] = {0, 0, 0};
    for (const CanPacket& p : packets) {
        ASSERT_GE(p.frame.identifier(), 0x401u);
        ASSERT_LT(p.frame.identifier(), 0x404u);
        EXPECT_FALSE(p.status);
        ++seen[p.frame.identifier() - 0x401];
    }
    // Three broadcasts in 700 ms, and 0x402 once more for the remote request.
    EXPECT_GE(seen[0], 3);
    EXPECT_GE(seen[2], 3);
    EXPECT_EQ(seen[1], seen[0] + 1);
    // Later transmissions are records only: one more request, sent whole.
    std::vector<std::uint8_t> more;
    encodeFrames(more, std::vector<CanFrame>{remoteRequest(0x403)}, 0, 0, false, false);
    tcp.write(more);
    ASSERT_TRUE(tcp.readFor(150));
    const auto after = tcp.packets();
    EXPECT_GT(std::count_if(after.begin(), after.end(),
                            [](const CanPacket& p) { return p.frame.identifier() == 0x403; }),
              std::count_if(packets.begin(), packets.end(),
                            [](const CanPacket& p) { return p.frame.identifier() == 0x403; }));
}

TEST(SimBridge, FaultsApplyToTheTcpStreamFrameByFrame) {
    const std::uint16_t port = test::freePort();
    Options o = worldOptions(port);
    o.dupPercent = 100;
    BackgroundWorld w(o);
    RawTcp tcp(port);
    tcp.write(opening(0x402, 2, kDefaultBusId, {}));
    ASSERT_TRUE(tcp.readFor(500));
    const auto packets = tcp.packets();
    ASSERT_GE(packets.size(), 8u);
    // Every record twice, back to back; one header only.
    for (std::size_t i = 0; i + 1 < packets.size(); i += 2)
        EXPECT_EQ(packets[i].frame, packets[i + 1].frame) << i;
}

TEST(SimBridge, SpeaksFromItsInterfaceAddressAndListensOnlyThere) {
    // The program reaches a bridge by TCP at the address its datagrams come from.
    const std::uint16_t port = test::freePort();
    Probe probe(port, kDefaultBusId, kProbeId);
    Options o = worldOptions(port);
    o.interfaceAddress = *net::parseIPv4("127.0.0.2");
    BackgroundWorld w(o);
    const auto d = probe.receive(1000);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->source, o.interfaceAddress);
    EXPECT_TRUE(net::TcpSocket::connect(o.interfaceAddress, port, 1000));
    EXPECT_FALSE(net::TcpSocket::connect(net::kLoopback, port, 1000));
}

TEST(SimBridge, BadTcpClientsAreDroppedWithoutHurtingOthers) {
    const std::uint16_t port = test::freePort();
    BackgroundWorld w(worldOptions(port));
    RawTcp good(port);
    good.write(opening(0x402, 1, kDefaultBusId, {}));
    RawTcp wrongBus(port);
    wrongBus.write(opening(0x402, 1, 0x99, {}));
    RawTcp garbage(port);
    std::vector<std::uint8_t> bad = opening(0x402, 1, kDefaultBusId, {});
    bad.insert(bad.end(), kRecordSize, 0xFF);  // identifier and length out of range
    garbage.write(bad);
    RawTcp silent(port);  // connects and closes at once
    { RawTcp gone(port); }
    EXPECT_FALSE(wrongBus.readFor(500));
    EXPECT_FALSE(garbage.readFor(100));
    EXPECT_TRUE(good.readFor(700));
    EXPECT_GE(good.packets().size(), 3u);
    EXPECT_TRUE(silent.readFor(50));  // says nothing, gets nothing, stays connected
    EXPECT_TRUE(silent.bytes().empty());
    const WorldStats s = w.world().stats();
    EXPECT_EQ(s.bridge.tcpAccepted, 5u);
    EXPECT_EQ(s.bridge.tcpDropped, 3u);
    EXPECT_EQ(s.bridge.tcpClients, 2u);
}

}  // namespace
}  // namespace qv::sim
