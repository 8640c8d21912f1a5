// Feeds one stream engine a script of received command and data frames, clock ticks, aborts
// and restarts decoded from the input, with a listener whose answers also come from the input.
// Checks: no out-of-bounds access (sanitizers), every started transfer reports exactly one end,
// and once the input stops, ticking the clock ends whatever still runs within what the engine
// lets a peer raise the time-out and retries to (the script's commands carry any values).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "link/stream_engine.h"

namespace {

using qv::CanFrame;
using qv::StreamEngine;
using qv::TransferInfo;

constexpr std::uint32_t kControlId = 0x12;
constexpr std::uint32_t kDataId = 0x14;
// The engine's own configuration from the script stays below these.
constexpr std::uint16_t kMaxOwnTimeout = 255 * 4;
constexpr std::uint16_t kMaxOwnRetries = 8;

void check(bool ok) {
    if (!ok) std::abort();
}

class Script {
  public:
    Script(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool more() const { return pos_ < size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t word() {
        const std::uint16_t lo = byte();
        return static_cast<std::uint16_t>(lo | (byte() << 8));
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

class Harness : public qv::PacketReceivedListener {
  public:
    explicit Harness(Script& script)
        : script_(script),
          engine_(StreamEngine::Io{[this](const CanFrame& f) { return queue(f); },
                                   [this] { return flush(); }, [this] { return clock_; }}) {}

    void run() {
        const std::uint8_t flags = script_.byte();
        const std::uint16_t length = script_.word();
        blockSize_ = static_cast<std::uint16_t>(script_.word() % 890);
        timeout_ = script_.byte() * 4.0;
        retries_ = script_.byte() % (kMaxOwnRetries + 1);
        buffer_.assign(static_cast<std::size_t>(script_.byte()) * 257 + 1, 0xA5);
        configure();
        start(flags, length);
        while (script_.more()) step();
        finish();
    }

    void onPacketReceived(const qv::CanPacket&) override {}

    int onStreamEvent(int type, TransferInfo& info) override {
        switch (type) {
            case qv::kStreamDone:
            case qv::kStreamAborted:
                ++ended_;
                check(ended_ <= started_);
                return 0;
            case qv::kStreamRequest: {
                const std::uint8_t answer = script_.byte();
                if ((answer & 1) == 0) return 3;
                const bool sends = (info.word3 & 0x0F00) != 0;
                const bool variable = (info.word3 & 0x000F) != 0;
                const std::uint16_t length = (answer & 2) ? info.word2 : script_.word();
                if (engine_.startTransfer(buffer_, info.word1, length, sends, false, variable))
                    ++started_;
                return 0;
            }
            case qv::kStreamChunk: {
                const std::uint8_t answer = script_.byte();
                if (answer & 0x80) engine_.abortTransfer();
                if (answer & 0x40) info.word1 = script_.word();
                return answer % 4;
            }
            default:
                return 0;
        }
    }

  private:
    bool queue(const CanFrame& frame) {
        check(frame.length() == 8 && !frame.extended() && !frame.remote());
        check(frame.identifier() == kControlId || frame.identifier() == kDataId);
        ++queued_;
        return !failQueue_;
    }
    bool flush() {
        queued_ = 0;
        return !failFlush_;
    }

    void configure() {
        check(engine_.configureStream(kControlId, kDataId, blockSize_, timeout_, retries_, this));
    }

    void start(std::uint8_t flags, std::uint16_t length) {
        const bool initiate = flags & 1;
        const bool sends = flags & 2;
        const bool variable = flags & 4;
        const bool started = engine_.startTransfer(buffer_, static_cast<std::uint16_t>(flags | 1),
                                                   length, sends, initiate, variable);
        check(!started || length <= buffer_.size());
        if (started) ++started_;
    }

    void checkBalance() const { check(started_ - ended_ == (engine_.busy() ? 1 : 0)); }

    CanFrame commandFrame() {
        CanFrame::Data d{};
        std::uint16_t w[4] = {static_cast<std::uint16_t>(script_.byte() % 10), script_.word(),
                              script_.word(), script_.word()};
        if (w[0] == qv::stream_cmd::kClose || w[0] == qv::stream_cmd::kBlockAck) w[1] %= 4;
        for (std::size_t i = 0; i < 4; ++i) {
            d[2 * i] = static_cast<std::uint8_t>(w[i]);
            d[2 * i + 1] = static_cast<std::uint8_t>(w[i] >> 8);
        }
        return CanFrame(kControlId, false, false, 8, d);
    }

    CanFrame dataFrame(bool structured) {
        CanFrame::Data d{};
        for (auto& b : d) b = script_.byte();
        if (structured) d[0] = static_cast<std::uint8_t>((d[0] & 0x80) | (d[0] % 24));
        return CanFrame(kDataId, false, false, 8, d);
    }

    CanFrame oddFrame() {
        const std::uint8_t shape = script_.byte();
        const bool extended = shape & 1;
        const bool remote = shape & 2;
        const auto length = static_cast<std::uint8_t>((shape >> 2) % 16);
        const std::uint32_t id = (shape & 0x40) ? kDataId : kControlId;
        CanFrame::Data d{};
        for (auto& b : d) b = script_.byte();
        return CanFrame(id, extended, remote, length, d);
    }

    void deliver(const CanFrame& frame) {
        if (frame.identifier() == engine_.controlId())
            engine_.handleCommand(frame);
        else if (frame.identifier() == engine_.dataId() && engine_.wantsData())
            engine_.handleData(frame);
    }

    void tick(double ms) {
        clock_ += ms;
        if (!engine_.pollTransfer()) engine_.abortAfterTimeout();
    }

    void step() {
        const std::uint8_t op = script_.byte();
        switch (op % 10) {
            case 0:
            case 1:
                deliver(commandFrame());
                break;
            case 2:
                deliver(dataFrame(false));
                break;
            case 3:
                deliver(dataFrame(true));
                break;
            case 4:
                tick(script_.byte() * 2.0);
                break;
            case 5:
                engine_.abortTransfer();
                break;
            case 6:
                deliver(oddFrame());
                break;
            case 7: {
                const std::uint8_t flags = script_.byte();
                start(flags, script_.word());
                break;
            }
            case 8:
                failQueue_ = op & 0x10;
                failFlush_ = op & 0x20;
                break;
            case 9:
                if (op & 0x80) {
                    engine_.clear();
                    configure();
                }
                break;
        }
        checkBalance();
    }

    // With no more input, every transfer must end within the retries and time-outs.
    void finish() {
        static_assert(kMaxOwnTimeout <= qv::kMaxPeerTimeoutMs &&
                      kMaxOwnRetries <= qv::kMaxPeerRetries);
        const double timeout = qv::kMaxPeerTimeoutMs;
        const std::uint32_t retries = qv::kMaxPeerRetries;
        // A time-out phase, a last block delivered, then a closing phase at most.
        const double bound = 4.0 * (retries + 2) * (timeout + 50.0);
        for (double t = 0; t < bound && engine_.busy(); t += 50.0) tick(50.0);
        check(!engine_.busy());
        check(started_ == ended_);
    }

    Script& script_;
    StreamEngine engine_;
    double clock_ = 0;
    std::vector<std::uint8_t> buffer_;
    std::uint16_t blockSize_ = 0;
    double timeout_ = 0;
    std::uint32_t retries_ = 0;
    int started_ = 0;
    int ended_ = 0;
    int queued_ = 0;
    bool failQueue_ = false;
    bool failFlush_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Script script(data, size);
    Harness harness(script);
    harness.run();
    return 0;
}
