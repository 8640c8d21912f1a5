#include "config/config_stream.h"

#include <algorithm>
#include <cstring>

namespace qv {

namespace {

void putU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void putHeader(std::vector<std::uint8_t>& out, std::uint16_t version) {
    out.insert(out.end(), kConfigHeader.begin(), kConfigHeader.end());
    putU16(out, version);
}

bool headerMatches(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= kConfigHeader.size() &&
           std::memcmp(bytes.data(), kConfigHeader.data(), kConfigHeader.size()) == 0;
}

// What may be looked at: what arrived, and never beyond the length the controller announced.
std::span<const std::uint8_t> usable(std::span<const std::uint8_t> received,
                                     std::uint16_t reportedLength) {
    return received.first(std::min<std::size_t>(received.size(), reportedLength));
}

}  // namespace

std::uint16_t readU16(std::span<const std::uint8_t> bytes, std::size_t at) {
    if (at + 2 > bytes.size()) return 0;
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::vector<std::uint8_t> encodeConfigStream(std::uint16_t version, std::uint16_t recordSize,
                                             std::span<const std::uint8_t> records) {
    std::vector<std::uint8_t> out;
    out.reserve(kStreamHeaderSize + records.size());
    putHeader(out, version);
    putU16(out, recordSize);
    out.insert(out.end(), records.begin(), records.end());
    return out;
}

StreamParseResult decodeConfigStream(std::span<const std::uint8_t> bytes, std::size_t count,
                                     StreamView* view) {
    if (!headerMatches(bytes)) return StreamParseResult::NoValidHeader;
    if (bytes.size() < kStreamHeaderSize) return StreamParseResult::SizeMismatch;
    const std::uint16_t size = readU16(bytes, 28);
    // Every record holds at least its checksum.
    if (size < 2 || kStreamHeaderSize + std::size_t{size} * count > bytes.size())
        return StreamParseResult::SizeMismatch;
    const auto records = bytes.subspan(kStreamHeaderSize, std::size_t{size} * count);
    for (std::size_t i = 0; i < count; ++i)
        if (!checksumMatches(records.subspan(i * size, size)))
            return StreamParseResult::ChecksumMismatch;
    if (view) *view = StreamView{readU16(bytes, 26), size, records};
    return StreamParseResult::Ok;
}

std::vector<std::uint8_t> buildUploadStream(const CConfigDataBank& store, StructureKind kind) {
    const std::size_t known = knownSize(kind);
    const std::uint16_t extra = store.extraLength(kind);
    std::vector<std::uint8_t> records;
    records.reserve(recordCount(kind) * (known + extra));
    for (std::size_t i = 0; i < recordCount(kind); ++i) {
        const auto bytes = store.recordBytes(kind, i);
        records.insert(records.end(), bytes.begin(), bytes.end());
        const auto more = store.extraBlock(kind, i);
        // Every record carries the same extra length, even if its own block went missing.
        const std::size_t have = std::min<std::size_t>(more.size(), extra);
        records.insert(records.end(), more.begin(),
                       more.begin() + static_cast<std::ptrdiff_t>(have));
        records.insert(records.end(), extra - have, 0);
    }
    return encodeConfigStream(store.streamVersion(), static_cast<std::uint16_t>(known + extra),
                              records);
}

StreamParseResult takeConfigStream(CConfigDataBank& store, StructureKind kind,
                                   std::uint16_t reportedLength,
                                   std::span<const std::uint8_t> received, bool recoveryAllowed,
                                   const std::function<void()>& clearFallbackDriverControlsBase) {
    StreamView view;
    const auto bytes = usable(received, reportedLength);
    const StreamParseResult checked = decodeConfigStream(bytes, recordCount(kind), &view);
    if (checked == StreamParseResult::ChecksumMismatch && recoveryAllowed &&
        kind == StructureKind::Public)
        return takeRecoveryImage(store, received, clearFallbackDriverControlsBase);
    if (checked != StreamParseResult::Ok) return checked;
    store.noteVersion(view.version);
    store.placeRecords(kind, view.records, view.recordSize);
    return StreamParseResult::Ok;
}

StreamParseResult takeRecoveryImage(CConfigDataBank& store, std::span<const std::uint8_t> received,
                                    const std::function<void()>& clearFallbackDriverControlsBase) {
    // The lengths the controller announced describe its ordinary streams, not the image: what
    // arrived is what counts.
    const auto bytes = received;
    if (!headerMatches(bytes)) return StreamParseResult::NoValidHeader;
    if (bytes.size() < kRecoveryHeaderSize) return StreamParseResult::SizeMismatch;
    const std::size_t p = readU16(bytes, 28), q = readU16(bytes, 30), m = readU16(bytes, 32);
    if (p > kPublicSize || q > kPrivateSize || m > kMotorSize || p < 2 || q < 2 || m < 2 ||
        kRecoveryHeaderSize + p + q + kMotorCount * m > bytes.size())
        return StreamParseResult::SizeMismatch;
    const auto publicPart = bytes.subspan(kRecoveryHeaderSize, p);
    const auto privatePart = bytes.subspan(kRecoveryHeaderSize + p, q);
    const auto motorPart = bytes.subspan(kRecoveryHeaderSize + p + q, kMotorCount * m);
    bool intact = checksumMatches(publicPart) && checksumMatches(privatePart);
    for (std::size_t i = 0; i < kMotorCount && intact; ++i)
        intact = checksumMatches(motorPart.subspan(i * m, m));
    if (!intact) return StreamParseResult::ChecksumMismatch;

    store.noteVersion(readU16(bytes, 26));
    std::memcpy(store.recordBytes(StructureKind::Public).data(), publicPart.data(), p);
    std::memcpy(store.recordBytes(StructureKind::Private).data(), privatePart.data(), q);
    for (std::size_t i = 0; i < kMotorCount; ++i)
        std::memcpy(store.recordBytes(StructureKind::Motor, i).data(), motorPart.data() + i * m, m);
    for (StructureKind kind :
         {StructureKind::Public, StructureKind::Private, StructureKind::Motor}) {
        store.setValid(kind, true);
        store.clearModified(kind);
    }
    if (clearFallbackDriverControlsBase) clearFallbackDriverControlsBase();
    return StreamParseResult::RecoveryImageTaken;
}

std::vector<std::uint8_t> encodeRecoveryImage(std::uint16_t version,
                                              std::span<const std::uint8_t> publicRecord,
                                              std::span<const std::uint8_t> privateRecord,
                                              std::span<const std::uint8_t> motorRecords,
                                              std::uint16_t motorSize) {
    std::vector<std::uint8_t> out;
    putHeader(out, version);
    putU16(out, static_cast<std::uint16_t>(publicRecord.size()));
    putU16(out, static_cast<std::uint16_t>(privateRecord.size()));
    putU16(out, motorSize);
    out.insert(out.end(), publicRecord.begin(), publicRecord.end());
    out.insert(out.end(), privateRecord.begin(), privateRecord.end());
    out.insert(out.end(), motorRecords.begin(), motorRecords.end());
    return out;
}

}  // namespace qv
