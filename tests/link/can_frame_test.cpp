#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/bridge_codec.h"
#include "link/can_frame.h"
#include "link/exceptions.h"

namespace qv {
namespace {

std::string overflowText(std::uint32_t id, bool extended, std::uint8_t length) {
    try {
        CanFrame f(id, extended, false, length);
        return "";
    } catch (const OverflowException& e) {
        return e.message();
    }
}

TEST(CanFrame, IdentifierAndLengthLimitsCarryTheirTexts) {
    EXPECT_EQ(overflowText(0x7FF, false, 8), "");
    EXPECT_EQ(overflowText(0x800, false, 8), "Identifier larger than 11 bits");
    EXPECT_EQ(overflowText(0x800, true, 8), "");
    EXPECT_EQ(overflowText((1u << 29) - 1, true, 8), "");
    EXPECT_EQ(overflowText(1u << 29, true, 8), "Extended identifier larger than 29 bits");
    EXPECT_EQ(overflowText(15, false, 15), "");
    EXPECT_EQ(overflowText(15, false, 16), "Length larger than 4 bits");
    // The standard-identifier check comes first.
    EXPECT_EQ(overflowText(1u << 29, false, 16), "Identifier larger than 11 bits");
}

TEST(CanFrame, ShortByteStringsAreZeroPaddedAndLongLengthsCopyEightBytes) {
    const std::uint8_t three[3] = {1, 2, 3};
    CanFrame f(0x10, false, false, 3, three);
    EXPECT_EQ(f.data(), (CanFrame::Data{1, 2, 3, 0, 0, 0, 0, 0}));
    const std::uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    CanFrame g(0x10, false, false, 12, ten);
    EXPECT_EQ(g.length(), 12);
    EXPECT_EQ(g.data(), (CanFrame::Data{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(g.data64(), 0x0807060504030201ull);
}

TEST(BridgeCodec, HundredAndFourFramesFillOneDatagram) {
    std::vector<CanFrame> frames(104, CanFrame(0x123, false, false, 8));
    const auto bytes = encodeFrames(frames, kDefaultBusId, 42, true, false);
    EXPECT_EQ(bytes.size(), 1472u);
    const auto one = encodeFrames(std::vector<CanFrame>{frames[0]}, kDefaultBusId, 42, true, false);
    EXPECT_EQ(one.size(), 30u);
}

TEST(BridgeCodec, DefaultBusIdentifierSpellsBrenlow) {
    std::uint8_t header[16];
    encodeHeader(header, kDefaultBusId, 0);
    const std::uint8_t expected[8] = {0x00, 0x42, 0x72, 0x65, 0x6E, 0x6C, 0x6F, 0x77};
    EXPECT_EQ(0, std::memcmp(header, expected, 8));
}

TEST(BridgeCodec, FlagsRoundTripAndStatusBitIsReported) {
    std::vector<std::uint8_t> bytes;
    encodeFrames(bytes, std::vector<CanFrame>{CanFrame(0x1ABCDEF, true, true, 8)}, 7, 9, true,
                 false);
    EXPECT_EQ(bytes[16 + 4], 0x03);
    bytes[16 + 4] |= flags::kStatus | flags::kBit6;
    const auto packets = decodeFrames(bytes, true, 0, 0);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_TRUE(packets[0].status);
    EXPECT_TRUE(packets[0].frame.extended());
    EXPECT_TRUE(packets[0].frame.remote());
    EXPECT_EQ(packets[0].busId, 7u);
    EXPECT_EQ(packets[0].senderId, 9u);
    // Bit 6 asked for on send sets it on every record.
    const auto withBit6 =
        encodeFrames(std::vector<CanFrame>{CanFrame(1, false, false, 0)}, 0, 0, false, true);
    EXPECT_EQ(withBit6[4], flags::kBit6);
}

TEST(BridgeCodec, BadRecordEndsDecodingAndTrailingFragmentIsIgnored) {
    std::vector<CanFrame> frames{CanFrame(1, false, false, 8), CanFrame(2, false, false, 8),
                                 CanFrame(3, false, false, 8)};
    auto bytes = encodeFrames(frames, 1, 2, true, false);
    bytes[16 + 14 + 5] = 16;  // second record: length 16
    bytes.push_back(0xAA);    // a fragment shorter than a record
    const auto packets = decodeFrames(bytes, true, 0, 0);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].frame.identifier(), 1u);
    // A datagram shorter than its header yields nothing.
    EXPECT_TRUE(decodeFrames(std::span(bytes.data(), 15), true, 0, 0).empty());
}

TEST(TcpStreamDecoder, ReassemblesRecordsSplitAnywhereAndSkipsBadOnesKeepingAlignment) {
    std::vector<CanFrame> frames;
    for (std::uint32_t i = 0; i < 20; ++i)
        frames.emplace_back(0x100 + i, false, false, 8, CanFrame::Data{std::uint8_t(i), 0xC3});
    auto bytes = encodeFrames(frames, 0xB05, 0x5E4D, true, false);
    bytes[16 + 5 * 14 + 5] = 16;                         // record 5: length 16
    putBigEndian32(bytes.data() + 16 + 13 * 14, 0x900);  // record 13: 12 bits, not extended
    std::vector<CanFrame> good = frames;
    good.erase(good.begin() + 13);
    good.erase(good.begin() + 5);
    for (std::size_t cut = 1; cut < 40; ++cut) {
        TcpStreamDecoder decoder;
        std::vector<CanPacket> out;
        for (std::size_t pos = 0; pos < bytes.size(); pos += cut) {
            const std::size_t n = std::min(cut, bytes.size() - pos);
            decoder.feed(std::span(bytes.data() + pos, n), 0xB05, 0x5E4D, out);
        }
        ASSERT_EQ(out.size(), good.size()) << "cut " << cut;
        for (std::size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i].frame, good[i]);
        EXPECT_EQ(decoder.headerSenderId(), 0x5E4Du);
        EXPECT_EQ(decoder.heldBytes(), 0u);
        EXPECT_EQ(decoder.badRecords(), 2u);
    }
}

}  // namespace
}  // namespace qv
