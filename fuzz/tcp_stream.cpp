// Fuzzes the reassembly of the bridge's TCP stream. The input is a control byte, a read-size
// pattern and the stream; the stream is fed to TcpStreamDecoder in pieces of those sizes (each
// piece an exactly sized heap copy, so the address sanitizer reports reads past a read) and the
// packets are compared with the valid records read independently (every one of them, also those
// after a record the frame checks refuse, which is skipped), with feeding the whole stream at once
// and, up to the first bad record, with the datagram decoder.
//
// Input layout:
//   byte 0          bit 0: repair every record so that it passes the frame checks
//                   bit 1: large reads (pattern values times 8, beyond one 1472-byte read)
//   byte 1          low four bits + 1: number of pattern bytes
//   pattern bytes   read sizes, used in turn; 0 is an empty read followed by a one-byte read
//   rest            the stream: 16-byte header, then 14-byte records
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "link/bridge_codec.h"
#include "record_rules.h"

namespace {

using qv::CanPacket;
using qv::kHeaderSize;
using qv::kRecordSize;

// Identifiers handed to feed() before the header is complete; packets take the header's.
constexpr std::uint64_t kWrongBus = 0x0102030405060708ull;
constexpr std::uint64_t kWrongSender = 0x0807060504030201ull;

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "tcp_stream: %s\n", what);
    std::abort();
}

// Clears the bits that would make a record fail the frame checks.
void repairRecord(std::uint8_t* r) {
    std::uint32_t id = qv::getBigEndian32(r);
    id &= (r[4] & qv::flags::kExtended) ? 0x1FFFFFFFu : 0x7FFu;
    qv::putBigEndian32(r, id);
    r[5] &= 0x0F;
}

bool samePacket(const CanPacket& a, const CanPacket& b) {
    return a.frame == b.frame && a.status == b.status && a.busId == b.busId &&
           a.senderId == b.senderId && a.sourceAddress == b.sourceAddress && a.port == b.port &&
           a.interfaceAddress == b.interfaceAddress;
}

bool samePrefix(const std::vector<CanPacket>& a, const std::vector<CanPacket>& b, std::size_t n) {
    if (a.size() < n || b.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (!samePacket(a[i], b[i])) return false;
    return true;
}

// Exactly sized heap buffers, one per read size, kept for the run: a read past a piece lands
// outside its buffer, and a byte-by-byte split costs one allocation rather than thousands.
class PieceBuffers {
  public:
    std::span<std::uint8_t> get(std::size_t size) {
        for (auto& [n, buffer] : buffers_)
            if (n == size) return {buffer.get(), n};
        buffers_.emplace_back(size, std::make_unique<std::uint8_t[]>(size));
        return {buffers_.back().second.get(), size};
    }

  private:
    std::vector<std::pair<std::size_t, std::unique_ptr<std::uint8_t[]>>> buffers_;
};

// Feeds `bytes` through an exactly sized heap copy. After the header the decoder gets the
// header's identifiers, as the bridge client passes the recorded peer's.
void feedCopy(qv::TcpStreamDecoder& decoder, PieceBuffers& buffers,
              std::span<const std::uint8_t> bytes, std::vector<CanPacket>& out) {
    const std::span<std::uint8_t> copy = buffers.get(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.begin());
    const bool seen = decoder.headerSeen();
    decoder.feed(copy, seen ? decoder.headerBusId() : kWrongBus,
                 seen ? decoder.headerSenderId() : kWrongSender, out);
    check(decoder.heldBytes() < (decoder.headerSeen() ? kRecordSize : kHeaderSize),
          "decoder holds more than a partial record");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t pos = 0;
    const std::uint8_t mode = pos < size ? data[pos++] : 0;
    const std::size_t patternLength = pos < size ? (data[pos++] & 0x0F) + 1u : 1u;
    std::vector<std::size_t> pattern;
    for (std::size_t i = 0; i < patternLength; ++i) {
        std::size_t v = pos < size ? data[pos++] : 1;
        if (mode & 0x02) v *= 8;
        pattern.push_back(v);
    }
    std::vector<std::uint8_t> stream(data + pos, data + size);
    const std::size_t n = stream.size();
    const std::size_t whole = n < kHeaderSize ? 0 : (n - kHeaderSize) / kRecordSize;
    if (mode & 0x01)
        for (std::size_t k = 0; k < whole; ++k)
            repairRecord(stream.data() + kHeaderSize + k * kRecordSize);
    // The records the frame checks accept, read independently: those are the packets, in order,
    // however the stream is cut; a bad record is skipped and the next one stays aligned.
    std::vector<qv::CanFrame> valid;
    std::vector<std::size_t> validUpTo{0};  // valid records among the first k whole records
    std::size_t good = whole;               // records before the first bad one
    for (std::size_t k = 0; k < whole; ++k) {
        const std::uint8_t* r = stream.data() + kHeaderSize + k * kRecordSize;
        if (recordValid(r)) {
            qv::CanFrame::Data d;
            std::copy(r + 6, r + 14, d.begin());
            valid.emplace_back(qv::getBigEndian32(r), (r[4] & qv::flags::kExtended) != 0,
                               (r[4] & qv::flags::kRemote) != 0, r[5], d);
        } else if (good == whole) {
            good = k;
        }
        validUpTo.push_back(valid.size());
    }
    auto sameAsValid = [&](const std::vector<CanPacket>& packets) {
        if (packets.size() != valid.size()) return false;
        for (std::size_t i = 0; i < valid.size(); ++i)
            if (!(packets[i].frame == valid[i])) return false;
        return true;
    };
    auto heldAfter = [](std::size_t fed) {
        return fed < kHeaderSize ? fed : (fed - kHeaderSize) % kRecordSize;
    };

    // The whole stream in one read.
    qv::TcpStreamDecoder once;
    std::vector<CanPacket> reference;
    PieceBuffers buffers;
    feedCopy(once, buffers, stream, reference);
    check(once.headerSeen() == (n >= kHeaderSize), "header seen flag wrong");
    check(sameAsValid(reference), "one read decodes other packets than the valid records");
    check(once.badRecords() == whole - valid.size(), "one read counts other bad records");
    check(once.heldBytes() == heldAfter(n), "one read holds the wrong number of bytes");
    if (n >= kHeaderSize) {
        check(once.headerBusId() == qv::getBigEndian64(stream.data()) &&
                  once.headerSenderId() == qv::getBigEndian64(stream.data() + 8),
              "header identifiers wrong");
        // The datagram decoder stops at the first bad record; up to there both agree.
        const std::vector<CanPacket> datagram =
            qv::decodeFrames(stream, true, kWrongBus, kWrongSender);
        check(datagram.size() == good && samePrefix(datagram, reference, good),
              "one read differs from the datagram decoder");
    }

    // The same stream in pieces: each packet as soon as its record is complete.
    qv::TcpStreamDecoder split;
    std::vector<CanPacket> packets;
    std::size_t fed = 0;
    std::size_t turn = 0;
    while (fed < n) {
        std::size_t piece = pattern[turn++ % pattern.size()];
        if (piece == 0) {
            feedCopy(split, buffers, {}, packets);
            piece = 1;
        }
        piece = std::min(piece, n - fed);
        feedCopy(split, buffers, std::span<const std::uint8_t>(stream).subspan(fed, piece),
                 packets);
        fed += piece;
        const std::size_t complete = fed < kHeaderSize ? 0 : (fed - kHeaderSize) / kRecordSize;
        check(packets.size() == validUpTo[complete], "packets not delivered as soon as complete");
        check(split.heldBytes() == heldAfter(fed), "pieces hold the wrong number of bytes");
    }
    check(sameAsValid(packets) && samePrefix(packets, reference, reference.size()),
          "pieces decode other packets than one read");
    check(split.badRecords() == whole - valid.size(), "pieces count other bad records");
    // Every packet carries the header's identifiers, also those of the read that completed it.
    for (const CanPacket& p : packets)
        check(p.busId == qv::getBigEndian64(stream.data()) &&
                  p.senderId == qv::getBigEndian64(stream.data() + 8),
              "packet does not carry the header's identifiers");

    // reset() starts over: the stream in one read decodes as the first time.
    split.reset();
    check(!split.headerSeen() && split.heldBytes() == 0, "reset left state behind");
    std::vector<CanPacket> again;
    feedCopy(split, buffers, stream, again);
    check(sameAsValid(again), "decoding after reset differs");
    return 0;
}
