// Two stream engines back to back over a simulated link with a shared fake clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>

#include "link/stream_test_peer.h"

namespace qv::test {
namespace {

using Fate = SimLink::Fate;

struct Plan {
    bool initiatorSends = true;
    bool chunked = false;
    std::size_t length = 1;         // bytes the sending end has
    std::size_t receiverWants = 0;  // 0: the same as `length`
    std::uint16_t blockA = 0;
    std::uint16_t blockB = 0;
    double timeoutMs = 0;
};

std::vector<std::uint8_t> randomBytes(std::size_t n, std::mt19937& rng) {
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
}

// End 0 initiates, end 1 responds to its Request.
std::vector<std::uint8_t> setUp(SimLink& link, const Plan& p, std::uint32_t seed = 7) {
    std::mt19937 rng(seed);
    auto bytes = randomBytes(p.length, rng);
    PortLikeApp& a = link.ends[0].app;
    PortLikeApp& b = link.ends[1].app;
    PortLikeApp& sender = p.initiatorSends ? a : b;
    PortLikeApp& receiver = p.initiatorSends ? b : a;
    a.chunked = b.chunked = p.chunked;
    sender.sends = true;
    sender.source = bytes;
    receiver.sends = false;
    receiver.total = p.receiverWants != 0 ? p.receiverWants : p.length;
    EXPECT_TRUE(link.configure(p.blockA, p.blockB, p.timeoutMs));
    EXPECT_TRUE(a.begin(true, 0x0100));
    return bytes;
}

const PortLikeApp& receiverOf(const SimLink& link, const Plan& p) {
    return link.ends[p.initiatorSends ? 1 : 0].app;
}

void expectExact(const SimLink& link, const Plan& p, const std::vector<std::uint8_t>& bytes) {
    for (const auto& e : link.ends) {
        EXPECT_EQ(e.app.dones, 1);
        EXPECT_EQ(e.app.aborts, 0);
        EXPECT_FALSE(e.engine->busy());
    }
    EXPECT_EQ(receiverOf(link, p).sink, bytes);
}

bool isCommand(const CanFrame& f, std::uint16_t cmd) {
    return f.identifier() == kCtl && words(f)[0] == cmd;
}

// Drops (or duplicates) the first frame that `match` selects, once.
SimLink::Script once(std::function<bool(int, const CanFrame&)> match, Fate fate = Fate::drop) {
    auto done = std::make_shared<bool>(false);
    return [=](int from, const CanFrame& f) {
        if (*done || !match(from, f)) return Fate::deliver;
        *done = true;
        return fate;
    };
}

// ---------------------------------------------------------------------------------------------

TEST(StreamLink, EveryLengthAroundFramesAndBlocksArrivesExactly) {
    for (const std::uint16_t block : {7, 8, 13, 14, 140, 889}) {
        std::set<std::size_t> lengths;
        for (std::size_t n = 1; n <= 30; ++n) lengths.insert(n);
        for (const std::size_t n : {block - 1u, block + 0u, block + 1u, 2u * block - 1, 2u * block,
                                    2u * block + 1, 141u, 281u})
            if (n > 0) lengths.insert(n);
        for (const std::size_t n : lengths)
            for (const bool sends : {true, false})
                for (const bool chunked : {false, true}) {
                    SCOPED_TRACE(testing::Message() << "B=" << block << " L=" << n << " sends="
                                                    << sends << " chunked=" << chunked);
                    SimLink link;
                    const Plan p{sends, chunked, n, 0, block, block};
                    const auto bytes = setUp(link, p);
                    ASSERT_TRUE(link.run(60000));
                    expectExact(link, p, bytes);
                }
    }
}

TEST(StreamLink, DifferentBlockSizesAgreeOnTheSmaller) {
    for (const bool sends : {true, false}) {
        SimLink link;
        const Plan p{sends, false, 1000, 0, 889, 30};
        const auto bytes = setUp(link, p);
        ASSERT_TRUE(link.run(60000));
        expectExact(link, p, bytes);
        // Back to the configured sizes once the transfer is over.
        EXPECT_EQ(link.ends[0].engine->framesPerBlock(), 127);
        EXPECT_EQ(link.ends[1].engine->framesPerBlock(), 5);
    }
}

TEST(StreamLink, LongChunkedTransfersInBothDirections) {
    for (const bool sends : {true, false})
        for (const std::size_t n : {4096u, 4097u, 65535u}) {
            SimLink link;
            const Plan p{sends, true, n, 0, 889, 0};
            const auto bytes = setUp(link, p);
            ASSERT_TRUE(link.run(600000));
            expectExact(link, p, bytes);
        }
}

TEST(StreamLink, ChunkedReceiveEndsEarlyWhenTheSenderHasLess) {
    // The receiving initiator offers 4096 bytes; the sending responder has 300 (and then 100):
    // the sender shortens the length and closes once its data is gone.
    for (const std::size_t n : {300u, 100u}) {
        SimLink link;
        const Plan p{false, true, n, 4096, 0, 0};
        const auto bytes = setUp(link, p);
        ASSERT_TRUE(link.run(60000));
        expectExact(link, p, bytes);
    }
}

TEST(StreamLink, AcknowledgementArrivingTwice) {
    for (const bool chunked : {false, true}) {
        SimLink link;
        const Plan p{true, chunked, 700, 0, 140, 140};
        const auto bytes = setUp(link, p);
        link.script = [](int from, const CanFrame& f) {
            return from == 1 && isCommand(f, stream_cmd::kBlockAck) ? Fate::duplicate
                                                                    : Fate::deliver;
        };
        ASSERT_TRUE(link.run(60000));
        expectExact(link, p, bytes);
    }
}

TEST(StreamLink, SetLengthOrItsReplyLostOnce) {
    for (const std::uint16_t which : {1, 0}) {  // 1: the sender's Set length, 0: the reply
        // 300 bytes in 140-byte chunks: the last chunk of 20 bytes needs a Set length.
        SimLink link;
        const Plan p{true, true, 300, 0, 0, 0};
        const auto bytes = setUp(link, p);
        link.script = once([which](int, const CanFrame& f) {
            return isCommand(f, stream_cmd::kSetLength) && (words(f)[1] != 0) == (which == 1);
        });
        ASSERT_TRUE(link.run(60000));
        expectExact(link, p, bytes);
    }
}

TEST(StreamLink, InitialSetLengthLostOnce) {
    SimLink link;
    const Plan p{false, true, 100, 4096, 0, 0};
    const auto bytes = setUp(link, p);
    link.script = once([](int from, const CanFrame& f) {
        return from == 1 && isCommand(f, stream_cmd::kSetLength);
    });
    ASSERT_TRUE(link.run(60000));
    expectExact(link, p, bytes);
}

TEST(StreamLink, CloseLostOnceIsRepeated) {
    for (const bool sends : {true, false}) {
        SimLink link;
        const Plan p{sends, false, 50, 0, 14, 14};
        const auto bytes = setUp(link, p);
        link.script = once([](int from, const CanFrame& f) {
            return from == 0 && isCommand(f, stream_cmd::kClose) && words(f)[1] == 0;
        });
        ASSERT_TRUE(link.run(60000));
        expectExact(link, p, bytes);
    }
}

TEST(StreamLink, LostFirstBlockOfOneFrameIsSentAgainOnTheRepeatedAccept) {
    SimLink link;
    const Plan p{true, false, 1, 0, 7, 7};
    const auto bytes = setUp(link, p);
    link.script =
        once([](int from, const CanFrame& f) { return from == 0 && f.identifier() == kDat; });
    ASSERT_TRUE(link.run(60000));
    expectExact(link, p, bytes);
}

TEST(StreamLink, RequestDuringATransferIsIgnored) {
    SimLink link;
    const Plan p{true, false, 2000, 0, 140, 140};
    const auto bytes = setUp(link, p);
    int injected = 0;
    link.script = [&](int from, const CanFrame& f) {
        if (from == 1 && isCommand(f, stream_cmd::kBlockAck) && injected < 2) {
            link.inject(1, commandFrame(stream_cmd::kRequest, 0x0203, 4, 0));
            link.inject(0, commandFrame(stream_cmd::kRequest, 0x0203, 4, 0));
            ++injected;
        }
        return Fate::deliver;
    };
    ASSERT_TRUE(link.run(60000));
    expectExact(link, p, bytes);
    EXPECT_EQ(link.ends[0].app.requests, 0);
    EXPECT_EQ(link.ends[1].app.requests, 1);  // only the transfer's own Request
}

TEST(StreamLink, RequestAfterALostCloseAcknowledgementEndsTheUploadAsDone) {
    // An upload whose Close (2) is lost, followed by the controller's acknowledgement transfer.
    SimLink link;
    const Plan p{true, false, 150, 0, 0, 0};
    const auto bytes = setUp(link, p);
    link.script = once([](int from, const CanFrame& f) {
        return from == 1 && isCommand(f, stream_cmd::kClose) && words(f)[1] == 2;
    });
    PortLikeApp& pc = link.ends[0].app;
    PortLikeApp& controller = link.ends[1].app;
    ASSERT_TRUE(link.run(60000, [&] { return controller.ended(); }));
    EXPECT_EQ(controller.dones, 1);
    EXPECT_EQ(controller.sink, bytes);
    EXPECT_FALSE(pc.ended());
    // The controller starts its acknowledgement; the PC answers as a receiving responder.
    pc.sends = false;
    pc.total = 4;
    controller.sends = true;
    controller.source = {1, 2, 3, 4};
    ASSERT_TRUE(controller.begin(true, 0x0203));
    ASSERT_TRUE(
        link.run(60000, [&] { return pc.dones + pc.aborts >= 2 && controller.dones >= 2; }));
    EXPECT_EQ(pc.dones, 2);
    EXPECT_EQ(pc.aborts, 0);
    EXPECT_EQ(pc.requests, 1);
    EXPECT_EQ(pc.sink, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(controller.dones, 2);
}

// Failures the wire protocol cannot avoid end cleanly within the retries on both ends.
TEST(StreamLink, ProtocolFailuresEndCleanly) {
    struct Case {
        const char* name;
        bool initiatorSends;
        std::function<bool(int, const CanFrame&)> match;
        int initiatorDone;
        int responderDone;
    };
    const std::vector<Case> cases{
        {"sending responder's Accept lost", false,
         [](int from, const CanFrame& f) { return from == 1 && isCommand(f, stream_cmd::kAccept); },
         0, 0},
        {"receiving responder's final acknowledgement lost", true,
         [](int from, const CanFrame& f) {
             return from == 1 && isCommand(f, stream_cmd::kBlockAck) && words(f)[1] == 1;
         },
         0, 0},
        {"Close (2) lost", true,
         [](int from, const CanFrame& f) {
             return from == 1 && isCommand(f, stream_cmd::kClose) && words(f)[1] == 2;
         },
         0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimLink link;
        const Plan p{c.initiatorSends, false, 100, 0, 0, 0};
        const auto bytes = setUp(link, p);
        link.script = once(c.match);
        // Data, then at most two rounds of five 250 ms repeats.
        ASSERT_TRUE(link.run(4000));
        const auto& init = link.ends[0].app;
        const auto& resp = link.ends[1].app;
        EXPECT_EQ(init.dones, c.initiatorDone);
        EXPECT_EQ(init.aborts, 1 - c.initiatorDone);
        EXPECT_EQ(resp.dones, c.responderDone);
        EXPECT_EQ(resp.aborts, 1 - c.responderDone);
        EXPECT_EQ(init.lastEnd.word0, init.dones ? 0 : kAbortTimeout);
        if (receiverOf(link, p).dones == 1) {
            EXPECT_EQ(receiverOf(link, p).sink, bytes);
        }
        EXPECT_FALSE(link.ends[0].engine->busy());
        EXPECT_FALSE(link.ends[1].engine->busy());
    }
}

// Random lengths, block sizes and directions over a link that loses, duplicates and reorders
// up to 20 % of the frames: each end reports exactly one end, within a bound on fake time,
// and a receiver that reports done (or drained chunks) holds exactly the bytes sent.
TEST(StreamLink, LossyLinkNeverDeliversWrongDataAndNeverHangs) {
    std::mt19937 rng(20261208);
    int exact = 0, failed = 0, split = 0;
    for (int run = 0; run < 1000; ++run) {
        const auto pick = [&](std::size_t lo, std::size_t hi) {
            return std::uniform_int_distribution<std::size_t>(lo, hi)(rng);
        };
        const std::size_t bucket = pick(0, 99);
        const std::size_t length = bucket < 75   ? pick(1, 600)
                                   : bucket < 96 ? pick(601, 5000)
                                                 : pick(5001, 65535);
        Plan p;
        p.initiatorSends = pick(0, 1) == 1;
        p.chunked = pick(0, 1) == 1;
        p.length = length;
        p.blockA = static_cast<std::uint16_t>(pick(7, 889));
        p.blockB = static_cast<std::uint16_t>(pick(7, 889));
        p.timeoutMs = 50;
        SCOPED_TRACE(testing::Message()
                     << "run " << run << " L=" << length << " B=" << p.blockA << "/" << p.blockB
                     << " sends=" << p.initiatorSends << " chunked=" << p.chunked);
        SimLink link;
        link.rng.seed(static_cast<std::uint32_t>(run));
        link.faults.drop = std::uniform_real_distribution<double>(0, 0.2)(rng);
        link.faults.duplicate = std::uniform_real_distribution<double>(0, 0.2)(rng);
        link.faults.reorder = std::uniform_real_distribution<double>(0, 0.2)(rng);
        const auto bytes = setUp(link, p, static_cast<std::uint32_t>(run));

        const std::uint16_t b = std::min(p.blockA, p.blockB);
        const double frames = (b + 6) / 7;
        const double steps = static_cast<double>(length) / b + 2.0 * (length / 140.0) + 8;
        const double bound = steps * (frames + 5 + 2) * (p.timeoutMs + 10);
        ASSERT_TRUE(link.run(bound)) << "endless exchange";

        const auto& rx = receiverOf(link, p);
        for (const auto& e : link.ends) {
            ASSERT_EQ(e.app.dones + e.app.aborts, 1) << "no end within " << bound << " ms";
            EXPECT_FALSE(e.engine->busy());
        }
        if (rx.dones == 1) {
            ASSERT_EQ(rx.sink, bytes);
        } else {
            // Whatever was drained before the failure is a true prefix.
            ASSERT_LE(rx.sink.size(), bytes.size());
            ASSERT_TRUE(std::equal(rx.sink.begin(), rx.sink.end(), bytes.begin()));
        }
        const int dones = link.ends[0].app.dones + link.ends[1].app.dones;
        (dones == 2 ? exact : dones == 0 ? failed : split) += 1;
    }
    std::printf("lossy transfers: %d exact, %d failed on both ends, %d split\n", exact, failed,
                split);
    EXPECT_GT(exact, 500);
}

}  // namespace
}  // namespace qv::test
