// One stream engine driven by a scripted peer and a fake clock.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "link/stream_test_peer.h"

namespace qv::test {
namespace {

using namespace stream_cmd;

class StreamEngineTest : public ::testing::Test {
  protected:
    FakeClock clock;
    RecordingIo rec;
    EventLog log;
    StreamEngine engine{rec.io(clock)};
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(4096, 0);

    void configure(std::uint16_t block = 0, double timeout = 0, std::uint32_t retries = 0) {
        ASSERT_TRUE(engine.configureStream(kCtl, kDat, block, timeout, retries, &log));
    }
    void command(std::uint16_t w0, std::uint16_t w1 = 0, std::uint16_t w2 = 0,
                 std::uint16_t w3 = 0) {
        engine.handleCommand(commandFrame(w0, w1, w2, w3));
    }
    void data(std::uint8_t head, std::array<std::uint8_t, 7> payload = {}) {
        engine.handleData(dataFrame(head, payload));
    }
    bool tick(double ms) {
        clock.now += ms;
        const bool ok = engine.pollTransfer();
        if (!ok) engine.abortAfterTimeout();
        return ok;
    }
    std::vector<Words> sentCommands() {
        std::vector<Words> out;
        for (const auto& f : rec.take()) {
            EXPECT_EQ(f.identifier(), kCtl);
            out.push_back(words(f));
        }
        return out;
    }
    // Starts a sending initiator of `n` bytes 1, 2, 3, ... and agrees on block size `block`.
    void startSending(std::uint16_t n, std::uint16_t block, bool variable = false) {
        std::iota(buffer.begin(), buffer.begin() + n, std::uint8_t{1});
        ASSERT_TRUE(engine.startTransfer(buffer, 0x100, n, true, true, variable));
        command(kAccept, block, 250, 5);
    }
    // A receiving responder that accepted a Request for `n` bytes and a Propose of `block`.
    void startReceivingResponder(std::uint16_t n, std::uint16_t block, bool variable = false) {
        ASSERT_TRUE(engine.startTransfer(buffer, 0x100, n, false, false, variable));
        command(kPropose, block, 250, 5);
        rec.take();
    }
};

// ---------------------------------------------------------------------------------------------
// Configuration and start

TEST_F(StreamEngineTest, BlockSizeLimitsAndDefaults) {
    // Given block sizes at the edges, then frames per block follow ceil(B / 7).
    configure(889);
    EXPECT_EQ(engine.framesPerBlock(), 127);
    configure(7);
    EXPECT_EQ(engine.framesPerBlock(), 1);
    configure(0);
    EXPECT_EQ(engine.framesPerBlock(), 20);
    EXPECT_FALSE(engine.configureStream(kCtl, kDat, 890, 0, 0, &log));
}

TEST_F(StreamEngineTest, ConfigureRefusesBadArgumentsAndABusyEngine) {
    EXPECT_FALSE(engine.configureStream(0x800, kDat, 0, 0, 0, &log));
    EXPECT_FALSE(engine.configureStream(kCtl, 0x800, 0, 0, 0, &log));
    EXPECT_FALSE(engine.configureStream(kCtl, kCtl, 0, 0, 0, &log));
    EXPECT_FALSE(engine.configureStream(kCtl, kDat, 0, 0, 0, nullptr));
    EXPECT_FALSE(engine.configureStream(kCtl, kDat, 0, -1, 0, &log));
    EXPECT_FALSE(engine.configureStream(kCtl, kDat, 0, NAN, 0, &log));
    EXPECT_FALSE(engine.configureStream(kCtl, kDat, 0, 70000, 0, &log));
    EXPECT_FALSE(engine.configureStream(kCtl, kDat, 0, 0, 70000, &log));
    // No control identifier is allowed, but nothing can start without one.
    EXPECT_TRUE(engine.configureStream(kNoStreamId, kDat, 0, 0, 0, &log));
    EXPECT_FALSE(engine.startTransfer(buffer, 1, 10, true, true, false));
    configure();
    ASSERT_TRUE(engine.startTransfer(buffer, 1, 10, true, true, false));
    EXPECT_FALSE(engine.configureStream(kCtl, kDat, 0, 0, 0, &log));
}

TEST_F(StreamEngineTest, StartRefusesWhatCouldOverrunTheBuffer) {
    configure();
    EXPECT_FALSE(engine.startTransfer({}, 1, 10, true, true, false));
    EXPECT_FALSE(engine.startTransfer(buffer, 0, 10, true, true, false));
    EXPECT_FALSE(engine.startTransfer(buffer, 1, 0, true, true, false));
    EXPECT_FALSE(engine.startTransfer(std::span(buffer).first(9), 1, 10, true, true, false));
    EXPECT_TRUE(rec.take().empty());
    ASSERT_TRUE(engine.startTransfer(buffer, 1, 10, true, true, false));
    EXPECT_FALSE(engine.startTransfer(buffer, 2, 10, true, true, false));
}

TEST_F(StreamEngineTest, InitiatorOpensWithRequestAndPropose) {
    configure();
    ASSERT_TRUE(engine.startTransfer(buffer, 0x0201, 6, false, true, true));
    EXPECT_EQ(rec.flushes, 2);
    EXPECT_EQ(sentCommands(),
              (std::vector<Words>{{kRequest, 0x0201, 6, 0x0101}, {kPropose, 140, 250, 5}}));
    EXPECT_TRUE(engine.busy());
    EXPECT_FALSE(engine.wantsData());
}

TEST_F(StreamEngineTest, FailedOpeningSendRefusesTheStart) {
    configure();
    rec.failFlush = true;
    EXPECT_FALSE(engine.startTransfer(buffer, 1, 10, true, true, false));
    EXPECT_FALSE(engine.busy());
    EXPECT_TRUE(log.events.empty());
}

// ---------------------------------------------------------------------------------------------
// Negotiation

TEST_F(StreamEngineTest, ResponderAgreesOnTheSmallerBlockAndTheLargerTimeoutAndRetries) {
    configure(140, 300, 4);
    ASSERT_TRUE(engine.startTransfer(buffer, 1, 10, false, false, false));
    command(kPropose, 500, 100, 9);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kAccept, 140, 300, 9}}));
    EXPECT_TRUE(engine.wantsData());
    // A smaller proposal is taken as it is.
    engine.abortTransfer();
    ASSERT_TRUE(engine.startTransfer(buffer, 1, 10, false, false, false));
    rec.take();
    command(kPropose, 7, 400, 2);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kAccept, 7, 400, 4}}));
    EXPECT_EQ(engine.framesPerBlock(), 1);
    // A peer raises them only so far.
    engine.abortTransfer();
    ASSERT_TRUE(engine.startTransfer(buffer, 1, 10, false, false, false));
    rec.take();
    command(kPropose, 140, 65535, 65535);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kAccept, 140, 2000, 20}}));
}

TEST_F(StreamEngineTest, InitiatorTakesTheAcceptedTimeoutAndRetriesUpToTheLimit) {
    configure();
    ASSERT_TRUE(engine.startTransfer(buffer, 0x200, 8, false, true, false));
    command(kAccept, 140, 65535, 65535);
    rec.take();
    EXPECT_TRUE(tick(kMaxPeerTimeoutMs));
    EXPECT_TRUE(rec.take().empty());
    int repeats = 0;
    while (tick(1) && tick(kMaxPeerTimeoutMs)) repeats += rec.take().size() == 1 ? 1 : 100;
    EXPECT_EQ(repeats, static_cast<int>(kMaxPeerRetries));
    EXPECT_EQ(log.count(kStreamAborted), 1);
}

TEST_F(StreamEngineTest, ProposeWithBlockSizeZeroIsIgnored) {
    configure();
    ASSERT_TRUE(engine.startTransfer(buffer, 1, 10, false, false, false));
    command(kPropose, 0, 250, 5);
    EXPECT_TRUE(rec.take().empty());
    EXPECT_FALSE(engine.wantsData());
    command(kPropose, 140, 250, 5);
    EXPECT_EQ(sentCommands().size(), 1u);
}

TEST_F(StreamEngineTest, VariableSenderCapsALargeProposalAt889) {
    // Given a variable-length sending responder of 4000 bytes whose peer asked for more,
    // the limit is the length; a proposal of 2000 would need 286 frames per block.
    configure();
    log.handler = [&](int type, TransferInfo& info) {
        if (type == kStreamRequest)
            return engine.startTransfer(buffer, info.word1, 4000, true, false, true) ? 0 : 3;
        return 0;
    };
    command(kRequest, 0x100, 5000, 0x0101);
    command(kPropose, 2000, 250, 5);
    const auto cmds = sentCommands();
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0], (Words{kAccept, 889, 250, 5}));
    EXPECT_EQ(cmds[1], (Words{kSetLength, 4000, 0, 0}));
    EXPECT_EQ(engine.framesPerBlock(), 127);
}

TEST_F(StreamEngineTest, InitiatorAbortsOnAnAcceptItCannotHonour) {
    configure(140);
    ASSERT_TRUE(engine.startTransfer(buffer, 1, 10, true, true, false));
    rec.take();
    command(kAccept, 141, 250, 5);
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].type, kStreamAborted);
    EXPECT_EQ(log.events[0].info.word0, kAccept);
    EXPECT_EQ(log.events[0].info.word1, 141);
    EXPECT_TRUE(rec.take().empty());  // not negotiated: no Close

    ASSERT_TRUE(engine.startTransfer(buffer, 1, 10, true, true, false));
    command(kAccept, 0, 250, 5);
    EXPECT_EQ(log.count(kStreamAborted), 2);
    EXPECT_FALSE(engine.busy());
}

// ---------------------------------------------------------------------------------------------
// Sending end

TEST_F(StreamEngineTest, TenBytesInSevenByteBlocksThenCloseHandshake) {
    configure(7);
    startSending(10, 7);
    auto frames = rec.take();
    // Request, Propose, then block 0: one frame, toggle 0.
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[2].identifier(), kDat);
    EXPECT_EQ(frames[2].data(), (CanFrame::Data{0x00, 1, 2, 3, 4, 5, 6, 7}));
    command(kBlockAck, 0, 0 << 8);
    frames = rec.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data(), (CanFrame::Data{0x80, 8, 9, 10, 0, 0, 0, 0}));
    command(kBlockAck, 1, 0);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kClose, 0, 0, 0}}));
    EXPECT_TRUE(log.events.empty());
    command(kClose, 2);
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].type, kStreamDone);
    EXPECT_EQ(log.events[0].info.word3, 10);
    EXPECT_FALSE(engine.busy());
}

TEST_F(StreamEngineTest, BlockOf889BytesIsOneFlushOf127Frames) {
    configure(889);
    startSending(1000, 889);
    const auto frames = rec.take();
    ASSERT_EQ(frames.size(), 2u + 127u);
    EXPECT_EQ(rec.flushes, 3);
    EXPECT_EQ(frames.back().data()[0], 126);
    // 889 = 127 * 7: the last frame is full.
    EXPECT_EQ(frames.back().data()[7], static_cast<std::uint8_t>(889));
}

TEST_F(StreamEngineTest, AckWithTheWrongToggleResendsTheSameBlock) {
    configure(14);
    startSending(40, 14);
    const auto first = rec.take();
    command(kBlockAck, 0, 1 << 8);
    const auto again = rec.take();
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0], first[2]);
    EXPECT_EQ(again[1], first[3]);
    command(kBlockAck, 0, 0);
    const auto next = rec.take();
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next[0].data()[0], 0x80);
    EXPECT_EQ(next[0].data()[1], 15);
}

TEST_F(StreamEngineTest, ResendAndBlockIncompleteRepeatTheLastBlock) {
    configure(7);
    startSending(20, 7);
    const auto block0 = rec.take().back();
    command(kResend);
    EXPECT_EQ(rec.take(), std::vector<CanFrame>{block0});
    command(kBlockIncomplete, 0, 1);
    EXPECT_EQ(rec.take(), std::vector<CanFrame>{block0});
}

TEST_F(StreamEngineTest, RepeatedAcceptResendsTheFirstBlock) {
    // A receiving responder that lost all of block 0 repeats its Accept.
    configure(7);
    startSending(20, 7);
    const auto block0 = rec.take().back();
    command(kAccept, 7, 250, 5);
    EXPECT_EQ(rec.take(), std::vector<CanFrame>{block0});
    command(kBlockAck, 0, 0);
    rec.take();
    command(kAccept, 7, 250, 5);  // later repeats change nothing
    EXPECT_TRUE(rec.take().empty());
}

TEST_F(StreamEngineTest, FailedBlockSendAbortsWithCloseAttempt) {
    configure(7);
    std::iota(buffer.begin(), buffer.begin() + 20, std::uint8_t{1});
    ASSERT_TRUE(engine.startTransfer(buffer, 1, 20, true, true, false));
    rec.failQueue = true;
    command(kAccept, 7, 250, 5);
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].type, kStreamAborted);
    EXPECT_EQ(log.events[0].info.word0, kAbortTimeout);
    EXPECT_FALSE(engine.busy());
}

// ---------------------------------------------------------------------------------------------
// Receiving end

TEST_F(StreamEngineTest, WrongToggleIsIgnoredAndRepeatsAreNotCountedTwice) {
    configure(14);
    startReceivingResponder(20, 14);
    data(0x80, {9, 9, 9, 9, 9, 9, 9});  // the first block carries toggle 0
    data(0x00, {1, 2, 3, 4, 5, 6, 7});
    data(0x00, {1, 2, 3, 4, 5, 6, 7});  // the same frame again: not counted
    EXPECT_TRUE(tick(1));
    EXPECT_TRUE(rec.take().empty());  // block not complete yet
    data(0x01, {8, 9, 10, 11, 12, 13, 14});
    EXPECT_TRUE(tick(1));
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kBlockAck, 0, 0, 0}}));
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 14),
              (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
    // The next block carries toggle 1; a late frame of block 0 is ignored.
    data(0x00, {0, 0, 0, 0, 0, 0, 0});
    data(0x80, {15, 16, 17, 18, 19, 20, 99});
    data(0x81, {});
    EXPECT_TRUE(tick(1));
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kBlockAck, 1, 0, 0}}));
    EXPECT_EQ(buffer[19], 20);
    EXPECT_EQ(buffer[20], 0);  // never past the length
    // A responder waits for the initiator's Close.
    command(kClose, 0);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kClose, 2, 0, 0}}));
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].type, kStreamDone);
}

TEST_F(StreamEngineTest, OutOfRangeFrameEmptiesTheBlockAndItsCount) {
    configure(14);
    startReceivingResponder(14, 14);
    data(0x00, {1, 1, 1, 1, 1, 1, 1});
    data(0x05);  // index 5 >= N = 2
    EXPECT_TRUE(tick(1));
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kBlockIncomplete, 0, 2, 0}}));
    // Frame 1 alone must not complete the block: slot 0 was emptied and the count zeroed.
    data(0x01, {2, 2, 2, 2, 2, 2, 2});
    EXPECT_TRUE(tick(1));
    EXPECT_TRUE(rec.take().empty());
    data(0x00, {3, 3, 3, 3, 3, 3, 3});
    // Full, but not by its last frame: it waits a moment for the rest of the transmission.
    EXPECT_TRUE(tick(1));
    EXPECT_TRUE(rec.take().empty());
    EXPECT_TRUE(tick(20));
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kBlockAck, 1, 0, 0}}));
    EXPECT_EQ(buffer[0], 3);
    EXPECT_EQ(buffer[7], 2);
}

TEST_F(StreamEngineTest, OutOfRangeFrameDoesNotWipeABlockThatCompleted) {
    configure(14);
    startReceivingResponder(14, 14);
    data(0x7F);  // out of range before the block completes in the same poll period
    data(0x00, {1, 2, 3, 4, 5, 6, 7});
    data(0x01, {8, 9, 10, 11, 12, 13, 14});
    EXPECT_TRUE(tick(1));
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kBlockAck, 1, 0, 0}}));
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 14),
              (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
}

TEST_F(StreamEngineTest, ReceiverRepeatsAcceptThenResendsThenGivesUp) {
    configure(14, 100, 3);
    ASSERT_TRUE(engine.startTransfer(buffer, 1, 28, false, false, false));
    command(kPropose, 14, 50, 2);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kAccept, 14, 100, 3}}));
    EXPECT_TRUE(tick(100));  // not yet more than the time-out
    EXPECT_TRUE(rec.take().empty());
    EXPECT_TRUE(tick(1));
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kAccept, 14, 100, 3}}));
    data(0x00, {1, 2, 3, 4, 5, 6, 7});  // progress: the repeats start again
    EXPECT_TRUE(tick(101));
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kResend, 0, 0, 0}}));
    EXPECT_TRUE(tick(101));
    EXPECT_TRUE(tick(101));
    EXPECT_EQ(sentCommands().size(), 2u);
    EXPECT_FALSE(tick(101));  // three repeats since the last progress
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].info.word0, kAbortTimeout);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kClose, 1, 0, 0}}));
}

TEST_F(StreamEngineTest, SetLengthAtTheReceivingEnd) {
    configure(140);
    log.handler = [](int, TransferInfo&) { return 1; };
    startReceivingResponder(140, 140, true);
    command(kSetLength, 0);  // ignored
    EXPECT_TRUE(rec.take().empty());
    command(kSetLength, 30);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kSetLength, 0, 0, 0}}));
    for (std::uint8_t k = 0; k < 20; ++k) data(k, {k, k, k, k, k, k, k});
    EXPECT_TRUE(tick(1));
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].type, kStreamChunk);
    EXPECT_EQ(log.events[0].info.word0, 0);
    EXPECT_EQ(log.events[0].info.word3, 30);
    EXPECT_EQ(buffer[29], 4);
    EXPECT_EQ(buffer[30], 0);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kBlockAck, 1, 0, 0}}));
}

TEST_F(StreamEngineTest, SetLengthAboveTheLengthAborts) {
    configure(140);
    startReceivingResponder(100, 140, true);
    command(kSetLength, 101);
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].type, kStreamAborted);
    EXPECT_EQ(log.events[0].info.word0, kSetLength);
    EXPECT_EQ(log.events[0].info.word1, 101);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kClose, 1, 0, 0}}));
}

// ---------------------------------------------------------------------------------------------
// Variable-length sending end

TEST_F(StreamEngineTest, ChunkAnswerOutsideOneToLengthAborts) {
    for (const std::uint16_t bad : {std::uint16_t{0}, std::uint16_t{15}}) {
        log.events.clear();
        log.handler = [bad](int type, TransferInfo& info) {
            if (type != kStreamChunk) return 0;
            info.word1 = bad;
            return 2;
        };
        configure(14);
        startSending(14, 14, true);
        command(kBlockAck, 0, 0);
        ASSERT_EQ(log.events.size(), 2u);
        EXPECT_EQ(log.events[1].type, kStreamAborted);
        EXPECT_FALSE(engine.busy());
        rec.take();
    }
}

TEST_F(StreamEngineTest, ChunkAnswersContinueShortenAndClose) {
    int calls = 0;
    log.handler = [&](int type, TransferInfo& info) {
        if (type != kStreamChunk) return 0;
        ++calls;
        if (calls == 1) return 0;
        if (calls == 2) {
            info.word1 = 5;
            return 2;
        }
        return 1;
    };
    configure(14);
    startSending(14, 14, true);
    rec.take();
    command(kBlockAck, 0, 0);  // chunk 1 done: same length again, toggle 1
    auto frames = rec.take();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].data()[0], 0x80);
    command(kBlockAck, 0, 1 << 8);  // chunk 2 done: 5 bytes next
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kSetLength, 5, 0, 0}}));
    command(kBlockAck, 0, 1 << 8);  // a late ack while the length changes: keep waiting
    EXPECT_TRUE(rec.take().empty());
    command(kSetLength, 0);
    frames = rec.take();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].data(), (CanFrame::Data{0x00, 1, 2, 3, 4, 5, 0, 0}));
    command(kBlockAck, 0, 0);  // chunk 3 done: close
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kClose, 0, 0, 0}}));
    command(kClose, 2);
    EXPECT_EQ(log.count(kStreamDone), 1);
}

// ---------------------------------------------------------------------------------------------
// Time-outs, aborts and closing

TEST_F(StreamEngineTest, UnansweredInitiatorRepeatsFiveTimesThenAbortsWithCodeZero) {
    configure();
    ASSERT_TRUE(engine.startTransfer(buffer, 0x200, 8, false, true, false));
    rec.take();
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(tick(250));
        EXPECT_TRUE(rec.take().empty());
        EXPECT_TRUE(tick(1));
        EXPECT_EQ(sentCommands(),
                  (std::vector<Words>{{kRequest, 0x200, 8, 0x100}, {kPropose, 140, 250, 5}}));
    }
    EXPECT_TRUE(log.events.empty());
    EXPECT_FALSE(tick(251));
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].type, kStreamAborted);
    EXPECT_EQ(log.events[0].info.word0, 0);
    EXPECT_TRUE(rec.take().empty());
    EXPECT_FALSE(engine.busy());
}

TEST_F(StreamEngineTest, UserAbortOnlyAfterNegotiation) {
    configure();
    ASSERT_TRUE(engine.startTransfer(buffer, 1, 10, false, true, false));
    rec.take();
    engine.abortTransfer();
    EXPECT_TRUE(rec.take().empty());
    EXPECT_TRUE(log.events.empty());
    EXPECT_TRUE(engine.busy());
    command(kAccept, 140, 250, 5);
    engine.abortTransfer();
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kClose, 1, 0, 0}}));
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].type, kStreamAborted);
    EXPECT_EQ(log.events[0].info.word0, kAbortUser);
    EXPECT_FALSE(engine.busy());
}

TEST_F(StreamEngineTest, PeerAbortReportsItsWords) {
    configure();
    startSending(10, 140);
    rec.take();
    command(kClose, 1);
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].info.word0, kClose);
    EXPECT_EQ(log.events[0].info.word1, 1);
    EXPECT_TRUE(rec.take().empty());
}

TEST_F(StreamEngineTest, UnansweredCloseIsRepeatedThenFails) {
    configure(7);
    startSending(5, 7);
    command(kBlockAck, 1, 0);
    rec.take();
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(tick(251));
        EXPECT_EQ(sentCommands(), (std::vector<Words>{{kClose, 0, 0, 0}}));
    }
    EXPECT_FALSE(tick(251));
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].type, kStreamAborted);
}

TEST_F(StreamEngineTest, CloseBeforeAgreementIsStale) {
    // A late Close (0) of an earlier transfer must not end a new one as done.
    configure();
    ASSERT_TRUE(engine.startTransfer(buffer, 1, 10, false, true, false));
    command(kClose, 0);
    ASSERT_TRUE(engine.startTransfer(buffer, 1, 10, false, false, false) == false);
    EXPECT_TRUE(log.events.empty());
    EXPECT_TRUE(engine.busy());
}

TEST_F(StreamEngineTest, CloseOrAcknowledgementThatDoesNotFitTheTransferIsNotItsEnd) {
    // A fixed-length receive: a Close before all data came is a late one of another transfer.
    configure(7);
    startReceivingResponder(14, 7);
    data(0x00, {1, 2, 3, 4, 5, 6, 7});
    EXPECT_TRUE(tick(1));
    rec.take();
    command(kClose, 0);
    EXPECT_TRUE(rec.take().empty());
    EXPECT_TRUE(log.events.empty());
    data(0x80, {8, 9, 10, 11, 12, 13, 14});
    EXPECT_TRUE(tick(1));
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kBlockAck, 1, 0, 0}}));
    command(kClose, 0);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kClose, 2, 0, 0}}));
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].type, kStreamDone);
    EXPECT_EQ(buffer[13], 14);

    // A send: "all data received" before the last block went out is not this transfer's.
    log.events.clear();
    startSending(14, 7);
    rec.take();
    command(kBlockAck, 1, 0);
    EXPECT_TRUE(rec.take().empty());
    command(kBlockAck, 0, 0);
    EXPECT_EQ(rec.take().size(), 1u);
    command(kBlockAck, 1, 0);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kClose, 0, 0, 0}}));

    // A chunked receive: a Close ends it only between chunks, once one was taken.
    command(kClose, 2);
    log.events.clear();
    ASSERT_TRUE(engine.startTransfer(buffer, 0x100, 7, false, true, true));
    command(kAccept, 7, 250, 5);
    rec.take();
    command(kClose, 0);
    EXPECT_TRUE(rec.take().empty());
    EXPECT_TRUE(log.events.empty());
    data(0x00, {1, 2, 3, 4, 5, 6, 7});
    EXPECT_TRUE(tick(1));
    ASSERT_EQ(log.count(kStreamChunk), 1);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kBlockAck, 0, 0, 0}}));
    // Between chunks a Close is held a moment: data of the next chunk shows it was stale.
    command(kClose, 0);
    data(0x80, {8, 9, 10, 11, 12, 13, 14});
    EXPECT_TRUE(tick(30));
    EXPECT_EQ(log.count(kStreamChunk), 2);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kBlockAck, 0, 0x100, 0}}));
    EXPECT_EQ(buffer[0], 8);
    // A Close that stays alone is taken.
    command(kClose, 0);
    EXPECT_TRUE(tick(5));
    EXPECT_TRUE(rec.take().empty());
    EXPECT_TRUE(tick(30));
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kClose, 2, 0, 0}}));
    EXPECT_EQ(log.count(kStreamDone), 1);
}

TEST_F(StreamEngineTest, AStaleCopyThatCompletedABlockIsCaughtByTheRealFrame) {
    configure(14);
    startReceivingResponder(28, 14);
    const std::array<std::uint8_t, 7> f0{1, 2, 3, 4, 5, 6, 7}, f1{8, 9, 10, 11, 12, 13, 14};
    data(0x00, f0);
    data(0x01, {9, 9, 9, 9, 9, 9, 9});  // a stale last frame completes the block
    data(0x00, f0);                     // a repeat of a kept frame changes nothing
    data(0x01, f1);                     // the real one comes before the block was taken
    EXPECT_TRUE(tick(1));
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kBlockIncomplete, 0, 2, 0}}));
    data(0x00, f0);
    data(0x01, f1);
    EXPECT_TRUE(tick(1));
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kBlockAck, 0, 0, 0}}));
    EXPECT_EQ(buffer[13], 14);
    // The time-out runs again after a damaged block: silence brings a Resend.
    data(0x80, f0);
    data(0x81, {9, 9, 9, 9, 9, 9, 9});
    data(0x81, f1);
    EXPECT_TRUE(tick(1));
    rec.take();
    EXPECT_TRUE(tick(300));
    EXPECT_FALSE(sentCommands().empty());
}

// Stale frames come in bursts (copies held back together): once two different frames met in one
// slot, nothing that arrives before the Block incomplete goes out may fill the block anew.
TEST_F(StreamEngineTest, AfterAConflictNothingIsTakenUntilTheBlockIsAskedForAgain) {
    configure(14);
    startReceivingResponder(28, 14);
    const std::array<std::uint8_t, 7> f0{1, 2, 3, 4, 5, 6, 7}, f1{8, 9, 10, 11, 12, 13, 14};
    for (const bool completed : {true, false}) {
        SCOPED_TRACE(completed ? "conflict with a completed block" : "conflict in one slot");
        data(0x00, f0);
        if (completed) data(0x01, f1);
        data(completed ? 0x01 : 0x00, {9, 9, 9, 9, 9, 9, 9});
        data(0x00, {6, 6, 6, 6, 6, 6, 6});  // the rest of the burst would make a whole block
        data(0x01, {7, 7, 7, 7, 7, 7, 7});
        EXPECT_TRUE(tick(1));
        EXPECT_EQ(sentCommands(), (std::vector<Words>{{kBlockIncomplete, 0, 2, 0}}));
    }
    data(0x00, f0);
    data(0x01, f1);
    EXPECT_TRUE(tick(1));
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kBlockAck, 0, 0, 0}}));
    std::vector<std::uint8_t> expected(14);
    std::iota(expected.begin(), expected.end(), std::uint8_t{1});
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 14), expected);
}

// A sender shortens its length only for its last chunk: the Close after that chunk is its end,
// taken at once (a Close after a full chunk is held, above).
TEST_F(StreamEngineTest, CloseAfterAShortenedChunkEndsTheReceiveAtOnce) {
    configure(14);
    ASSERT_TRUE(engine.startTransfer(buffer, 0x100, 14, false, true, true));
    command(kAccept, 14, 250, 5);
    data(0x00, {1, 2, 3, 4, 5, 6, 7});
    data(0x01, {8, 9, 10, 11, 12, 13, 14});
    EXPECT_TRUE(tick(1));
    command(kSetLength, 5);
    data(0x80, {15, 16, 17, 18, 19});
    data(0x81);
    EXPECT_TRUE(tick(1));
    rec.take();
    EXPECT_EQ(log.count(kStreamChunk), 2);
    command(kClose, 0);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kClose, 2, 0, 0}}));
    ASSERT_EQ(log.count(kStreamDone), 1);
    EXPECT_EQ(log.events.back().info.word3, 5);
    EXPECT_FALSE(engine.busy());
}

TEST_F(StreamEngineTest, TwoDifferentFramesForOneSlotKeepNeither) {
    configure(21);
    startReceivingResponder(21, 21);
    std::array<std::uint8_t, 7> f0{1, 2, 3, 4, 5, 6, 7}, f1{8, 9, 10, 11, 12, 13, 14},
        f2{15, 16, 17, 18, 19, 20, 21};
    data(0x00, f0);
    data(0x01, f1);
    data(0x00, {9, 9, 9, 9, 9, 9, 9});  // one of the two frames for slot 0 is stale
    data(0x02, f2);                     // completes nothing: neither copy was kept
    EXPECT_TRUE(tick(1));
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kBlockIncomplete, 0, 3, 0}}));
    // A stale frame for the last slot before the block: the block is full before its last
    // frame comes, so it waits for that frame, which shows the conflict.
    data(0x02, {9, 9, 9, 9, 9, 9, 9});
    data(0x00, f0);
    data(0x01, f1);
    EXPECT_TRUE(tick(1));
    EXPECT_TRUE(rec.take().empty());
    data(0x02, f2);
    EXPECT_TRUE(tick(1));
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kBlockIncomplete, 0, 3, 0}}));
    for (std::uint8_t k = 0; k < 3; ++k) data(k, k == 0 ? f0 : k == 1 ? f1 : f2);
    EXPECT_TRUE(tick(1));
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kBlockAck, 1, 0, 0}}));
    std::vector<std::uint8_t> expected(21);
    std::iota(expected.begin(), expected.end(), std::uint8_t{1});
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 21), expected);
}

TEST_F(StreamEngineTest, RequestWhileClosingEndsThePreviousTransferFirst) {
    configure(7);
    startSending(5, 7);
    command(kBlockAck, 1, 0);  // Close (0) goes out; its acknowledgement will be lost
    rec.take();
    EXPECT_FALSE(engine.startTransfer(buffer, 1, 5, true, true, false));  // still closing
    log.handler = [&](int type, TransferInfo& info) {
        if (type != kStreamRequest) return 0;
        return engine.startTransfer(buffer, info.word1, info.word2, false, false, false) ? 0 : 3;
    };
    command(kRequest, 0x0203, 4, 0);
    ASSERT_EQ(log.events.size(), 2u);
    EXPECT_EQ(log.events[0].type, kStreamDone);
    EXPECT_EQ(log.events[0].info.word3, 5);
    EXPECT_EQ(log.events[1].type, kStreamRequest);
    EXPECT_TRUE(engine.busy());
    command(kPropose, 7, 250, 5);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kAccept, 7, 250, 5}}));
}

TEST_F(StreamEngineTest, ClearReportsARunningTransferAndForgetsTheConfiguration) {
    configure();
    startSending(10, 140);
    rec.take();
    log.handler = [&](int, TransferInfo&) {
        // Nothing can start from inside: the configuration is gone.
        EXPECT_FALSE(engine.startTransfer(buffer, 1, 10, true, true, false));
        return 0;
    };
    engine.clear();
    EXPECT_TRUE(rec.take().empty());
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].type, kStreamAborted);
    EXPECT_EQ(log.events[0].info.word0, kAbortTimeout);
    EXPECT_EQ(engine.controlId(), kNoStreamId);
    EXPECT_EQ(engine.dataId(), 0u);
    EXPECT_FALSE(engine.busy());
    engine.clear();
    EXPECT_EQ(log.events.size(), 1u);
}

TEST_F(StreamEngineTest, IgnoresFramesThatAreNotPlainStandardFramesOfEight) {
    configure();
    ASSERT_TRUE(engine.startTransfer(buffer, 1, 10, false, true, false));
    const CanFrame::Data accept{kAccept, 0, 140, 0, 250, 0, 5, 0};
    engine.handleCommand(CanFrame(kCtl, true, false, 8, accept));
    engine.handleCommand(CanFrame(kCtl, false, true, 8, accept));
    engine.handleCommand(CanFrame(kCtl, false, false, 7, accept));
    engine.handleCommand(CanFrame(kDat, false, false, 8, accept));
    EXPECT_FALSE(engine.wantsData());
    engine.handleCommand(CanFrame(kCtl, false, false, 8, accept));
    EXPECT_TRUE(engine.wantsData());
}

TEST_F(StreamEngineTest, ListenerAbortInsideAChunkEventStopsTheHandler) {
    log.handler = [&](int type, TransferInfo&) {
        if (type == kStreamChunk) engine.abortTransfer();
        return 0;
    };
    configure(7);
    startSending(7, 7, true);
    rec.take();
    command(kBlockAck, 0, 0);
    EXPECT_EQ(sentCommands(), (std::vector<Words>{{kClose, 1, 0, 0}}));
    EXPECT_EQ(log.count(kStreamAborted), 1);
    EXPECT_FALSE(engine.busy());
}

}  // namespace
}  // namespace qv::test
