// The CAN port's queue, waits, counters and return codes.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

#include "link/can_port.h"
#include "support/loopback.h"
#include "support/ports.h"
#include "support/wait.h"

namespace qv {
namespace {

CBcan::ClientFactory loopbackFactory(std::uint16_t port) {
    return [port] { return std::make_unique<CanUdpClient>(test::loopbackSettings(port)); };
}

CanPacket packet(std::uint32_t id, std::uint8_t first = 0, bool status = false) {
    CanPacket p;
    p.frame = CanFrame(id, false, false, 8, CanFrame::Data{first, 0xF4});
    p.status = status;
    return p;
}

TEST(CanPort, OpenTwiceAndCloseWhenNeverOpened) {
    CBcan never(loopbackFactory(test::freePort()));
    EXPECT_EQ(never.close(), 1);
    CBcan port(loopbackFactory(test::freePort()));
    EXPECT_EQ(port.open(), 1);
    EXPECT_EQ(port.open(), 0);
    EXPECT_EQ(port.close(), 1);
    EXPECT_EQ(port.open(), 1);
}

TEST(CanPort, SendingWhileClosedFailsEvenForRemoteRequests) {
    CBcan port(loopbackFactory(test::freePort()));
    EXPECT_EQ(port.sendFrame(0x123, {}), 0);
    EXPECT_EQ(port.sendRemoteRequest(0x123), 0);
    EXPECT_FALSE(port.queueFrame(0x123, {}));
    EXPECT_FALSE(port.flush());
    EXPECT_EQ(port.connectTcp(1, 1), 0);
    std::uint8_t data[4] = {};
    std::uint16_t length = 4;
    EXPECT_EQ(port.transfer(&length, data, 0x100, true, false), kTransferFailed);
}

TEST(CanPort, WaitWithTimeoutZeroTakesNothing) {
    CBcan port;
    port.onPacketReceived(packet(0x401));
    CanFrame::Data out{};
    EXPECT_EQ(port.waitForFrame(0x401, &out, 0), 0);
    EXPECT_EQ(port.queuedPackets(), 1u);
}

TEST(CanPort, WaitDrainsEveryFrameToTheDecoderAndFindsTheWantedOne) {
    CBcan port;
    std::vector<std::uint32_t> decoded, logged;
    port.setDecoderHook(
        [&](std::uint32_t id, std::uint32_t, const CanFrame::Data&) { decoded.push_back(id); });
    port.setRawLogHook([&](const CanPacket& p) { logged.push_back(p.frame.identifier()); });
    // A remote request and an extended frame of the wanted value come first: only logged.
    CanPacket remote, extended;
    remote.frame = CanFrame(0x403, false, true, 8);
    extended.frame = CanFrame(0x403, true, false, 8, CanFrame::Data{9});
    port.onPacketReceived(remote);
    port.onPacketReceived(extended);
    for (std::uint32_t id = 0x401; id <= 0x405; ++id) port.onPacketReceived(packet(id, 7));
    CanFrame::Data out{};
    EXPECT_EQ(port.waitForFrame(0x403, &out, 1), 1);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(decoded, (std::vector<std::uint32_t>{0x401, 0x402}));
    // Identifier all ones matches nothing: the rest goes to the decoder.
    EXPECT_EQ(port.waitForFrame(0xFFFFFFFF, nullptr, 1), 0);
    EXPECT_EQ(decoded, (std::vector<std::uint32_t>{0x401, 0x402, 0x404, 0x405}));
    port.onPacketReceived(remote);
    port.onPacketReceived(extended);
    EXPECT_EQ(port.waitForFrame(0xFFFFFFFF, nullptr, 1), 0);
    EXPECT_EQ(decoded.size(), 4u);
    EXPECT_EQ(logged.size(), 9u);
    EXPECT_EQ(port.queuedPackets(), 0u);
}

TEST(CanPort, WaitBlocksUntilAFrameArrivesFromAnotherThread) {
    CBcan port;
    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        port.onPacketReceived(packet(0x42));
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.waitForFrame(0x42, nullptr, 5000), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    producer.join();
}

TEST(CanPort, SentFramesAreExtendedAboveTheStandardRangeOnly) {
    const std::uint16_t number = test::freePort();
    CBcan sender(loopbackFactory(number)), hearer(loopbackFactory(number));
    ASSERT_EQ(sender.open(), 1);
    ASSERT_EQ(hearer.open(), 1);
    std::vector<CanFrame> heard;
    hearer.setRawLogHook([&](const CanPacket& p) { heard.push_back(p.frame); });
    EXPECT_EQ(sender.sendFrame(0x7FF, {}), 1);
    EXPECT_EQ(sender.sendFrame(0x800, {}), 1);
    EXPECT_EQ(sender.sendRemoteRequest(0x123), 1);
    ASSERT_TRUE(test::eventually([&] {
        hearer.waitForFrame(0xFFFFFFFF, nullptr, 1);
        return heard.size() == 3;
    }));
    EXPECT_FALSE(heard[0].extended());
    EXPECT_TRUE(heard[1].extended());
    EXPECT_EQ(heard[1].identifier(), 0x800u);
    EXPECT_TRUE(heard[2].remote());
    EXPECT_FALSE(heard[2].extended());
}

TEST(CanPort, FirstStatusFrameSetsTheBitRateAndStatusNeverQueues) {
    CBcan port(loopbackFactory(test::freePort()));
    ASSERT_EQ(port.open(), 1);
    EXPECT_FALSE(port.bridgeHeard());
    port.onPacketReceived(packet(0x7F0, 0x01, true));  // data 01 F4: 500 kbit/s
    EXPECT_TRUE(port.bridgeHeard());
    EXPECT_EQ(port.busBitRate(), 500000u);
    CanPacket faster = packet(0x7F0, 0x03, true);
    faster.frame = CanFrame(0x7F0, false, false, 8, CanFrame::Data{0x03, 0xE8});
    port.onPacketReceived(faster);
    EXPECT_EQ(port.busBitRate(), 500000u);
    EXPECT_EQ(port.queuedPackets(), 0u);
    EXPECT_EQ(port.takeReceivedFrameCount(), 0u);
    port.close();
    ASSERT_EQ(port.open(), 1);
    port.onPacketReceived(faster);
    EXPECT_EQ(port.busBitRate(), 1000000u);
}

TEST(CanPort, QueueIsBoundedAndCountsWhatItDrops) {
    CBcan port;
    for (std::size_t i = 0; i < CBcan::kQueueLimit + 10; ++i)
        port.onPacketReceived(packet(static_cast<std::uint32_t>(i & 0x7FF)));
    EXPECT_EQ(port.queuedPackets(), CBcan::kQueueLimit);
    EXPECT_EQ(port.droppedQueuePackets(), 10u);
    EXPECT_EQ(port.takeReceivedFrameCount(), CBcan::kQueueLimit + 10);
    EXPECT_EQ(port.takeReceivedFrameCount(), 0u);
    // The oldest went first: the next frame out is the eleventh received.
    std::vector<std::uint32_t> decoded;
    port.setDecoderHook([&](std::uint32_t id, std::uint32_t, const CanFrame::Data&) {
        if (decoded.empty()) decoded.push_back(id);
    });
    port.waitForFrame(0xFFFFFFFF, nullptr, 1);
    EXPECT_EQ(decoded.front(), 10u);
}

TEST(CanPort, TransferArgumentsAreCheckedBeforeAnythingIsSent) {
    CBcan port(loopbackFactory(test::freePort()));
    ASSERT_EQ(port.open(), 1);
    std::uint8_t data[8] = {};
    std::uint16_t zero = 0;
    EXPECT_EQ(port.transfer(&zero, data, 0x100, true, false), kTransferFailed);
    EXPECT_EQ(port.transfer(nullptr, data, 0x100, true, false), kTransferFailed);
    std::uint16_t eight = 8;
    EXPECT_EQ(port.transfer(&eight, nullptr, 0x100, true, false), kTransferFailed);
    std::vector<std::uint8_t> big(5000);
    std::uint16_t tooLong = 5000;  // a whole transfer must fit the shared buffer
    EXPECT_EQ(port.transfer(&tooLong, big.data(), 0x200, false, false), kTransferFailed);
    EXPECT_EQ(port.client()->pendingCount(), 0u);
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

TEST(CanPort, ControllerRequestsAreTakenOnlyForTheWriteAcknowledgement) {
    CBcan port(loopbackFactory(test::freePort()));
    ASSERT_EQ(port.open(), 1);
    ASSERT_TRUE(port.configureStream(0, 0x412, 0x414));
    TransferInfo other{7, 0x0100, 10, 0};
    EXPECT_EQ(port.onStreamEvent(kStreamRequest, other), 3);
    // An acknowledgement longer than the port's buffer cannot be taken without overflowing it.
    TransferInfo huge{7, kAckObjectIndex, 5000, 0};
    EXPECT_EQ(port.onStreamEvent(kStreamRequest, huge), 3);
    TransferInfo ack{7, kAckObjectIndex, 2, 0};
    EXPECT_EQ(port.onStreamEvent(kStreamRequest, ack), 0);
    // Its end signals the completion event on which an upload waits.
    TransferInfo done{0, 0, 0, 2};
    port.onStreamEvent(kStreamDone, done);
    EXPECT_TRUE(port.completionEvent().waitFor(std::chrono::milliseconds(0)));
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

// A bridge played by the test over TCP: takes the port's connection and speaks for a controller
// on the stream identifiers, reading nothing of what the port sends.
class SilentReader {
  public:
    explicit SilentReader(std::uint16_t port)
        : listener_(*net::TcpListener::listen(net::kLoopback, port)) {}
    bool accept() {
        if (!test::eventually([&] { return net::waitReadable(listener_.fd(), 0); })) return false;
        socket_ = listener_.accept();
        if (!socket_) return false;
        const int small = 4096;  // fills up soon
        ::setsockopt(socket_->fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        return true;
    }
    // Sends stream commands on 0x412 (header first); gives up after `ms` if the port stops
    // reading too.
    void commands(std::uint16_t cmd, std::uint16_t p1, std::uint16_t p2, std::uint16_t p3,
                  int count, int ms = 2000) {
        CanFrame::Data d{static_cast<std::uint8_t>(cmd), 0,
                         static_cast<std::uint8_t>(p1),  static_cast<std::uint8_t>(p1 >> 8),
                         static_cast<std::uint8_t>(p2),  static_cast<std::uint8_t>(p2 >> 8),
                         static_cast<std::uint8_t>(p3),  static_cast<std::uint8_t>(p3 >> 8)};
        const std::vector<CanFrame> frames(static_cast<std::size_t>(count),
                                           CanFrame(0x412, false, false, 8, d));
        const auto bytes = encodeFrames(frames, kDefaultBusId, 0xB81D, !headerSent_, false);
        headerSent_ = true;
        socket_->sendAll(bytes, ms);
    }

  private:
    net::TcpListener listener_;
    std::optional<net::TcpSocket> socket_;
    bool headerSent_ = false;
};

struct HostilePeer : ::testing::Test {
    HostilePeer() : port(test::freePort()), peer(port), can(loopbackFactory(port)) {
        can.open();
        can.setBridgeAddress(net::kLoopback);
    }
    bool connect() {
        return can.connectTcp(0x412, 4) == 1 && peer.accept() &&
               can.configureStream(0, 0x412, 0x414);
    }
    std::uint16_t port;
    SilentReader peer;
    CBcan can;
};

TEST_F(HostilePeer, FloodOfResendsWhileNotReadingEndsTheTransferInBoundedTime) {
    ASSERT_TRUE(connect());
    std::vector<std::uint8_t> data(4096, 0x5A);
    std::uint16_t length = 4096;
    int rc = -1;
    const auto start = std::chrono::steady_clock::now();
    std::thread writer([&] { rc = can.transfer(&length, data.data(), 0x100, true, true); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    peer.commands(3, 140, 250, 5, 1);         // Accept
    peer.commands(5, 0, 0, 0, 200000, 4000);  // Resend, Resend, ...
    writer.join();
    EXPECT_EQ(rc, kTransferFailed);
    // A send is given up after a second; the transfer then ends at once. (On a slow build, a
    // thread sanitizer's, the client may read too slowly for its sends ever to block; then the
    // transfer ends by its retries, and the connection stays.)
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    if (!can.isTcpOpen()) {
        EXPECT_FALSE(can.flush());
    }
}

TEST_F(HostilePeer, SilenceAfterRaisingTimeoutAndRetriesEndsAtTheOverallLimit) {
    ASSERT_TRUE(connect());
    can.setTransferLimit(std::chrono::milliseconds(400), 0);
    std::vector<std::uint8_t> data(8);
    std::uint16_t length = 8;
    int rc = -1;
    const auto start = std::chrono::steady_clock::now();
    std::thread reader([&] { rc = can.transfer(&length, data.data(), 0x200, false, false); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    peer.commands(3, 140, 65535, 65535, 1);  // Accept, then nothing more
    reader.join();
    EXPECT_EQ(rc, kTransferFailed);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(400));
    EXPECT_LT(took, std::chrono::seconds(3));
    // The port is usable again.
    EXPECT_TRUE(can.configureStream(0, 0x412, 0x414));
}

TEST_F(HostilePeer, CloseReturnsAtOnceWhileASendWaitsForAPeerThatDoesNotRead) {
    ASSERT_TRUE(connect());
    const CanFrame::Data d{1, 2, 3, 4, 5, 6, 7, 8};
    std::atomic<bool> flushed{true};
    std::thread sender([&] {
        while (flushed) {
            for (int k = 0; k < 1000; ++k) can.queueFrame(0x412, d);
            flushed = can.flush();
        }
    });
    // Let the buffers fill, then close while the sender waits for room.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    can.closeTcp();
    can.close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    sender.join();
    EXPECT_FALSE(flushed);
}

}  // namespace
}  // namespace qv
