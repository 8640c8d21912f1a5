// The controller's stream transfer protocol, driven by a second engine playing the program over
// a plain multicast socket: fixed objects, chunked streams, writes with their acknowledgement,
// refusals, muting and reset.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <thread>

#include "link/bridge_codec.h"
#include "link/chunk_cursor.h"
#include "link/stream_engine.h"
#include "sim/object_table.h"
#include "sim/probe.h"
#include "sim/world.h"
#include "support/ports.h"

namespace qv::sim {
namespace {

constexpr std::uint64_t kProgramId = 0x00017F0000123456ull;
constexpr std::uint32_t kBase = 0x400;

double clockMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The program's end of a transfer, the way its CAN port runs one: whole or chunked through a
// 140-byte window, and the controller's write acknowledgement (0x0203) accepted.
class ProgramSide : public PacketReceivedListener {
  public:
    ProgramSide(std::uint16_t port, const World& world)
        : probe_(port, kDefaultBusId, kProgramId),
          bridgeId_(world.bridgeSenderId()),
          engine_(StreamEngine::Io{[this](const CanFrame& f) {
                                       queued_.push_back(f);
                                       return true;
                                   },
                                   [this] {
                                       const bool ok = queued_.empty() || probe_.send(queued_);
                                       queued_.clear();
                                       return ok;
                                   },
                                   clockMs}) {}

    bool configure(std::uint16_t blockSize) {
        return engine_.configureStream(kBase + 0x12, kBase + 0x14, blockSize, 0, 0, this);
    }

    // 0 done, 1 failed.
    int read(std::uint16_t index, std::vector<std::uint8_t>& out, std::uint16_t length,
             bool chunked) {
        out.assign(length, 0);
        std::uint16_t engineLength = length;
        if (chunked) engineLength = receiver_.start(out, window_);
        chunked_ = chunked;
        sending_ = false;
        const std::span<std::uint8_t> buffer =
            chunked ? std::span<std::uint8_t>(window_) : std::span<std::uint8_t>(out);
        const int result = run(buffer, index, engineLength, false, chunked);
        if (chunked) out.resize(receiver_.received());
        return result;
    }

    int write(std::uint16_t index, std::vector<std::uint8_t> data, bool chunked) {
        data_ = std::move(data);
        chunked_ = chunked;
        sending_ = true;
        std::uint16_t engineLength = static_cast<std::uint16_t>(data_.size());
        if (chunked) engineLength = sender_.start(data_, window_);
        const std::span<std::uint8_t> buffer =
            chunked ? std::span<std::uint8_t>(window_) : std::span<std::uint8_t>(data_);
        return run(buffer, index, engineLength, true, chunked);
    }

    // Waits for the controller's write acknowledgement; returns its payload, or nothing.
    std::optional<std::vector<std::uint8_t>> waitAck(int timeoutMs) {
        const double end = clockMs() + timeoutMs;
        while (!ackDone_ && clockMs() < end) pump(5);
        if (!ackDone_) return std::nullopt;
        ackDone_ = false;
        return std::vector<std::uint8_t>(ackBuffer_.begin(), ackBuffer_.begin() + ackLength_);
    }
    double ackRequestedAtMs() const { return ackRequestedMs_; }
    double lastDoneMs() const { return doneMs_; }

    void pump(int ms) {
        const double end = clockMs() + ms;
        do {
            if (auto d = probe_.receive(1)) {
                for (const CanPacket& p : d->packets) {
                    if (p.senderId != bridgeId_ || p.status) continue;
                    if (p.frame.identifier() == kBase + 0x12)
                        engine_.handleCommand(p.frame);
                    else if (p.frame.identifier() == kBase + 0x14 && engine_.wantsData())
                        engine_.handleData(p.frame);
                }
            }
            if (!engine_.pollTransfer()) engine_.abortAfterTimeout();
        } while (clockMs() < end);
    }

    Probe& probe() { return probe_; }

  private:
    int run(std::span<std::uint8_t> buffer, std::uint16_t index, std::uint16_t length, bool sends,
            bool chunked) {
        done_ = aborted_ = false;
        ownTransfer_ = true;
        if (!engine_.startTransfer(buffer, index, length, sends, true, chunked)) return 1;
        const double end = clockMs() + 5000;
        while (!done_ && !aborted_ && clockMs() < end) pump(2);
        ownTransfer_ = false;
        return done_ ? 0 : 1;
    }

    void onPacketReceived(const CanPacket&) override {}

    int onStreamEvent(int type, TransferInfo& info) override {
        switch (type) {
            case kStreamRequest:
                if (info.word1 != object::kWriteAck || info.word2 > ackBuffer_.size()) return 3;
                ackLength_ = info.word2;
                ackRequestedMs_ = clockMs();
                ownTransfer_ = false;
                return engine_.startTransfer(ackBuffer_, info.word1, info.word2,
                                             (info.word3 & 0x0F00) != 0, false,
                                             (info.word3 & 0x000F) != 0)
                           ? 0
                           : 3;
            case kStreamDone:
                if (ownTransfer_) {
                    done_ = true;
                    doneMs_ = clockMs();
                } else {
                    ackDone_ = true;
                }
                return 0;
            case kStreamAborted:
                if (ownTransfer_) aborted_ = true;
                return 0;
            case kStreamChunk:
                if (sending_ && chunked_) return sender_.onChunk(info);
                if (chunked_) return receiver_.onChunk(info);
                return 1;
            default:
                return 0;
        }
    }

    Probe probe_;
    std::uint64_t bridgeId_;
    std::vector<CanFrame> queued_;
    StreamEngine engine_;
    std::array<std::uint8_t, kChunkSize> window_{};
    ChunkSender sender_;
    ChunkReceiver receiver_;
    std::vector<std::uint8_t> data_;
    bool chunked_ = false, sending_ = false;
    bool done_ = false, aborted_ = false, ownTransfer_ = false, ackDone_ = false;
    std::array<std::uint8_t, 16> ackBuffer_{};
    std::uint16_t ackLength_ = 0;
    double ackRequestedMs_ = 0, doneMs_ = 0;
};

struct SimStream : ::testing::Test {
    SimStream() : port(test::freePort()), world(options(port)), program(port, world.world()) {}
    static Options options(std::uint16_t port) {
        Options o;
        o.port = port;
        o.rawObjects = true;  // the configuration objects serve as plain test objects here
        return o;
    }
    std::uint16_t port;
    BackgroundWorld world;
    ProgramSide program;
    ObjectTable expected = makeControllerObjects(kBase, 123456);
};

TEST_F(SimStream, FixedObjectsAndChunkedStreamsReadBackExactly) {
    ASSERT_TRUE(program.configure(7));
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(program.read(object::kReadOnlyInfo, bytes, 8, false), 0);
    EXPECT_EQ(bytes, *expected.read(object::kReadOnlyInfo));
    ASSERT_EQ(program.read(object::kStreamLengths, bytes, 6, false), 0);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{96, 0, 0x36, 1, 0xFA, 5}));
    ASSERT_EQ(program.read(object::kRequiredVersion, bytes, 2, false), 0);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{200, 0}));
    ASSERT_TRUE(program.configure(0));
    for (std::uint16_t kind = 0; kind < 3; ++kind) {
        const auto index = static_cast<std::uint16_t>(object::kConfigStream + kind);
        ASSERT_EQ(program.read(index, bytes, 4096, true), 0) << kind;
        EXPECT_EQ(bytes, *expected.read(index)) << kind;
    }
}

TEST_F(SimStream, AWriteIsStoredAcknowledgedAndReadBack) {
    ASSERT_TRUE(program.configure(0));
    std::vector<std::uint8_t> data(300);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
    ASSERT_EQ(program.write(0x0101, data, true), 0);
    const auto ack = program.waitAck(2000);
    ASSERT_TRUE(ack);
    EXPECT_EQ(*ack, (std::vector<std::uint8_t>{0x01, 0x01}));
    // The flash write takes its time before the acknowledgement starts.
    EXPECT_GE(program.ackRequestedAtMs() - program.lastDoneMs(), 30.0);
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(program.read(0x0101, bytes, 4096, true), 0);
    EXPECT_EQ(bytes, data);
    ASSERT_TRUE(program.configure(7));
    ASSERT_EQ(program.read(object::kStreamLengths, bytes, 6, false), 0);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{96, 0, 0x2C, 1, 0xFA, 5}));
}

TEST_F(SimStream, AnOverlongStreamIsNeitherStoredNorAcknowledged) {
    ASSERT_TRUE(program.configure(0));
    program.write(0x0100, std::vector<std::uint8_t>(kMaxConfigStream + 1, 0x55), true);
    EXPECT_FALSE(program.waitAck(300));
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(program.read(0x0100, bytes, 4096, true), 0);
    EXPECT_EQ(bytes, *expected.read(0x0100));
    // The largest stream allowed is taken.
    ASSERT_EQ(program.write(0x0100, std::vector<std::uint8_t>(kMaxConfigStream, 0x66), true), 0);
    EXPECT_TRUE(program.waitAck(2000));
}

TEST_F(SimStream, RequestsForOtherObjectsAreRefused) {
    ASSERT_TRUE(program.configure(7));
    std::vector<std::uint8_t> bytes;
    const double t0 = clockMs();
    EXPECT_EQ(program.read(0x0300, bytes, 8, false), 1);
    // Refused: nothing answers, the program gives up after its retries (5 x 250 ms).
    EXPECT_GE(clockMs() - t0, 1200.0);
    EXPECT_EQ(program.write(object::kReadOnlyInfo, std::vector<std::uint8_t>(8, 1), false), 1);
}

TEST_F(SimStream, AMutedControllerDoesNotTakePartUntilUnmuted) {
    ASSERT_TRUE(program.configure(7));
    world.world().post("mute 0x400");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(program.read(object::kRequiredVersion, bytes, 2, false), 1);
    world.world().post("unmute 0x400");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(program.read(object::kRequiredVersion, bytes, 2, false), 0);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{200, 0}));
}

TEST_F(SimStream, ResetSilencesTheControllerForAboutASecond) {
    ASSERT_TRUE(program.configure(7));
    ASSERT_EQ(program.write(object::kReset, {0}, false), 0);
    const double t0 = clockMs();
    auto fromController = [](const CanPacket& p) {
        return !p.status && p.frame.identifier() >= kBase && p.frame.identifier() < kBase + 0x20;
    };
    // Frames already on their way may still arrive; then silence until it runs again.
    program.probe().collect(30);
    EXPECT_FALSE(program.probe().waitFor(fromController, 800));
    const auto back = program.probe().waitFor(
        [](const CanPacket& p) { return !p.status && p.frame.identifier() == kBase; }, 1000);
    ASSERT_TRUE(back);
    EXPECT_GE(clockMs() - t0, 900.0);
    // It serves again after the reset.
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(program.read(object::kRequiredVersion, bytes, 2, false), 0);
}

}  // namespace
}  // namespace qv::sim
