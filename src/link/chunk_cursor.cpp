#include "link/chunk_cursor.h"

#include <algorithm>
#include <cstring>

namespace qv {

std::uint16_t ChunkSender::start(std::span<const std::uint8_t> data,
                                 std::span<std::uint8_t> window) {
    data_ = data;
    window_ = window;
    position_ = 0;
    const std::size_t chunk = std::min({data.size(), std::size_t{kChunkSize}, window.size()});
    if (chunk > 0) std::memcpy(window_.data(), data_.data(), chunk);
    consumed_ = chunk;
    return static_cast<std::uint16_t>(chunk);
}

int ChunkSender::onChunk(TransferInfo& info) {
    if (consumed_ >= data_.size()) return 1;
    // The chunk just sent was word3 bytes long; the next one starts right after it. Never trust
    // word3 beyond what was really put into the window.
    const std::size_t sent = std::min<std::size_t>(info.word3, consumed_ - position_);
    position_ += sent;
    const std::size_t next =
        std::min({std::size_t{info.word3}, data_.size() - consumed_, window_.size()});
    if (next == 0) return 1;
    std::memcpy(window_.data(), data_.data() + position_, next);
    consumed_ = position_ + next;
    if (next == info.word3) return 0;
    info.word1 = static_cast<std::uint16_t>(next);
    return 2;
}

std::uint16_t ChunkReceiver::start(std::span<std::uint8_t> destination,
                                   std::span<const std::uint8_t> window) {
    destination_ = destination;
    window_ = window;
    received_ = 0;
    return static_cast<std::uint16_t>(
        std::min({destination.size(), std::size_t{kChunkSize}, window.size()}));
}

int ChunkReceiver::onChunk(const TransferInfo& info) {
    const std::size_t n = std::min<std::size_t>(info.word3, window_.size());
    const std::size_t take = std::min(n, destination_.size() - received_);
    if (take > 0) std::memcpy(destination_.data() + received_, window_.data(), take);
    received_ += take;
    return received_ >= destination_.size() ? 1 : 0;
}

}  // namespace qv
