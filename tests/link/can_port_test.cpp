// The CAN port's queue, waits, counters and return codes.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "link/can_port.h"
#include "support/loopback.h"
#include "support/ports.h"

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
    for (std::uint32_t id = 0x401; id <= 0x405; ++id) port.onPacketReceived(packet(id, 7));
    CanFrame::Data out{};
    EXPECT_EQ(port.waitForFrame(0x403, &out, 1), 1);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(decoded, (std::vector<std::uint32_t>{0x401, 0x402}));
    // Identifier all ones matches nothing: the rest goes to the decoder.
    EXPECT_EQ(port.waitForFrame(0xFFFFFFFF, nullptr, 1), 0);
    EXPECT_EQ(decoded, (std::vector<std::uint32_t>{0x401, 0x402, 0x404, 0x405}));
    EXPECT_EQ(logged.size(), 5u);
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
