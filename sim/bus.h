#pragma once
// The simulated CAN bus: nodes put frames on it and every other node hears them. Delivery is
// queued and done by the world loop, so a node may answer from inside onFrame without recursion
// and frames keep the order in which they were sent.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "link/can_frame.h"

namespace qv::sim {

class Node {
  public:
    virtual ~Node() = default;
    // A frame another node put on the bus.
    virtual void onFrame(const CanFrame& frame, double nowMs) = 0;
    // Called once per loop pass with the world's monotonic time.
    virtual void tick(double nowMs) = 0;
};

// The next time of a periodic message: one period on, keeping the phase; when the loop ran so
// late that this is already past, one period from now, so that nothing is sent twice in a row.
inline double nextDeadline(double deadlineMs, double periodMs, double nowMs) {
    const double next = deadlineMs + periodMs;
    return next > nowMs ? next : nowMs + periodMs;
}

class Bus {
  public:
    // Nodes are not owned; they stay attached for the life of the bus.
    void attach(Node& node) { nodes_.push_back(&node); }

    // Queues `frame` for every node other than `from` (null: for every node).
    void send(const CanFrame& frame, const Node* from) {
        queue_.push_back({frame, from});
        ++framesCarried_;
    }

    // Hands every queued frame, and every frame sent in reaction, to the nodes. Bounded, so that
    // two nodes answering each other forever cannot stall the loop; the rest waits for the next
    // call.
    void deliver(double nowMs) {
        for (std::size_t n = 0; n < kMaxPerDelivery && !queue_.empty(); ++n) {
            const Entry e = queue_.front();
            queue_.pop_front();
            for (Node* node : nodes_)
                if (node != e.from) node->onFrame(e.frame, nowMs);
        }
    }

    bool idle() const { return queue_.empty(); }
    std::uint64_t framesCarried() const { return framesCarried_; }

  private:
    static constexpr std::size_t kMaxPerDelivery = 100000;
    struct Entry {
        CanFrame frame;
        const Node* from;
    };
    std::vector<Node*> nodes_;
    std::deque<Entry> queue_;
    std::uint64_t framesCarried_ = 0;
};

}  // namespace qv::sim
