// Stream transfers of the CAN port against the simulator's controller over loopback: reads,
// chunked writes with their flash acknowledgement, a silent controller, aborts and closes from
// another thread, and random transfers under injected loss and duplication.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "link/can_port.h"
#include "sim/object_table.h"
#include "sim/world.h"
#include "support/loopback.h"
#include "support/ports.h"
#include "support/process.h"
#include "support/wait.h"

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kBase = 0x400;

struct Faults {
    double loss = 0;
    double dup = 0;
    std::uint64_t seed = 11;
    double delay = 0;
    sim::TcpForward forward = sim::TcpForward::kBoth;
    std::vector<std::string> frameFaults;  // "--replay X" / "--late X"
    double multicastDelay = 0;
};

const char* forwardName(sim::TcpForward f) {
    return f == sim::TcpForward::kTcp ? "tcp" : f == sim::TcpForward::kBoth ? "both" : "none";
}
constexpr sim::TcpForward kAllForwards[] = {sim::TcpForward::kTcp, sim::TcpForward::kBoth,
                                            sim::TcpForward::kNone};

struct Bench {
    explicit Bench(const Faults& f = {})
        : port(test::freePort()),
          world(options(port, f)),
          can([p = port] { return std::make_unique<CanUdpClient>(test::loopbackSettings(p)); }) {
        if (can.open() != 1) throw std::runtime_error("port did not open");
        can.setBridgeAddress(net::kLoopback);
        if (can.connectTcp(kBase + 18, 4) != 1) throw std::runtime_error("no TCP");
    }
    static sim::Options options(std::uint16_t port, const Faults& f) {
        sim::Options o;
        o.delayMs = f.delay;
        o.port = port;
        o.seed = f.seed;
        o.lossPercent = f.loss;
        o.maxObjectBytes = 65535;  // room for transfers of every 16-bit length
        o.rawObjects = true;       // of any bytes, not only configuration streams
        o.dupPercent = f.dup;
        o.tcpForward = f.forward;
        o.multicastDelayMs = f.multicastDelay;
        for (const std::string& spec : f.frameFaults)
            o.frameFaults.push_back(sim::parseFrameFault(spec.substr(spec.find(' ') + 1),
                                                         spec.starts_with("--replay")));
        o.devices.push_back(sim::parseDevice("0x400:123456:KX01"));
        return o;
    }
    bool configure(std::uint16_t blockSize = 0) {
        return can.configureStream(blockSize, kBase + 0x12, kBase + 0x14);
    }
    int read(std::vector<std::uint8_t>& out, std::uint16_t object, bool chunked) {
        std::uint16_t length = static_cast<std::uint16_t>(out.size());
        const int rc = can.transfer(&length, out.data(), object, false, chunked);
        if (rc == kTransferOk) out.resize(length);
        return rc;
    }
    int write(std::vector<std::uint8_t> data, std::uint16_t object, bool chunked) {
        std::uint16_t length = static_cast<std::uint16_t>(data.size());
        return can.transfer(&length, data.data(), object, true, chunked);
    }

    std::uint16_t port;
    sim::BackgroundWorld world;
    CBcan can;
};

std::vector<std::uint8_t> randomBytes(std::mt19937& random, std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

TEST(StreamEndToEnd, ReadsAndWritesWhateverTheBridgeForwardsOverTcp) {
    for (const sim::TcpForward forward : kAllForwards) {
        SCOPED_TRACE(forwardName(forward));
        Faults f;
        f.forward = forward;
        Bench b(f);
        ASSERT_TRUE(b.configure());
        std::vector<std::uint8_t> info(8);
        ASSERT_EQ(b.read(info, 0x0200, false), kTransferOk);
        std::vector<std::uint8_t> lengths(6);
        ASSERT_EQ(b.read(lengths, 0x0201, false), kTransferOk);

        std::mt19937 random(5);
        const auto record = randomBytes(random, 300);
        std::vector<std::uint16_t> progress;
        b.can.setProgressHook([&](std::uint16_t n) { progress.push_back(n); });
        b.can.waitForFrame(0xFFFFFFFF, nullptr, 1);
        b.can.takeReceivedFrameCount();
        ASSERT_EQ(b.write(record, 0x0101, true), kTransferOk);
        // Chunks of 140, 140 and 20 bytes, then the whole length; each chunk counts its 20
        // frames for the bus load, besides the frames that went to the queue.
        EXPECT_EQ(progress, (std::vector<std::uint16_t>{140, 140, 20, 300}));
        std::size_t queued = 0;
        b.can.setRawLogHook([&](const CanPacket&) { ++queued; });
        b.can.waitForFrame(0xFFFFFFFF, nullptr, 1);
        b.can.setRawLogHook({});
        EXPECT_EQ(b.can.takeReceivedFrameCount(), queued + 3 * 20);
        b.can.setProgressHook({});
        EXPECT_TRUE(b.can.completionEvent().waitFor(std::chrono::milliseconds(2000)));
        // Read back through a larger buffer: the controller closes after 300 bytes.
        std::vector<std::uint8_t> back(4096);
        ASSERT_EQ(b.read(back, 0x0101, true), kTransferOk);
        EXPECT_EQ(back, record);
        // A buffer smaller than the object takes what fits.
        std::vector<std::uint8_t> part(100);
        ASSERT_EQ(b.read(part, 0x0101, true), kTransferOk);
        EXPECT_EQ(part, std::vector<std::uint8_t>(record.begin(), record.begin() + 100));
    }
}

// Reads of 0x0101 against a bridge with `frameFaults`: each is exact or fails, none returns
// other bytes or fewer of them. Returns the count of exact reads.
int readsUnderFrameFaults(const std::vector<std::vector<std::string>>& cases) {
    int exact = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.front());
        Faults f;
        f.frameFaults = c;
        Bench b(f);
        EXPECT_TRUE(b.configure(14));  // two frames per block: blocks two apart come quickly
        const sim::ObjectTable objects = sim::makeControllerObjects(kBase, 123456);
        const auto* expected = objects.read(0x0101);
        for (int i = 0; i < 8; ++i) {
            std::vector<std::uint8_t> back(4096);
            if (b.read(back, 0x0101, true) != kTransferOk) continue;
            const auto diff =
                std::mismatch(back.begin(), back.end(), expected->begin(), expected->end());
            EXPECT_TRUE(back == *expected)
                << "read " << i << ": " << back.size() << " bytes, first difference at "
                << (diff.first - back.begin());
            ++exact;
        }
        EXPECT_GT(b.world.world().stats().bridge.framesReplayed +
                      b.world.world().stats().bridge.framesHeld,
                  0u);
    }
    return exact;
}

// Frames of the stream that come late or again: the controller's Close of the previous
// transfer, a data frame that later frames overtake, now and then a data frame of a block two or
// more back (same toggle).
TEST(StreamEndToEnd, LateAndReplayedStreamFramesNeverGiveWrongBytes) {
    EXPECT_GT(readsUnderFrameFaults({{"--replay 0x412/2:1:3", "--replay 0x412/2:1:12"},
                                     {"--replay 0x412/2:1:25"},
                                     {"--late 0x414:29:6"},
                                     {"--replay 0x414:41:4"}}),
              16);
}

// Replayed data frames every dozen frames: no read should return wrong bytes. Kept out of the
// suite because one can, about once in 300 runs: two replayed frames that make up a whole block
// of the awaited toggle, arriving before the real block, cannot be told from it. Run it with
// --gtest_also_run_disabled_tests (well under a second).
TEST(StreamEndToEnd, DISABLED_FrequentReplayedDataFramesNeverGiveWrongBytes) {
    EXPECT_GE(readsUnderFrameFaults({{"--replay 0x414:13:4"}, {"--replay 0x414:11:9"}}), 1);
}

TEST(StreamEndToEnd, SilentControllerFailsWithinRetriesTimesTimeout) {
    Bench b;
    ASSERT_TRUE(b.configure());
    b.world.world().post("mute 0x400");
    std::vector<std::uint8_t> info(8);
    const auto start = Clock::now();
    EXPECT_EQ(b.read(info, 0x0200, false), kTransferFailed);
    // Five repeats of 250 ms, then the abort: about 1.5 s, bounded generously for loaded machines.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    b.world.world().post("unmute 0x400");
    EXPECT_EQ(b.read(info, 0x0200, false), kTransferOk);
}

TEST(StreamEndToEnd, AbortFromAnotherThreadEndsTheTransferWithTwo) {
    Faults slow;
    slow.delay = 5;
    Bench b(slow);
    ASSERT_TRUE(b.configure(7));  // one frame per block, each delayed: a long transfer
    std::mt19937 random(9);
    std::thread aborter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        b.can.abortTransfer();
    });
    EXPECT_EQ(b.write(randomBytes(random, 20000), 0x0100, true), kTransferAborted);
    aborter.join();
}

TEST(StreamEndToEnd, ClosingThePortEndsARunningTransferAsFailed) {
    Faults slow;
    slow.delay = 5;
    Bench b(slow);
    ASSERT_TRUE(b.configure(7));
    std::mt19937 random(10);
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        b.can.close();
    });
    EXPECT_EQ(b.write(randomBytes(random, 20000), 0x0100, true), kTransferFailed);
    closer.join();
}

TEST(StreamEndToEnd, QvcliReadsAndWritesObjectsWhateverTheBridgeForwards) {
    for (const char* forward : {"both", "tcp", "none"}) {
        SCOPED_TRACE(forward);
        const std::uint16_t port = test::freePort();
        test::BackgroundProcess sim(
            QV_SIM_PATH,
            {"--port", std::to_string(port), "--tcp-forward", forward, "--raw-objects"},
            "qvsim ready");
        ASSERT_TRUE(sim.ready());
        const std::vector<std::string> common{"--interface",        "127.0.0.1", "--port",
                                              std::to_string(port), "--device",  "0x400"};
        auto args = [&](std::vector<std::string> extra) {
            std::vector<std::string> all{extra.front()};
            all.insert(all.end(), common.begin(), common.end());
            all.insert(all.end(), extra.begin() + 1, extra.end());
            return all;
        };
        const auto info = test::runProcess(QV_CLI_PATH, args({"read", "--object", "0x200"}));
        ASSERT_EQ(info.exitCode, 0) << info.err;
        EXPECT_EQ(info.out.size(), std::string("0000: 00 00 00 00 00 00 00 00\n").size());
        const auto write = test::runProcess(
            QV_CLI_PATH, args({"write", "--object", "0x102", "--hex", "DE AD BE EF 01"}));
        ASSERT_EQ(write.exitCode, 0) << write.err;
        const auto back =
            test::runProcess(QV_CLI_PATH, args({"read", "--object", "0x102", "--chunked"}));
        ASSERT_EQ(back.exitCode, 0) << back.err;
        EXPECT_EQ(back.out, "0000: DE AD BE EF 01\n");
        if (std::string(forward) != "both") continue;
        const auto absent = test::runProcess(
            QV_CLI_PATH, {"read", "--interface", "127.0.0.1", "--port", std::to_string(port),
                          "--device", "0x7C0", "--object", "0x200"});
        EXPECT_EQ(absent.exitCode, 1);
        EXPECT_NE(absent.err.find("no device announces itself at 0x7C0"), std::string::npos);
    }
}

// Every transfer delivers exactly the bytes sent or reports failure in bounded time; never wrong
// data, never a hang. A write whose acknowledgement was lost may still have been stored, so the
// read-back must equal either the new or the previous contents.
void runRandomTransfers(double loss, double dup, int count, std::size_t maxLength,
                        std::uint64_t seed, sim::TcpForward forward = sim::TcpForward::kBoth,
                        double multicastDelay = 0) {
    // QV_E2E_SEED explores other seeds locally; the suite runs fixed ones.
    if (const char* env = std::getenv("QV_E2E_SEED")) seed += std::strtoull(env, nullptr, 10);
    SCOPED_TRACE(testing::Message() << forwardName(forward) << " loss " << loss << " dup " << dup
                                    << " multicast delay " << multicastDelay);
    Faults f;
    f.loss = loss;
    f.dup = dup;
    f.seed = seed;
    f.forward = forward;
    f.multicastDelay = multicastDelay;
    Bench b(f);
    std::mt19937 random(static_cast<std::uint32_t>(seed));
    std::vector<std::uint8_t> stored;
    bool storedKnown = false;
    for (int i = 0; i < count; ++i) {
        const std::uint16_t block = static_cast<std::uint16_t>(7 + random() % 883);
        // Under loss the previous transfer's Close may still be repeated for a while.
        ASSERT_TRUE(test::eventually([&] { return b.configure(block); }));
        const std::size_t n = 1 + random() % maxLength;
        const bool chunked = n > 4096 || random() % 2 == 0;
        const auto data = randomBytes(random, n);
        const auto start = Clock::now();
        int w = b.write(data, 0x0100, chunked);
        // Stored means acknowledged by the controller's own transfer within 2 s.
        if (w == kTransferOk && !b.can.completionEvent().waitFor(std::chrono::milliseconds(2000)))
            w = kTransferFailed;
        // A whole read must ask for the object's exact length (the receiver's length rules the
        // end of a whole transfer): read whole only when the stored length is known.
        const bool known = w == kTransferOk || storedKnown;
        const bool readChunked = chunked || !known;
        const std::size_t expected = w == kTransferOk ? n : stored.size();
        std::vector<std::uint8_t> back(readChunked ? 65535 : expected);
        const int r = b.read(back, 0x0100, readChunked);
        // Bounded: each step may take retries x time-out; a transfer has few steps per block.
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(60));
        if (r != kTransferOk) {
            storedKnown = false;
            continue;
        }
        if (w == kTransferOk || back == data) {
            EXPECT_TRUE(back == data)
                << "transfer " << i << " of " << n << " bytes, block " << block
                << (chunked ? " chunked" : " whole") << ", read back " << back.size()
                << " bytes, write result " << w;
            stored = data;
            storedKnown = true;
        } else if (storedKnown) {
            auto prefixOf = [&](const std::vector<std::uint8_t>& whole) {
                return back.size() <= whole.size() &&
                       std::equal(back.begin(), back.end(), whole.begin());
            };
            // A failed write that was stored all the same: a whole read of the old length
            // returns the start of the new bytes. What is stored is unknown from here on.
            const bool startOfNew = !readChunked && back.size() < n && prefixOf(data);
            EXPECT_TRUE(back == stored || startOfNew)
                << "transfer " << i << ": read back " << back.size() << " bytes (prefix of new "
                << prefixOf(data) << ", of stored " << prefixOf(stored) << "), new " << n
                << ", stored " << stored.size() << (readChunked ? " chunked" : " whole");
            if (startOfNew) storedKnown = false;
        }
    }
}

TEST(StreamEndToEnd, RandomTransfersWithoutFaultsAreExact) {
    runRandomTransfers(0, 0, 6, 65535, 21);
    runRandomTransfers(0, 0, 3, 5000, 24, sim::TcpForward::kTcp);
    runRandomTransfers(0, 0, 3, 5000, 25, sim::TcpForward::kNone);
    // Multicast copies 300 ms behind TCP's: never taken as new frames.
    runRandomTransfers(0, 0, 3, 5000, 26, sim::TcpForward::kBoth, 300);
}

TEST(StreamEndToEnd, RandomTransfersUnderLossAndDuplicationAreExactOrFail) {
    for (const sim::TcpForward forward : kAllForwards)
        runRandomTransfers(10, 0, 4, 700, 22, forward);
    runRandomTransfers(10, 10, 5, 700, 22);
    runRandomTransfers(20, 20, 3, 300, 23);
}

}  // namespace
}  // namespace qv
