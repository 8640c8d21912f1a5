// The bridge client against raw sockets and against another client, over loopback.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "link/can_udp_client.h"
#include "link/exceptions.h"
#include "link/platform/settings_store.h"
#include "support/loopback.h"
#include "support/ports.h"
#include "support/wait.h"

namespace qv {
namespace {

class RecordingListener : public PacketReceivedListener {
  public:
    void onPacketReceived(const CanPacket& packet) override {
        std::lock_guard lock(mutex_);
        packets_.push_back(packet);
    }
    int onStreamEvent(int, TransferInfo&) override { return 3; }
    std::vector<CanPacket> packets() {
        std::lock_guard lock(mutex_);
        return packets_;
    }
    std::size_t count() { return packets().size(); }

  private:
    std::mutex mutex_;
    std::vector<CanPacket> packets_;
};

std::string ioText(const std::function<void()>& action) {
    try {
        action();
    } catch (const IOException& e) {
        return e.message();
    }
    return "";
}

std::vector<std::uint8_t> receiveDatagram(net::UdpSocket& socket, int timeoutMs = 2000) {
    std::vector<std::uint8_t> buffer(2048);
    if (!net::waitReadable(socket.fd(), timeoutMs)) return {};
    std::uint32_t source = 0;
    const long n = socket.receiveFrom(buffer, &source);
    buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return buffer;
}

TEST(ClientId, HostAddressOctetsLastFirstThenThreeRandomBytes) {
    const std::uint32_t host = *net::parseIPv4("192.168.1.5");
    std::uint8_t bytes[8];
    putBigEndian64(bytes, makeClientId(host, 0xAB123456));
    const std::uint8_t expected[8] = {0x00, 0x05, 0x01, 0xA8, 0xC0, 0x12, 0x34, 0x56};
    EXPECT_EQ(0, std::memcmp(bytes, expected, 8));
}

TEST(BridgeSettings, MissingKeyOrValuesKeepTheDefaults) {
    const std::string path = ::testing::TempDir() + "/qv_settings_missing.ini";
    std::remove(path.c_str());
    const BridgeSettings none = bridgeSettingsFrom(SettingsStore(path));
    EXPECT_EQ(none.port, 4876);
    EXPECT_EQ(none.busId, kDefaultBusId);
    EXPECT_EQ(net::formatIPv4(CanUdpClient(none).group()), "239.255.60.60");

    SettingsStore store(path);
    store.setValue(kBridgeSettingsKey, "busId", "0x1122334455667788");
    ASSERT_TRUE(store.save());
    const BridgeSettings some = bridgeSettingsFrom(SettingsStore(path));
    EXPECT_EQ(some.port, 4876);
    EXPECT_EQ(some.busId, 0x1122334455667788u);
    store.setValue(kBridgeSettingsKey, "port", "70000");  // not a port: ignored
    ASSERT_TRUE(store.save());
    EXPECT_EQ(bridgeSettingsFrom(SettingsStore(path)).port, 4876);
}

TEST(CanUdpClient, SendingBeforeOpenFailsWithItsText) {
    CanUdpClient client(test::loopbackSettings(test::freePort()));
    EXPECT_EQ(ioText([&] { client.sendFrame(CanFrame(1, false, false, 0)); }),
              "Unable to send CAN packets: CanUdpClient is not open");
    // A frame queued before open stays pending when the flush cannot send it.
    ASSERT_TRUE(client.queueFrame(CanFrame(1, false, false, 0)));
    EXPECT_FALSE(client.flush());
    EXPECT_EQ(client.pendingCount(), 1u);
    EXPECT_EQ(ioText([&] { client.sendPendingTcp(false); }),
              "Unable to send CAN packets: TCP is not open");
}

TEST(CanUdpClient, TwoClientsHearEachOtherButNotThemselves) {
    const std::uint16_t port = test::freePort();
    RecordingListener la, lb;
    CanUdpClient a(test::loopbackSettings(port)), b(test::loopbackSettings(port));
    ASSERT_NE(a.clientId(), b.clientId());
    a.setListener(&la);
    b.setListener(&lb);
    a.open();
    b.open();
    a.sendFrame(CanFrame(0x123, false, 8, CanFrame::Data{1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_TRUE(test::eventually([&] { return lb.count() == 1; }));
    const CanPacket p = lb.packets()[0];
    EXPECT_EQ(p.frame.identifier(), 0x123u);
    EXPECT_EQ(p.senderId, a.clientId());
    EXPECT_EQ(p.busId, kDefaultBusId);
    EXPECT_EQ(p.port, port);
    EXPECT_EQ(p.sourceAddress, net::kLoopback);
    EXPECT_EQ(p.interfaceAddress, net::kLoopback);
    // a's own datagram came back through multicast loop-back and was dropped.
    b.sendFrame(CanFrame(0x124, false, 0, CanFrame::Data{}));
    ASSERT_TRUE(test::eventually([&] { return la.count() == 1; }));
    EXPECT_EQ(la.packets()[0].frame.identifier(), 0x124u);
    EXPECT_EQ(lb.count(), 1u);
}

TEST(CanUdpClient, ForeignBusAndOwnSenderAreDroppedButStatusFramesPass) {
    const std::uint16_t port = test::freePort();
    RecordingListener listener;
    CanUdpClient client(test::loopbackSettings(port));
    client.setListener(&listener);
    client.open();
    net::UdpSocket raw = test::rawGroupSocket(port);
    const auto group = client.group();
    auto send = [&](std::uint64_t bus, std::uint64_t sender, std::uint32_t id, std::uint8_t flag) {
        std::vector<std::uint8_t> bytes(30);
        encodeHeader(bytes.data(), bus, sender);
        encodeRecord(bytes.data() + 16, CanFrame(id, false, false, 2), flag);
        raw.sendTo(group, port, bytes);
    };
    send(kDefaultBusId + 1, 77, 0x201, 0);             // another bus
    send(kDefaultBusId, client.clientId(), 0x202, 0);  // claims to be us
    send(kDefaultBusId, 77, 0x203, flags::kStatus);    // a bridge status frame
    send(kDefaultBusId, 77, 0x204, 0);
    ASSERT_TRUE(test::eventually([&] { return listener.count() == 2; }));
    const auto packets = listener.packets();
    EXPECT_EQ(packets[0].frame.identifier(), 0x203u);
    EXPECT_TRUE(packets[0].status);
    EXPECT_EQ(packets[1].frame.identifier(), 0x204u);
}

TEST(CanUdpClient, HundredAndFifthQueuedFrameSendsOneFullDatagram) {
    const std::uint16_t port = test::freePort();
    net::UdpSocket raw = test::rawGroupSocket(port);
    CanUdpClient client(test::loopbackSettings(port));
    client.open();
    for (std::uint32_t i = 0; i < 104; ++i)
        ASSERT_TRUE(client.queueFrame(CanFrame(i, false, false, 8)));
    EXPECT_EQ(client.pendingCount(), 104u);
    ASSERT_TRUE(client.queueFrame(CanFrame(104, false, false, 8)));
    EXPECT_EQ(client.pendingCount(), 1u);
    const auto datagram = receiveDatagram(raw);
    ASSERT_EQ(datagram.size(), 1472u);
    const auto packets = decodeFrames(datagram, true, 0, 0);
    ASSERT_EQ(packets.size(), 104u);
    EXPECT_EQ(packets[103].frame.identifier(), 103u);
    EXPECT_EQ(packets[0].senderId, client.clientId());
    EXPECT_EQ(datagram[16 + 4] & flags::kBit6, 0);
    EXPECT_TRUE(client.flush());
    EXPECT_EQ(receiveDatagram(raw).size(), 30u);
}

TEST(CanUdpClient, TcpPrefixAndHeaderOnlyOnTheFirstTransmission) {
    const std::uint16_t port = test::freePort();
    auto listener = net::TcpListener::listen(net::kLoopback, port);
    ASSERT_TRUE(listener);
    RecordingListener frames;
    CanUdpClient client(test::loopbackSettings(port));
    client.setListener(&frames);
    client.open();
    client.connectTcp("127.0.0.1", 0x40F, 3);
    client.connectTcp("127.0.0.1", 0x999, 9);  // already connected: nothing changes
    ASSERT_TRUE(test::eventually([&] { return net::waitReadable(listener->fd(), 0); }));
    auto bridge = listener->accept();
    ASSERT_TRUE(bridge);
    // With TCP up, queued frames are not sent at 104.
    for (std::uint32_t i = 0; i < 110; ++i)
        ASSERT_TRUE(client.queueFrame(CanFrame(i, false, false, 8)));
    EXPECT_EQ(client.pendingCount(), 110u);
    ASSERT_TRUE(client.flush());
    std::vector<std::uint8_t> got;
    const std::size_t first = 8 + 16 + 110 * 14;
    std::vector<std::uint8_t> buffer(4096);
    while (got.size() < first && net::waitReadable(bridge->fd(), 2000)) {
        const long n = bridge->receive(buffer);
        ASSERT_GT(n, 0);
        got.insert(got.end(), buffer.begin(), buffer.begin() + n);
    }
    ASSERT_EQ(got.size(), first);
    EXPECT_EQ(getBigEndian32(got.data()), 0x40Fu);
    EXPECT_EQ(getBigEndian32(got.data() + 4), 3u);
    EXPECT_EQ(getBigEndian64(got.data() + 8), kDefaultBusId);
    EXPECT_EQ(getBigEndian64(got.data() + 16), client.clientId());
    ASSERT_TRUE(client.queueFrame(CanFrame(5, false, false, 8)));
    ASSERT_TRUE(client.flush());
    ASSERT_TRUE(net::waitReadable(bridge->fd(), 2000));
    EXPECT_EQ(bridge->receive(buffer), 14);

    // The bridge answers with a header, then records only, split anywhere. Only the range asked
    // for is taken from TCP (0x412 is not in it: multicast brings it).
    std::vector<CanFrame> reply{CanFrame(0x410, false, false, 8), CanFrame(0x411, false, false, 8)};
    const auto bytes = encodeFrames(reply, kDefaultBusId, 0xB81D, true, false);
    bridge->sendAll(std::span(bytes.data(), 20));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    bridge->sendAll(std::span(bytes.data() + 20, bytes.size() - 20));
    const auto more = encodeFrames(
        std::vector<CanFrame>{CanFrame(0x412, false, false, 1), CanFrame(0x40F, false, false, 1)},
        0, 0, false, false);
    bridge->sendAll(more);
    ASSERT_TRUE(test::eventually([&] { return frames.count() == 3; }));
    const auto packets = frames.packets();
    EXPECT_EQ(packets[2].frame.identifier(), 0x40Fu);
    EXPECT_EQ(packets[2].senderId, 0xB81Du);
    EXPECT_EQ(packets[2].busId, kDefaultBusId);
    EXPECT_EQ(packets[2].sourceAddress, 0u);

    // The bridge closes the connection: the client notices, a flush reports the failure instead
    // of sending some other way, and the range comes by multicast again.
    bridge->sendAll(std::span(bytes.data() + 16, 5));
    bridge->close();
    ASSERT_TRUE(test::eventually([&] { return !client.isTcpOpen(); }));
    ASSERT_TRUE(client.queueFrame(CanFrame(6, false, false, 8)));
    EXPECT_FALSE(client.flush());
    EXPECT_EQ(client.pendingCount(), 0u);
    net::UdpSocket raw = test::rawGroupSocket(port);
    std::vector<std::uint8_t> datagram(30);
    encodeHeader(datagram.data(), kDefaultBusId, 0xB81D);
    encodeRecord(datagram.data() + 16, CanFrame(0x410, false, false, 3));
    raw.sendTo(client.group(), port, datagram);
    ASSERT_TRUE(test::eventually([&] { return frames.count() == 4; }));
    EXPECT_EQ(frames.packets()[3].sourceAddress, net::kLoopback);
    EXPECT_EQ(frames.packets()[3].frame.length(), 3);
    // After closeTcp a new connection can be made; the frames go by multicast meanwhile.
    client.closeTcp();
    ASSERT_TRUE(client.queueFrame(CanFrame(6, false, false, 8)));
    EXPECT_TRUE(client.flush());
    client.connectTcp("127.0.0.1", 0x40F, 3);
    EXPECT_TRUE(client.isTcpOpen());
}

TEST(CanUdpClient, TcpStreamOfAnotherBusIsIgnoredWholly) {
    const std::uint16_t port = test::freePort();
    auto listener = net::TcpListener::listen(net::kLoopback, port);
    ASSERT_TRUE(listener);
    RecordingListener frames;
    CanUdpClient client(test::loopbackSettings(port));
    client.setListener(&frames);
    client.open();
    client.connectTcp("127.0.0.1", 0x40F, 3);
    ASSERT_TRUE(test::eventually([&] { return net::waitReadable(listener->fd(), 0); }));
    auto bridge = listener->accept();
    ASSERT_TRUE(bridge);
    const std::vector<CanFrame> reply{CanFrame(0x410, false, false, 8)};
    auto bytes = encodeFrames(reply, kDefaultBusId + 1, 0xB81D, true, false);
    const auto later = encodeFrames(reply, 0, 0, false, false);
    bytes.insert(bytes.end(), later.begin(), later.end());
    bridge->sendAll(bytes);
    // Then the same bridge by multicast, on our bus: that one is taken.
    net::UdpSocket raw = test::rawGroupSocket(port);
    std::vector<std::uint8_t> datagram(30);
    encodeHeader(datagram.data(), kDefaultBusId, 0xB81D);
    encodeRecord(datagram.data() + 16, CanFrame(0x411, false, false, 8));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    raw.sendTo(client.group(), port, datagram);
    ASSERT_TRUE(test::eventually([&] { return frames.count() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(frames.count(), 1u);
    EXPECT_EQ(frames.packets()[0].frame.identifier(), 0x411u);
}

TEST(CanUdpClient, BridgeOnlyReachableThroughAGatewayIsRefused) {
    CanUdpClient client(test::loopbackSettings(test::freePort()));
    client.open();
    // A documentation address: no directly connected route leads there.
    EXPECT_EQ(ioText([&] { client.connectTcp("203.0.113.9", 1, 1); }),
              "Bridge on unreachable subnet");
    EXPECT_FALSE(client.isTcpOpen());
}

TEST(CanUdpClient, TcpConnectFailureHasItsText) {
    const std::uint16_t port = test::freePort();  // nobody listens there
    CanUdpClient client(test::loopbackSettings(port));
    EXPECT_EQ(ioText([&] { client.connectTcp("127.0.0.1", 1, 1); }), "TCP connect error");
}

TEST(CanUdpClient, GarbageNeverReachesTheListenerAndLongDatagramsKeepTheir104Records) {
    const std::uint16_t port = test::freePort();
    RecordingListener listener;
    CanUdpClient client(test::loopbackSettings(port));
    client.setListener(&listener);
    client.open();
    net::UdpSocket raw = test::rawGroupSocket(port);
    std::vector<std::uint8_t> header(16);
    encodeHeader(header.data(), kDefaultBusId, 5);
    raw.sendTo(client.group(), port, std::span(header.data(), 7));  // shorter than a header
    // Longer than a bridge datagram: the first 1472 bytes are read, 104 records.
    std::vector<std::uint8_t> big(16 + 200 * 14, 0);
    encodeHeader(big.data(), kDefaultBusId, 5);
    for (std::uint32_t k = 0; k < 200; ++k)
        encodeRecord(big.data() + 16 + 14 * k, CanFrame(0x300 + k, false, false, 1));
    raw.sendTo(client.group(), port, big);
    std::vector<std::uint8_t> bad = header;
    bad.resize(16 + 14);
    putBigEndian32(bad.data() + 16, 0x900);  // standard frame beyond 11 bits
    raw.sendTo(client.group(), port, bad);
    bad.resize(16 + 14 + 3);  // a valid record then a fragment
    encodeRecord(bad.data() + 16, CanFrame(0x55, false, false, 1));
    raw.sendTo(client.group(), port, bad);
    ASSERT_TRUE(test::eventually([&] { return listener.count() == 105; }));
    const auto packets = listener.packets();
    EXPECT_EQ(packets[0].frame.identifier(), 0x300u);
    EXPECT_EQ(packets[103].frame.identifier(), 0x300u + 103);
    EXPECT_EQ(packets[104].frame.identifier(), 0x55u);
    EXPECT_EQ(client.truncatedDatagrams(), 1u);
    EXPECT_EQ(client.droppedDatagrams(), 0u);
}

}  // namespace
}  // namespace qv
