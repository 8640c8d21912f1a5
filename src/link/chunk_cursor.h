#pragma once
// Moves a byte string of any 16-bit length through a short window in variable-length stream
// transfers: the sending end refills the window at each chunk event, the receiving end drains
// it. Both ends of a link use the same rules (the program and a simulated controller).
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/stream_types.h"

namespace qv {

inline constexpr std::uint16_t kChunkSize = 140;

// Sending end: `data` is the whole string, `window` the engine's buffer.
class ChunkSender {
  public:
    // Copies the first chunk into the window; returns the engine length of that chunk
    // (min(total, 140), never more than the window).
    std::uint16_t start(std::span<const std::uint8_t> data, std::span<std::uint8_t> window);
    // Chunk event (word3 = the length just sent). Returns 1 when everything was sent, 2 with the
    // shorter next length in word1, or 0 with the window refilled for another full chunk.
    int onChunk(TransferInfo& info);
    std::size_t consumed() const { return consumed_; }

  private:
    std::span<const std::uint8_t> data_;
    std::span<std::uint8_t> window_;
    std::size_t position_ = 0;  // start of the chunk now in the window
    std::size_t consumed_ = 0;  // bytes copied into the window so far
};

// Receiving end: `destination` takes at most its size; `window` is the engine's buffer.
class ChunkReceiver {
  public:
    // Returns the engine length to ask for: min(capacity, 140), never more than the window.
    std::uint16_t start(std::span<std::uint8_t> destination, std::span<const std::uint8_t> window);
    // Chunk event (word3 = bytes in the window). Returns 1 when the destination is full, else 0.
    int onChunk(const TransferInfo& info);
    std::size_t received() const { return received_; }

  private:
    std::span<std::uint8_t> destination_;
    std::span<const std::uint8_t> window_;
    std::size_t received_ = 0;
};

}  // namespace qv
