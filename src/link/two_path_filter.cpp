#include "link/two_path_filter.h"

#include <cstring>

namespace qv {

std::size_t TwoPathFilter::KeyHash::operator()(const Key& k) const {
    std::uint64_t h = k.data ^ (static_cast<std::uint64_t>(k.identifier) << 8 | k.shape);
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    return static_cast<std::size_t>(h);
}

TwoPathFilter::Key TwoPathFilter::keyOf(const CanFrame& frame) {
    Key k{};
    k.data = frame.data64();
    k.identifier = frame.identifier();
    k.shape = static_cast<std::uint8_t>(frame.length() | (frame.extended() ? 0x10 : 0) |
                                        (frame.remote() ? 0x20 : 0));
    return k;
}

void TwoPathFilter::Remembered::add(const Key& key, double nowMs) {
    const std::uint64_t sequence = next_++;
    order_.push_back({nowMs, sequence, key});
    byKey_[key].push_back(sequence);
    ++live_;
    while (order_.size() > kMaxRemembered) dropOldest();
}

bool TwoPathFilter::Remembered::takeOne(const Key& key) {
    const auto it = byKey_.find(key);
    if (it == byKey_.end()) return false;
    it->second.pop_front();
    if (it->second.empty()) byKey_.erase(it);
    --live_;
    return true;
}

void TwoPathFilter::Remembered::expire(double nowMs) {
    while (!order_.empty() && nowMs - order_.front().timeMs > kCopyWindowMs) dropOldest();
}

void TwoPathFilter::Remembered::clear() {
    order_.clear();
    byKey_.clear();
    live_ = 0;
}

void TwoPathFilter::Remembered::dropOldest() {
    const Entry e = order_.front();
    order_.pop_front();
    // Entries of one key leave in the order they came, by age or by takeOne(): the oldest entry
    // is still remembered only when it is also the oldest of its key.
    const auto it = byKey_.find(e.key);
    if (it == byKey_.end() || it->second.front() != e.sequence) return;
    it->second.pop_front();
    if (it->second.empty()) byKey_.erase(it);
    --live_;
}

void TwoPathFilter::connected(std::uint32_t low, std::uint32_t count) {
    std::lock_guard lock(mutex_);
    connected_ = true;
    forwarding_ = tcpCarries_ = false;
    low_ = low;
    count_ = count;
}

void TwoPathFilter::forwardingMayStart() {
    std::lock_guard lock(mutex_);
    if (connected_) forwarding_ = true;
}

void TwoPathFilter::disconnected() {
    std::lock_guard lock(mutex_);
    connected_ = forwarding_ = tcpCarries_ = false;
    // Their TCP copies would have come over the connection; what TCP delivered still waits for
    // its multicast copy.
    remembered_[static_cast<int>(Path::kMulticast)].clear();
    ahead_.clear();
}

bool TwoPathFilter::inRange(std::uint32_t identifier) const {
    return connected_ && identifier >= low_ &&
           identifier - static_cast<std::uint64_t>(low_) < count_;
}

bool TwoPathFilter::take(Path path, const CanFrame& frame, bool status, double nowMs) {
    if (status) return path == Path::kMulticast;
    std::lock_guard lock(mutex_);
    const bool tcp = path == Path::kTcp;
    Remembered& own = remembered_[tcp ? 1 : 0];
    Remembered& other = remembered_[tcp ? 0 : 1];
    own.expire(nowMs);
    other.expire(nowMs);
    ahead_.expire(nowMs);
    const Key key = keyOf(frame);
    const bool range = inRange(frame.identifier());
    // The first frame of the range on TCP, copy or not, makes TCP the range's path.
    if (tcp && range) tcpCarries_ = true;
    if (other.size() > 0 && other.takeOne(key)) return false;
    if (tcp) {
        if (!range) return false;  // multicast brings it
        // Its multicast copy came first and was left: no copy of it is still to come.
        if (ahead_.size() > 0 && ahead_.takeOne(key)) return true;
        own.add(key, nowMs);
        return true;
    }
    if (range && tcpCarries_) {
        ahead_.add(key, nowMs);  // TCP brings it, perhaps later than this copy
        return false;
    }
    if (range && forwarding_) own.add(key, nowMs);
    return true;
}

}  // namespace qv
