#pragma once
// Configuration streams as they travel over the stream transfer: the file header, the version,
// the record size and the records, each with its checksum first; and the recovery image a
// controller without a usable configuration may send instead of its public stream (the file
// layout without its trailer). Encoding, checking and placing into the store; no I/O here.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "config/config_data_bank.h"

namespace qv {

// Controller objects of the configuration transfer (stream transfer object indexes).
inline constexpr std::uint16_t kConfigStreamObject = 0x0100;  // + structure kind
inline constexpr std::uint16_t kReadOnlyInfoObject = 0x0200;
inline constexpr std::uint16_t kStreamLengthsObject = 0x0201;
inline constexpr std::uint16_t kRequiredVersionObject = 0x0202;
inline constexpr std::uint16_t kResetObject = 0x0400;

inline constexpr std::size_t kStreamHeaderSize = 30;    // header, version, record size
inline constexpr std::size_t kRecoveryHeaderSize = 34;  // header, version, three sizes
inline constexpr std::size_t kMaxStreamBytes = 4096;    // the receive buffer of a download

constexpr std::uint16_t streamObject(StructureKind kind) {
    return static_cast<std::uint16_t>(kConfigStreamObject + static_cast<std::uint16_t>(kind));
}

// Outcome of receiving one configuration stream.
enum class StreamParseResult {
    Ok,
    TransferFailed,
    NoValidHeader,
    SizeMismatch,
    ChecksumMismatch,
    RecoveryImageTaken,
    Aborted,
};

// A stream of records of `recordSize` bytes each, back to back in `records`.
std::vector<std::uint8_t> encodeConfigStream(std::uint16_t version, std::uint16_t recordSize,
                                             std::span<const std::uint8_t> records);

// What a well-formed stream says. `records` points into the checked bytes.
struct StreamView {
    std::uint16_t version = 0;
    std::uint16_t recordSize = 0;
    std::span<const std::uint8_t> records;  // count * recordSize bytes
};

// Checks the header, that `count` records of the stated size fit in `bytes`, that every record
// holds at least its checksum, and every checksum. Ok fills `view`; otherwise NoValidHeader,
// SizeMismatch or ChecksumMismatch.
StreamParseResult decodeConfigStream(std::span<const std::uint8_t> bytes, std::size_t count,
                                     StreamView* view);

// The stream upload sends for one structure: version max(heldVersion, 200), record size K plus
// the extra length, each record's known bytes followed by its extra bytes. The checksums are
// taken as they stand in the store (refresh them, extra blocks included, first).
std::vector<std::uint8_t> buildUploadStream(const CConfigDataBank& store, StructureKind kind);

// Checks a received stream and places it in the store. The size check counts only what really
// arrived (`received`) as well as the length the controller announced, so a stream cut short
// never passes on stale bytes. A record whose checksum fails makes the stream a recovery image
// candidate when `recoveryAllowed`. The store changes only on Ok and RecoveryImageTaken.
StreamParseResult takeConfigStream(CConfigDataBank& store, StructureKind kind,
                                   std::uint16_t reportedLength,
                                   std::span<const std::uint8_t> received, bool recoveryAllowed,
                                   const std::function<void()>& clearFallbackDriverControlsBase);

// The recovery image: header, version, sizes P, Q, M (at most 66, 280, 150), the public record,
// the private record and ten motor records, checked against the bytes received (a controller
// announces the length of its ordinary public stream, not that of the image). RecoveryImageTaken
// sets all three valid flags and clears the modified flags; SizeMismatch or ChecksumMismatch
// change nothing.
StreamParseResult takeRecoveryImage(CConfigDataBank& store, std::span<const std::uint8_t> received,
                                    const std::function<void()>& clearFallbackDriverControlsBase);

// A recovery image of the given records (for simulated controllers and tests).
std::vector<std::uint8_t> encodeRecoveryImage(std::uint16_t version,
                                              std::span<const std::uint8_t> publicRecord,
                                              std::span<const std::uint8_t> privateRecord,
                                              std::span<const std::uint8_t> motorRecords,
                                              std::uint16_t motorSize);

// Little-endian 16-bit value at `at`; 0 past the end.
std::uint16_t readU16(std::span<const std::uint8_t> bytes, std::size_t at);

}  // namespace qv
