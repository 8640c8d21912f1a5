// Faults on the wire: the same seed drops the same frames, duplicates follow their original,
// and a delay holds everything without changing the order.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "link/bridge_codec.h"
#include "sim/probe.h"
#include "sim/world.h"
#include "support/ports.h"

namespace qv::sim {
namespace {

struct Seen {
    std::uint32_t id;
    bool status;
    friend bool operator==(const Seen&, const Seen&) = default;
};

// Runs a world for `seconds` and returns every frame its bridge multicast, in order, with the
// arrival time of the first datagram (ms after the start).
struct WireRun {
    std::vector<Seen> frames;
    double firstMs = -1;
};

std::vector<WireRun> runWorlds(const std::vector<Options>& optionsList, double seconds) {
    std::vector<std::unique_ptr<Probe>> probes;
    std::vector<std::unique_ptr<World>> worlds;
    for (const Options& o : optionsList) {
        probes.push_back(std::make_unique<Probe>(o.port, o.busId, 1));
        worlds.push_back(std::make_unique<World>(o));
        std::string error;
        if (!worlds.back()->open(&error)) throw std::runtime_error(error);
    }
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (auto& w : worlds) threads.emplace_back([&w, seconds] { w->run(seconds); });
    std::vector<WireRun> runs(worlds.size());
    // Watch the first datagram of the first world as it comes.
    if (auto d = probes[0]->receive(static_cast<int>(seconds * 1000) + 200)) {
        runs[0].firstMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count();
        for (const CanPacket& p : d->packets)
            runs[0].frames.push_back({p.frame.identifier(), p.status});
    }
    for (auto& t : threads) t.join();
    for (std::size_t i = 0; i < probes.size(); ++i)
        for (const ProbeDatagram& d : probes[i]->collect(30))
            for (const CanPacket& p : d.packets)
                runs[i].frames.push_back({p.frame.identifier(), p.status});
    return runs;
}

Options faulty(double loss, double dup, double delay, std::uint64_t seed) {
    Options o;
    o.port = test::freePort();
    o.lossPercent = loss;
    o.dupPercent = dup;
    o.delayMs = delay;
    o.seed = seed;
    return o;
}

TEST(SimFaultInjection, TheSameSeedDropsTheSameFrames) {
    // 0.9 s: status, identification and five telemetry broadcasts, 77 frames before the faults.
    const auto runs = runWorlds(
        {faulty(40, 10, 0, 11), faulty(40, 10, 0, 11), faulty(40, 10, 0, 12), faulty(0, 0, 0, 11)},
        0.9);
    // A heavily loaded machine may end a run a broadcast early: compare what both runs sent.
    auto prefix = [](const WireRun& a, const WireRun& b) {
        const std::size_t n = std::min(a.frames.size(), b.frames.size());
        EXPECT_GE(n, 20u);
        return std::pair(std::vector<Seen>(a.frames.begin(), a.frames.begin() + n),
                         std::vector<Seen>(b.frames.begin(), b.frames.begin() + n));
    };
    EXPECT_LE(runs[3].frames.size(), 77u);
    EXPECT_LT(runs[0].frames.size(), 70u);
    const auto same = prefix(runs[0], runs[1]);
    EXPECT_EQ(same.first, same.second);
    const auto other = prefix(runs[0], runs[2]);
    EXPECT_NE(other.first, other.second);
}

TEST(SimFaultInjection, DuplicatesFollowTheirOriginal) {
    const auto runs = runWorlds({faulty(0, 100, 0, 5)}, 0.5);
    const auto& f = runs[0].frames;
    ASSERT_EQ(f.size(), 2u * (2 + 3 * 15));
    for (std::size_t i = 0; i < f.size(); i += 2) EXPECT_EQ(f[i], f[i + 1]) << i;
}

TEST(SimFaultInjection, DelayHoldsEveryFrameAndKeepsTheOrder) {
    const auto runs = runWorlds({faulty(0, 0, 250, 5), faulty(0, 0, 0, 5)}, 0.7);
    EXPECT_GE(runs[0].firstMs, 240.0);
    // Everything produced in the last 250 ms was still held when the world stopped.
    ASSERT_FALSE(runs[0].frames.empty());
    ASSERT_LT(runs[0].frames.size(), runs[1].frames.size());
    EXPECT_TRUE(std::equal(runs[0].frames.begin(), runs[0].frames.end(), runs[1].frames.begin()));
}

}  // namespace
}  // namespace qv::sim
