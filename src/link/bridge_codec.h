#pragma once
// Byte layout of bridge datagrams and of the bridge's TCP stream: a 16-byte header
// (bus identifier, sender identifier, both big-endian) followed by 14-byte frame records.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "link/can_frame.h"

namespace qv {

inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::size_t kRecordSize = 14;
inline constexpr std::size_t kMaxDatagramSize = 1472;
inline constexpr std::size_t kMaxFramesPerDatagram = (kMaxDatagramSize - kHeaderSize) / kRecordSize;
static_assert(kMaxFramesPerDatagram == 104);

// 0x00 followed by the ASCII letters "Brenlow", most significant byte first.
inline constexpr std::uint64_t kDefaultBusId = 0x004272656E6C6F77ull;

namespace flags {
inline constexpr std::uint8_t kExtended = 0x01;
inline constexpr std::uint8_t kRemote = 0x02;
inline constexpr std::uint8_t kBit6 = 0x40;
inline constexpr std::uint8_t kStatus = 0x80;
}  // namespace flags

void putBigEndian64(std::uint8_t* out, std::uint64_t value);
std::uint64_t getBigEndian64(const std::uint8_t* in);
void putBigEndian32(std::uint8_t* out, std::uint32_t value);
std::uint32_t getBigEndian32(const std::uint8_t* in);

void encodeHeader(std::uint8_t* out, std::uint64_t busId, std::uint64_t senderId);
// Writes one 14-byte record. `extraFlags` is or-ed into the flag byte (bit 6, or the status bit
// when a bridge sends a status frame).
void encodeRecord(std::uint8_t* out, const CanFrame& frame, std::uint8_t extraFlags = 0);

// Appends the encoding of `frames` to `out`: header (when wanted) then one record each.
void encodeFrames(std::vector<std::uint8_t>& out, std::span<const CanFrame> frames,
                  std::uint64_t busId, std::uint64_t senderId, bool withHeader, bool bit6);
std::vector<std::uint8_t> encodeFrames(std::span<const CanFrame> frames, std::uint64_t busId,
                                       std::uint64_t senderId, bool withHeader, bool bit6);

// Decodes whole records in order and appends one packet per record to `out`. With a header the
// packets take its bus and sender identifiers, else the defaults. Decoding stops at the first
// record that fails a frame check; a trailing piece shorter than a record is ignored; nothing is
// read beyond `bytes`. Returns the number of bytes consumed (header plus the records decoded).
std::size_t decodeFrames(std::span<const std::uint8_t> bytes, bool withHeader,
                         std::uint64_t defaultBusId, std::uint64_t defaultSenderId,
                         std::vector<CanPacket>& out);
std::vector<CanPacket> decodeFrames(std::span<const std::uint8_t> bytes, bool withHeader,
                                    std::uint64_t defaultBusId, std::uint64_t defaultSenderId);

// Reassembles the TCP stream from a bridge, which need not respect record boundaries: the first
// 16 bytes are the header, then records; a piece of a header or record is kept for the next read.
class TcpStreamDecoder {
  public:
    // Forget everything: the next byte starts a header.
    void reset();
    // Decodes what `bytes` completes. Packets of the first read that completes the header take its
    // identifiers (`headerSeen` tells whether a header was read); later ones take `busId` and
    // `senderId`. A record that fails a frame check is skipped (and counted); the records after
    // it keep their 14-byte alignment.
    void feed(std::span<const std::uint8_t> bytes, std::uint64_t busId, std::uint64_t senderId,
              std::vector<CanPacket>& out);
    bool headerSeen() const { return headerSeen_; }
    std::uint64_t headerBusId() const { return headerBusId_; }
    std::uint64_t headerSenderId() const { return headerSenderId_; }
    std::size_t heldBytes() const { return held_; }
    std::size_t badRecords() const { return badRecords_; }

  private:
    std::uint8_t pending_[kHeaderSize] = {};
    std::size_t held_ = 0;
    std::size_t badRecords_ = 0;
    bool headerSeen_ = false;
    std::uint64_t headerBusId_ = 0;
    std::uint64_t headerSenderId_ = 0;
};

}  // namespace qv
