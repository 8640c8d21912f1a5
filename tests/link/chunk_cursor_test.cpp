#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <vector>

#include "link/chunk_cursor.h"

namespace qv {
namespace {

TEST(ChunkCursor, SenderRefillsTheWindowAndShortensTheLastChunk) {
    std::vector<std::uint8_t> data(300);
    std::iota(data.begin(), data.end(), 0);
    std::array<std::uint8_t, 4096> window{};
    ChunkSender sender;
    ASSERT_EQ(sender.start(data, window), 140);
    EXPECT_EQ(window[139], 139);
    TransferInfo info{4, 0, 0, 140};
    EXPECT_EQ(sender.onChunk(info), 0);
    EXPECT_EQ(window[0], 140);
    EXPECT_EQ(sender.onChunk(info), 2);
    EXPECT_EQ(info.word1, 20);
    EXPECT_EQ(window[19], static_cast<std::uint8_t>(299));
    info.word3 = 20;
    EXPECT_EQ(sender.onChunk(info), 1);
    EXPECT_EQ(sender.consumed(), 300u);
}

TEST(ChunkCursor, ShortStringsAreOneChunk) {
    std::vector<std::uint8_t> data(66, 5);
    std::array<std::uint8_t, 4096> window{};
    ChunkSender sender;
    ASSERT_EQ(sender.start(data, window), 66);
    TransferInfo info{4, 0, 0, 66};
    EXPECT_EQ(sender.onChunk(info), 1);
}

TEST(ChunkCursor, ReceiverStopsAtItsCapacityWhateverThePeerClaims) {
    std::vector<std::uint8_t> dest(300, 0);
    std::array<std::uint8_t, 4096> window{};
    window.fill(9);
    ChunkReceiver receiver;
    ASSERT_EQ(receiver.start(dest, window), 140);
    EXPECT_EQ(receiver.onChunk(TransferInfo{0, 0, 0, 140}), 0);
    EXPECT_EQ(receiver.received(), 140u);
    // A peer that claims a chunk far larger than the window or the destination.
    EXPECT_EQ(receiver.onChunk(TransferInfo{0, 0, 0, 65535}), 1);
    EXPECT_EQ(receiver.received(), 300u);
    EXPECT_EQ(dest[299], 9);
}

}  // namespace
}  // namespace qv
