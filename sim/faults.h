#pragma once
// Faults asked for by name, applied to what the simulated world sends to clients: loss and
// duplication decided frame by frame from a seeded generator (the same seed and the same
// frames give the same decisions), and a fixed delay that keeps the order.
#include <cstdint>
#include <deque>
#include <random>
#include <utility>

namespace qv::sim {

struct FaultSettings {
    double lossPercent = 0;
    double dupPercent = 0;
    double delayMs = 0;
};

// Independent, reproducible seeds for the parts of the world (bridge identity, each output).
std::uint64_t deriveSeed(std::uint64_t seed, std::uint64_t stream);

class FaultInjector {
  public:
    FaultInjector(const FaultSettings& settings, std::uint64_t seed)
        : settings_(settings), rng_(seed) {}

    // How many copies of the next frame go out: 0 (lost), 1, or 2 (duplicated). Every call draws
    // the same amount from the generator, so decision k depends only on the seed and k.
    int copies();
    double delayMs() const { return settings_.delayMs; }
    const FaultSettings& settings() const { return settings_; }
    std::uint64_t lost() const { return lost_; }
    std::uint64_t duplicated() const { return duplicated_; }

  private:
    double uniform();  // [0, 1) from 53 bits of the generator, the same on every platform

    FaultSettings settings_;
    std::mt19937_64 rng_;
    std::uint64_t lost_ = 0;
    std::uint64_t duplicated_ = 0;
};

// Items waiting for their release time. All items get the same delay, so first in is first out
// and the order of what is sent never changes.
template <typename T>
class DelayLine {
  public:
    void push(T item, double releaseMs) { items_.emplace_back(releaseMs, std::move(item)); }
    // Moves every item due at `nowMs` to `out`.
    template <typename Out>
    void release(double nowMs, Out& out) {
        while (!items_.empty() && items_.front().first <= nowMs) {
            out.push_back(std::move(items_.front().second));
            items_.pop_front();
        }
    }
    bool empty() const { return items_.empty(); }
    std::size_t size() const { return items_.size(); }

  private:
    std::deque<std::pair<double, T>> items_;
};

}  // namespace qv::sim
