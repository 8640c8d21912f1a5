#include "link/bridge_codec.h"

#include <algorithm>
#include <cstring>

#include "link/exceptions.h"

namespace qv {

void putBigEndian64(std::uint8_t* out, std::uint64_t value) {
    for (int i = 7; i >= 0; --i) {
        out[i] = static_cast<std::uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

std::uint64_t getBigEndian64(const std::uint8_t* in) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = (value << 8) | in[i];
    return value;
}

void putBigEndian32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 3; i >= 0; --i) {
        out[i] = static_cast<std::uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

std::uint32_t getBigEndian32(const std::uint8_t* in) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 8) | in[i];
    return value;
}

void encodeHeader(std::uint8_t* out, std::uint64_t busId, std::uint64_t senderId) {
    putBigEndian64(out, busId);
    putBigEndian64(out + 8, senderId);
}

void encodeRecord(std::uint8_t* out, const CanFrame& frame, std::uint8_t extraFlags) {
    putBigEndian32(out, frame.identifier());
    std::uint8_t f = extraFlags;
    if (frame.extended()) f |= flags::kExtended;
    if (frame.remote()) f |= flags::kRemote;
    out[4] = f;
    out[5] = frame.length();
    std::memcpy(out + 6, frame.data().data(), 8);
}

void encodeFrames(std::vector<std::uint8_t>& out, std::span<const CanFrame> frames,
                  std::uint64_t busId, std::uint64_t senderId, bool withHeader, bool bit6) {
    const std::size_t start = out.size();
    out.resize(start + (withHeader ? kHeaderSize : 0) + kRecordSize * frames.size());
    std::uint8_t* p = out.data() + start;
    if (withHeader) {
        encodeHeader(p, busId, senderId);
        p += kHeaderSize;
    }
    for (const CanFrame& frame : frames) {
        encodeRecord(p, frame, bit6 ? flags::kBit6 : 0);
        p += kRecordSize;
    }
}

std::vector<std::uint8_t> encodeFrames(std::span<const CanFrame> frames, std::uint64_t busId,
                                       std::uint64_t senderId, bool withHeader, bool bit6) {
    std::vector<std::uint8_t> out;
    encodeFrames(out, frames, busId, senderId, withHeader, bit6);
    return out;
}

namespace {

// Decodes the whole records of `bytes` (no header). A record that fails a frame check ends the
// decoding, or with `skipBad` is counted in `bad` and passed over. Returns the bytes consumed.
std::size_t decodeRecords(std::span<const std::uint8_t> bytes, std::uint64_t busId,
                          std::uint64_t senderId, std::vector<CanPacket>& out, bool skipBad,
                          std::size_t& bad) {
    std::size_t pos = 0;
    for (; bytes.size() - pos >= kRecordSize; pos += kRecordSize) {
        const std::uint8_t* r = bytes.data() + pos;
        const std::uint8_t f = r[4];
        CanFrame::Data data;
        std::memcpy(data.data(), r + 6, 8);
        try {
            CanPacket packet;
            packet.frame = CanFrame(getBigEndian32(r), (f & flags::kExtended) != 0,
                                    (f & flags::kRemote) != 0, r[5], data);
            packet.status = (f & flags::kStatus) != 0;
            packet.busId = busId;
            packet.senderId = senderId;
            out.push_back(packet);
        } catch (const OverflowException&) {
            ++bad;
            if (!skipBad) return pos;
        }
    }
    return pos;
}

}  // namespace

std::size_t decodeFrames(std::span<const std::uint8_t> bytes, bool withHeader,
                         std::uint64_t defaultBusId, std::uint64_t defaultSenderId,
                         std::vector<CanPacket>& out) {
    std::uint64_t busId = defaultBusId;
    std::uint64_t senderId = defaultSenderId;
    std::size_t offset = 0;
    if (withHeader) {
        if (bytes.size() < kHeaderSize) return 0;
        busId = getBigEndian64(bytes.data());
        senderId = getBigEndian64(bytes.data() + 8);
        offset = kHeaderSize;
    }
    std::size_t bad = 0;
    return offset + decodeRecords(bytes.subspan(offset), busId, senderId, out, false, bad);
}

std::vector<CanPacket> decodeFrames(std::span<const std::uint8_t> bytes, bool withHeader,
                                    std::uint64_t defaultBusId, std::uint64_t defaultSenderId) {
    std::vector<CanPacket> out;
    decodeFrames(bytes, withHeader, defaultBusId, defaultSenderId, out);
    return out;
}

void TcpStreamDecoder::reset() {
    held_ = 0;
    badRecords_ = 0;
    headerSeen_ = false;
    headerBusId_ = 0;
    headerSenderId_ = 0;
}

void TcpStreamDecoder::feed(std::span<const std::uint8_t> bytes, std::uint64_t busId,
                            std::uint64_t senderId, std::vector<CanPacket>& out) {
    // Complete the header first; the read that completes it decodes with its identifiers.
    bool useHeaderIds = false;
    if (!headerSeen_) {
        const std::size_t take = std::min(kHeaderSize - held_, bytes.size());
        std::memcpy(pending_ + held_, bytes.data(), take);
        held_ += take;
        bytes = bytes.subspan(take);
        if (held_ < kHeaderSize) return;
        headerBusId_ = getBigEndian64(pending_);
        headerSenderId_ = getBigEndian64(pending_ + 8);
        headerSeen_ = true;
        held_ = 0;
        useHeaderIds = true;
    }
    if (useHeaderIds) {
        busId = headerBusId_;
        senderId = headerSenderId_;
    }
    // A record split across reads: complete the held piece first. Every record is 14 bytes
    // whatever it holds, so one that fails the checks is skipped and the next stays aligned.
    if (held_ > 0) {
        const std::size_t take = std::min(kRecordSize - held_, bytes.size());
        std::memcpy(pending_ + held_, bytes.data(), take);
        held_ += take;
        bytes = bytes.subspan(take);
        if (held_ < kRecordSize) return;
        held_ = 0;
        decodeRecords(std::span<const std::uint8_t>(pending_, kRecordSize), busId, senderId, out,
                      true, badRecords_);
    }
    const std::size_t used = decodeRecords(bytes, busId, senderId, out, true, badRecords_);
    const std::size_t rest = bytes.size() - used;
    std::memcpy(pending_, bytes.data() + used, rest);
    held_ = rest;
}

}  // namespace qv
