#pragma once
// Test doubles for the stream engine: a fake clock, an Io that records what the engine sends,
// a listener that records events, an application listener that moves data the way the CAN
// port does (refilling or draining a 140-byte window in variable-length mode), and a simulated
// link that wires two engines back to back with scripted and seeded faults.
#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <span>
#include <vector>

#include "link/stream_engine.h"

namespace qv::test {

inline constexpr std::uint32_t kCtl = 0x12;
inline constexpr std::uint32_t kDat = 0x14;

struct FakeClock {
    double now = 0;
};

inline CanFrame commandFrame(std::uint16_t w0, std::uint16_t w1 = 0, std::uint16_t w2 = 0,
                             std::uint16_t w3 = 0, std::uint32_t id = kCtl) {
    CanFrame::Data d{};
    const std::array<std::uint16_t, 4> w{w0, w1, w2, w3};
    for (std::size_t i = 0; i < 4; ++i) {
        d[2 * i] = static_cast<std::uint8_t>(w[i]);
        d[2 * i + 1] = static_cast<std::uint8_t>(w[i] >> 8);
    }
    return CanFrame(id, false, false, 8, d);
}

inline CanFrame dataFrame(std::uint8_t head, std::array<std::uint8_t, 7> payload = {},
                          std::uint32_t id = kDat) {
    CanFrame::Data d{};
    d[0] = head;
    std::copy(payload.begin(), payload.end(), d.begin() + 1);
    return CanFrame(id, false, false, 8, d);
}

inline std::array<std::uint16_t, 4> words(const CanFrame& f) {
    std::array<std::uint16_t, 4> w{};
    for (std::size_t i = 0; i < 4; ++i)
        w[i] = static_cast<std::uint16_t>(f.data()[2 * i] | (f.data()[2 * i + 1] << 8));
    return w;
}

using Words = std::array<std::uint16_t, 4>;

// Records every frame the engine queues; a flush moves the queued frames to `sent`.
struct RecordingIo {
    std::vector<CanFrame> queued;
    std::vector<CanFrame> sent;
    int flushes = 0;
    bool failQueue = false;
    bool failFlush = false;

    StreamEngine::Io io(FakeClock& clock) {
        return StreamEngine::Io{[this](const CanFrame& f) {
                                    if (failQueue) return false;
                                    queued.push_back(f);
                                    return true;
                                },
                                [this] {
                                    if (failFlush) return false;
                                    ++flushes;
                                    sent.insert(sent.end(), queued.begin(), queued.end());
                                    queued.clear();
                                    return true;
                                },
                                [&clock] { return clock.now; }};
    }
    // Frames sent since the last call.
    std::vector<CanFrame> take() {
        std::vector<CanFrame> out;
        out.swap(sent);
        return out;
    }
};

struct Event {
    int type;
    TransferInfo info;
};

// Records events; `handler` (when set) answers them, else 0.
struct EventLog : PacketReceivedListener {
    std::vector<Event> events;
    std::function<int(int, TransferInfo&)> handler;

    void onPacketReceived(const CanPacket&) override {}
    int onStreamEvent(int type, TransferInfo& info) override {
        events.push_back({type, info});
        return handler ? handler(type, info) : 0;
    }
    int count(int type) const {
        return static_cast<int>(std::count_if(events.begin(), events.end(),
                                              [type](const Event& e) { return e.type == type; }));
    }
};

// One end of a transfer, moving data like the CAN port: whole transfers through a buffer of
// the full length, variable-length transfers through a 140-byte chunk of a 4096-byte window.
struct PortLikeApp : PacketReceivedListener {
    static constexpr std::size_t kChunk = 140;

    StreamEngine* engine = nullptr;
    bool sends = false;
    bool chunked = false;
    std::vector<std::uint8_t> source;  // sending end: everything to send
    std::size_t total = 0;             // receiving end: bytes wanted
    bool acceptRequests = true;

    std::vector<std::uint8_t> window;
    std::vector<std::uint8_t> sink;  // receiving end: bytes delivered so far
    std::uint16_t engineLength = 0;
    std::size_t consumed = 0;
    std::size_t cursor = 0;

    int requests = 0;
    int dones = 0;
    int aborts = 0;
    TransferInfo lastEnd;
    std::vector<Event> events;

    bool ended() const { return dones + aborts > 0; }

    bool begin(bool initiate, std::uint16_t index) {
        sink.clear();
        consumed = cursor = 0;
        if (sends) {
            total = source.size();
            if (chunked) {
                window.assign(4096, 0);
                engineLength = static_cast<std::uint16_t>(std::min(total, kChunk));
                std::copy_n(source.begin(), engineLength, window.begin());
                consumed = engineLength;
            } else {
                window = source;
                engineLength = static_cast<std::uint16_t>(total);
            }
        } else {
            window.assign(chunked ? 4096 : total, 0);
            engineLength = static_cast<std::uint16_t>(chunked ? std::min(total, kChunk) : total);
        }
        return engine->startTransfer(window, index, engineLength, sends, initiate, chunked);
    }

    void onPacketReceived(const CanPacket&) override {}

    int onStreamEvent(int type, TransferInfo& info) override {
        events.push_back({type, info});
        switch (type) {
            case kStreamDone:
                ++dones;
                lastEnd = info;
                if (!sends && !chunked) sink.assign(window.begin(), window.begin() + engineLength);
                return 0;
            case kStreamAborted:
                ++aborts;
                lastEnd = info;
                return 0;
            case kStreamRequest:
                ++requests;
                if (!acceptRequests) return 3;
                return begin(false, info.word1) ? 0 : 3;
            case kStreamChunk:
                return info.word0 == 4 ? refill(info) : drain(info);
            default:
                return 0;
        }
    }

    int refill(TransferInfo& info) {
        if (consumed >= total) return 1;
        const std::size_t next = std::min<std::size_t>(info.word3, total - consumed);
        cursor += info.word3;
        std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(cursor), next, window.begin());
        consumed += next;
        if (next == info.word3) return 0;
        info.word1 = static_cast<std::uint16_t>(next);
        return 2;
    }

    int drain(const TransferInfo& info) {
        const std::size_t n = std::min<std::size_t>(info.word3, total - sink.size());
        sink.insert(sink.end(), window.begin(), window.begin() + static_cast<std::ptrdiff_t>(n));
        return sink.size() >= total ? 1 : 0;
    }
};

// Two engines wired back to back. Frames travel in rounds: everything sent while delivering
// one round forms the next; when the link is quiet the shared clock advances 10 ms and both
// engines poll, as the bridge client's receive thread does.
class SimLink {
  public:
    struct End {
        RecordingIo io;
        std::unique_ptr<StreamEngine> engine;
        PortLikeApp app;
    };
    struct Faults {
        double drop = 0;
        double duplicate = 0;
        double reorder = 0;
    };
    // What the link does with one frame sent by end `from` (0 or 1).
    enum class Fate { deliver, drop, duplicate };
    using Script = std::function<Fate(int from, const CanFrame& frame)>;

    FakeClock clock;
    std::array<End, 2> ends;
    Faults faults;
    Script script;
    std::mt19937 rng{1};
    int delivered = 0;

    SimLink() {
        for (auto& e : ends) {
            e.engine = std::make_unique<StreamEngine>(e.io.io(clock));
            e.app.engine = e.engine.get();
        }
    }

    bool configure(std::uint16_t blockA, std::uint16_t blockB, double timeoutMs = 0,
                   std::uint32_t retries = 0) {
        return ends[0].engine->configureStream(kCtl, kDat, blockA, timeoutMs, retries,
                                               &ends[0].app) &&
               ends[1].engine->configureStream(kCtl, kDat, blockB, timeoutMs, retries,
                                               &ends[1].app);
    }

    // Injects a frame as if end `from` had sent it.
    void inject(int from, const CanFrame& frame) { inflight_.push_back({1 - from, frame}); }

    // Runs until both applications saw the end of their transfer or `limitMs` passes.
    // False when a round never went quiet (two ends answering each other without end).
    bool run(double limitMs, const std::function<bool()>& stop = {}) {
        while (clock.now < limitMs) {
            if (!deliverAll()) return false;
            if (stop ? stop() : (ends[0].app.ended() && ends[1].app.ended())) return true;
            clock.now += 10;
            for (auto& e : ends)
                if (!e.engine->pollTransfer()) e.engine->abortAfterTimeout();
        }
        return deliverAll();
    }

  private:
    struct Wire {
        int to;
        CanFrame frame;
    };

    double chance() { return std::uniform_real_distribution<double>(0, 1)(rng); }

    void collect() {
        for (int i = 0; i < 2; ++i) {
            for (const auto& f : ends[static_cast<std::size_t>(i)].io.take())
                inflight_.push_back({1 - i, f});
        }
    }

    void deliver(const Wire& w) {
        End& e = ends[static_cast<std::size_t>(w.to)];
        ++delivered;
        if (w.frame.identifier() == e.engine->controlId())
            e.engine->handleCommand(w.frame);
        else if (w.frame.identifier() == e.engine->dataId() && e.engine->wantsData())
            e.engine->handleData(w.frame);
    }

    bool deliverAll() {
        collect();
        for (int round = 0; !inflight_.empty(); ++round) {
            if (round > 10000) return false;
            std::vector<Wire> batch(inflight_.begin(), inflight_.end());
            inflight_.clear();
            for (std::size_t i = 0; i + 1 < batch.size(); ++i)
                if (faults.reorder > 0 && chance() < faults.reorder)
                    std::swap(batch[i], batch[i + 1]);
            for (const auto& w : batch) {
                const Fate fate = script ? script(1 - w.to, w.frame) : Fate::deliver;
                if (fate == Fate::drop) continue;
                if (faults.drop > 0 && chance() < faults.drop) continue;
                deliver(w);
                if (fate == Fate::duplicate ||
                    (faults.duplicate > 0 && chance() < faults.duplicate))
                    deliver(w);
            }
            collect();
        }
        return true;
    }

    std::deque<Wire> inflight_;
};

}  // namespace qv::test
