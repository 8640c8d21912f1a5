#pragma once
// Decides which received frames the bridge client hands on while a bridge may carry them twice:
// by multicast, as every bridge does, and over the TCP connection, for the identifiers the
// connection asked for. A bridge may forward that range over TCP instead of multicast, over both,
// or not at all; each bus frame must still reach the stream engine and the listener once.
//
// The rule. Frames outside the range, and bridge status frames, come from multicast only. A frame
// in the range comes from one path at a time: multicast until the connection has delivered a
// frame in the range, then TCP only, and multicast again once the connection is gone. Around each
// switch a frame may arrive on the new path after its copy was taken from the old one, so every
// path remembers the frames in the range it delivered (TCP always; multicast while the bridge may
// already forward, i.e. after our first transmission on the connection) for kCopyWindowMs, and a
// frame equal to one the other path delivered is that frame's copy: it is dropped, and the
// remembered frame is forgotten, so that it stands for one copy only. Once the connection is
// gone, no TCP copy can come any more: what multicast delivered, or left ahead of its TCP
// original, is forgotten then, or a later connection's equal frame (the next transfer's Accept,
// when the receive thread had not read the first connection at all) would be taken for its copy.
//
// Why it is right, given that each path keeps the bus order and a copy follows its original on
// the other path within the window:
// - Away from a switch one path supplies each identifier, so no frame can be taken twice, however
//   late the other path's copies are (a late multicast copy while TCP carries the range is never
//   taken, whatever its lag).
// - At a switch, a frame taken from the old path is remembered until its copy on the new path
//   comes; the copy finds it and is dropped. An earlier frame of the same bytes could take the
//   remembered frame first only if that earlier frame never came by the old path; the bytes are
//   then still delivered as often as they were on the bus (one of them later), and equal frames
//   cannot be told apart by the receiver anyway.
// - A frame the old path lost before a switch may come by the new one after later frames (as a
//   frame sent again would); the stream protocol's toggles and slots take it as such.
// - Nothing in the range is lost for the switch itself: before TCP has delivered, multicast is
//   taken (a bridge that forwards nothing over TCP is served by multicast alone); a bridge that
//   forwards over TCP instead of multicast has nothing in the range on multicast to lose.
// - A genuine frame equal to a remembered one that never had a copy is dropped: a lost frame,
//   which the stream protocol recovers by its time-outs. That is preferred to the other error, a
//   late copy taken as a new frame, which could put stale bytes into a transfer.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <unordered_map>

#include "link/can_frame.h"

namespace qv {

class TwoPathFilter {
  public:
    enum class Path { kMulticast = 0, kTcp = 1 };
    // How long a delivered frame is remembered against its copy on the other path; copies lag
    // by hundreds of milliseconds at most on a loaded host.
    static constexpr double kCopyWindowMs = 1000.0;
    // Remembered frames per path, so that memory stays bounded at any frame rate.
    static constexpr std::size_t kMaxRemembered = 8192;

    // A TCP connection asked the bridge for the identifiers [low, low + count).
    void connected(std::uint32_t low, std::uint32_t count);
    // Our first transmission on the connection is about to go out: from now on the bridge may
    // forward the range (it learns it from that transmission).
    void forwardingMayStart();
    // The connection is gone (closed by us, by the bridge, or failed).
    void disconnected();

    // Whether a frame received on `path` at `nowMs` is to be handed on. Safe from any thread.
    bool take(Path path, const CanFrame& frame, bool status, double nowMs);

  private:
    struct Key {
        std::uint64_t data;
        std::uint32_t identifier;
        std::uint8_t shape;  // length, extended and remote
        friend bool operator==(const Key&, const Key&) = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const;
    };
    // Frames delivered by one path, oldest first, whose copy on the other path has not come.
    class Remembered {
      public:
        void add(const Key& key, double nowMs);
        // Forgets the oldest remembered frame equal to `key`; false when there is none.
        bool takeOne(const Key& key);
        void expire(double nowMs);
        void clear();
        std::size_t size() const { return live_; }

      private:
        void dropOldest();
        struct Entry {
            double timeMs;
            std::uint64_t sequence;
            Key key;
        };
        std::deque<Entry> order_;
        std::unordered_map<Key, std::deque<std::uint64_t>, KeyHash> byKey_;
        std::uint64_t next_ = 0;
        std::size_t live_ = 0;
    };

    static Key keyOf(const CanFrame& frame);
    bool inRange(std::uint32_t identifier) const;

    std::mutex mutex_;
    bool connected_ = false;
    bool forwarding_ = false;  // the bridge may forward the range over TCP
    bool tcpCarries_ = false;  // TCP has delivered a frame in the range: it is the range's path
    std::uint32_t low_ = 0;
    std::uint32_t count_ = 0;
    Remembered remembered_[2];
    // Multicast copies left while TCP carries the range, whose TCP original has not come yet.
    // The original then needs no remembering: its copy is already gone by.
    Remembered ahead_;
};

}  // namespace qv
