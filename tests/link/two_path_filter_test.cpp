// Which copies of a frame the bridge client takes when a bridge may carry a range of identifiers
// over TCP instead of multicast, over both, or not at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "link/two_path_filter.h"

namespace qv {
namespace {

using Path = TwoPathFilter::Path;
constexpr std::uint32_t kLow = 0x412;  // the stream range of a controller at 0x400
constexpr std::uint32_t kCount = 4;

enum class Forward { kTcp, kBoth, kNone };

struct Arrival {
    double t;
    Path path;
    CanFrame frame;
};

struct Delivered {
    std::vector<CanFrame> inRange;  // delivered, in order
    std::vector<CanFrame> outside;
};

// The bus carries `n` frames 1 ms apart: stream frames whose bytes repeat every `repeat` frames
// (never when 0), and every third frame telemetry outside the range. Each path delays its copies
// by its lag and may lose a share of them.
struct Bus {
    std::vector<CanFrame> frames;
    Bus(int n, int repeat) {
        for (int i = 0; i < n; ++i) {
            const auto k = static_cast<std::uint16_t>(repeat > 0 ? i % repeat : i);
            if (i % 3 == 2)
                frames.emplace_back(0x401, false, false, 8,
                                    CanFrame::Data{std::uint8_t(i), std::uint8_t(i >> 8)});
            else
                frames.emplace_back(kLow + static_cast<std::uint32_t>(i % 2) * 2, false, false, 8,
                                    CanFrame::Data{std::uint8_t(k), std::uint8_t(k >> 8), 0x5A});
        }
    }
    static bool inRange(const CanFrame& f) {
        return f.identifier() >= kLow && f.identifier() < kLow + kCount;
    }
    std::vector<CanFrame> part(bool range) const {
        std::vector<CanFrame> out;
        for (const auto& f : frames)
            if (inRange(f) == range) out.push_back(f);
        return out;
    }
};

Delivered deliver(const Bus& bus, Forward forward, double multicastLag, double tcpLag,
                  double multicastLoss = 0, double tcpLoss = 0, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<Arrival> arrivals;
    for (std::size_t i = 0; i < bus.frames.size(); ++i) {
        const CanFrame& f = bus.frames[i];
        const double t = static_cast<double>(i);
        const bool range = Bus::inRange(f);
        const bool mcLost = u(rng) < multicastLoss, tcpLost = u(rng) < tcpLoss;
        if ((!range || forward != Forward::kTcp) && !mcLost)
            arrivals.push_back({t + multicastLag, Path::kMulticast, f});
        if (range && forward != Forward::kNone && !tcpLost)
            arrivals.push_back({t + tcpLag, Path::kTcp, f});
    }
    std::stable_sort(arrivals.begin(), arrivals.end(),
                     [](const Arrival& a, const Arrival& b) { return a.t < b.t; });
    TwoPathFilter filter;
    filter.connected(kLow, kCount);
    filter.forwardingMayStart();
    Delivered run;
    for (const Arrival& a : arrivals)
        if (filter.take(a.path, a.frame, false, a.t))
            (Bus::inRange(a.frame) ? run.inRange : run.outside).push_back(a.frame);
    return run;
}

// Whether every frame of `got` is one of `all` (whose frames are all different), none twice.
bool takenAtMostOnce(const std::vector<CanFrame>& got, const std::vector<CanFrame>& all) {
    std::vector<int> times(all.size(), 0);
    for (const CanFrame& f : got) {
        const auto it = std::find(all.begin(), all.end(), f);
        if (it == all.end() || ++times[static_cast<std::size_t>(it - all.begin())] > 1)
            return false;
    }
    return true;
}

TEST(TwoPathFilter, EveryBusFrameExactlyOnceWhateverTheBridgeForwards) {
    const Bus bus(900, 6);
    struct Lags {
        double multicast, tcp;
    };
    // Copies lag the other path by up to hundreds of ms; multicast may lag TCP by any amount.
    const std::vector<Lags> lags{{0, 0}, {0, 30}, {30, 0}, {0, 400}, {400, 0}, {5000, 0}};
    for (const Forward forward : {Forward::kTcp, Forward::kBoth, Forward::kNone})
        for (const Lags& l : lags) {
            SCOPED_TRACE(testing::Message() << "forward " << static_cast<int>(forward) << " lags "
                                            << l.multicast << "/" << l.tcp);
            const Delivered run = deliver(bus, forward, l.multicast, l.tcp);
            EXPECT_EQ(run.inRange, bus.part(true));
            EXPECT_EQ(run.outside, bus.part(false));
        }
}

TEST(TwoPathFilter, UnderLossNothingIsTakenTwice) {
    // (A frame the old path lost may come by the new one after later frames, as a frame sent
    // again would.)
    const Bus bus(900, 0);
    for (unsigned seed = 1; seed <= 20; ++seed)
        for (const double lag : {0.0, 40.0, 300.0}) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " lag " << lag);
            const Delivered a = deliver(bus, Forward::kBoth, 0, lag, 0.1, 0.1, seed);
            const Delivered b = deliver(bus, Forward::kBoth, lag, 0, 0.1, 0.1, seed);
            for (const Delivered* r : {&a, &b}) {
                EXPECT_TRUE(takenAtMostOnce(r->inRange, bus.part(true)));
                EXPECT_TRUE(takenAtMostOnce(r->outside, bus.part(false)));
                EXPECT_GT(r->inRange.size(), bus.part(true).size() * 8 / 10);
            }
        }
}

TEST(TwoPathFilter, AfterTheConnectionTheLaggingMulticastCopiesAreDroppedOnce) {
    // Both paths; multicast lags by 200 ms. TCP delivers, then the connection ends: the copies
    // of what TCP delivered are dropped, the frames after them taken from multicast.
    const Bus bus(600, 6);
    const std::vector<CanFrame> range = bus.part(true);
    TwoPathFilter filter;
    filter.connected(kLow, kCount);
    filter.forwardingMayStart();
    std::vector<CanFrame> got;
    const std::size_t end = 300;  // the connection ends here
    for (std::size_t i = 0; i < range.size() + 200; ++i) {
        const double t = static_cast<double>(i);
        if (i >= 200 && filter.take(Path::kMulticast, range[i - 200], false, t))
            got.push_back(range[i - 200]);
        if (i == end) filter.disconnected();
        if (i < end && filter.take(Path::kTcp, range[i], false, t)) got.push_back(range[i]);
    }
    EXPECT_EQ(got, range);
}

TEST(TwoPathFilter, AMulticastCopyAheadOfItsTcpOriginalLeavesNothingBehind) {
    // The same Accept twice, one transfer after the other; the first one's multicast copy comes
    // before its TCP original. After the connection the second one, by multicast, is new.
    const CanFrame accept(kLow, false, false, 8, CanFrame::Data{3, 0, 140, 0, 250, 0, 5, 0});
    TwoPathFilter filter;
    filter.connected(kLow, kCount);
    filter.forwardingMayStart();
    EXPECT_TRUE(filter.take(Path::kTcp, CanFrame(kLow + 1, false, false, 8), false, 0));
    EXPECT_FALSE(filter.take(Path::kMulticast, CanFrame(kLow + 1, false, false, 8), false, 1));
    EXPECT_FALSE(filter.take(Path::kMulticast, accept, false, 2));
    EXPECT_TRUE(filter.take(Path::kTcp, accept, false, 3));
    filter.disconnected();
    EXPECT_TRUE(filter.take(Path::kMulticast, accept, false, 10));
}

TEST(TwoPathFilter, ACopyTheClosedConnectionCanNoLongerBringIsNotAwaited) {
    // A connection closed before its receive thread read anything: the transfer went by
    // multicast. The next connection's Accept, equal to the first one's, is new.
    const CanFrame accept(kLow, false, false, 8, CanFrame::Data{3, 0, 7, 0, 250, 0, 5, 0});
    TwoPathFilter filter;
    for (const double t : {0.0, 100.0}) {
        filter.connected(kLow, kCount);
        filter.forwardingMayStart();
        EXPECT_TRUE(filter.take(t == 0 ? Path::kMulticast : Path::kTcp, accept, false, t));
        filter.disconnected();
    }
    // What TCP delivered still finds its multicast copy.
    EXPECT_FALSE(filter.take(Path::kMulticast, accept, false, 101));
}

TEST(TwoPathFilter, StatusFramesAndFramesOutsideTheRangeComeByMulticastOnly) {
    TwoPathFilter filter;
    const CanFrame status(0, false, false, 8, CanFrame::Data{0x01, 0xF4});
    const CanFrame telemetry(0x401, false, false, 8);
    const CanFrame stream(kLow, false, false, 8);
    // Without a connection TCP brings nothing (a read racing the close).
    EXPECT_FALSE(filter.take(Path::kTcp, stream, false, 0));
    filter.connected(kLow, kCount);
    EXPECT_FALSE(filter.take(Path::kTcp, status, true, 1));
    EXPECT_TRUE(filter.take(Path::kMulticast, status, true, 1));
    EXPECT_FALSE(filter.take(Path::kTcp, telemetry, false, 2));
    EXPECT_TRUE(filter.take(Path::kMulticast, telemetry, false, 2));
    // The range's last identifier is in it, the next one is not.
    const CanFrame last(kLow + kCount - 1, false, false, 8), next(kLow + kCount, false, false, 8);
    EXPECT_TRUE(filter.take(Path::kTcp, last, false, 3));
    EXPECT_FALSE(filter.take(Path::kMulticast, last, false, 3));
    EXPECT_TRUE(filter.take(Path::kMulticast, next, false, 4));
    // A reconnection starts from multicast again.
    filter.disconnected();
    filter.connected(kLow, kCount);
    EXPECT_TRUE(filter.take(Path::kMulticast, stream, false, 5));
}

}  // namespace
}  // namespace qv
