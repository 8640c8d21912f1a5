// Fuzzes the reassembly of the bridge's TCP stream. The input is a control byte, a read-size
// pattern and the stream; the stream is fed to TcpStreamDecoder in pieces of those sizes (each
// piece an exactly sized heap copy, so the address sanitizer reports reads past a read) and the
// packets are compared with feeding the whole stream at once and with the datagram decoder.
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
    // Records up to the first one the frame checks refuse.
    std::size_t good = 0;
    while (good < whole && recordValid(stream.data() + kHeaderSize + good * kRecordSize)) ++good;
    const bool clean = good == whole;

    // The whole stream in one read equals the datagram decoder with a header.
    qv::TcpStreamDecoder once;
    std::vector<CanPacket> reference;
    PieceBuffers buffers;
    feedCopy(once, buffers, stream, reference);
    check(once.headerSeen() == (n >= kHeaderSize), "header seen flag wrong");
    check(reference.size() == good, "one read decodes another count than the good records");
    if (n >= kHeaderSize) {
        check(once.headerBusId() == qv::getBigEndian64(stream.data()) &&
                  once.headerSenderId() == qv::getBigEndian64(stream.data() + 8),
              "header identifiers wrong");
        const std::vector<CanPacket> datagram =
            qv::decodeFrames(stream, true, kWrongBus, kWrongSender);
        check(datagram.size() == reference.size() && samePrefix(datagram, reference, good),
              "one read differs from the datagram decoder");
    }
    if (clean) {
        const std::size_t held = n < kHeaderSize ? n : (n - kHeaderSize) % kRecordSize;
        check(once.heldBytes() == held, "one read holds the wrong number of bytes");
    }

    // The same stream in pieces.
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
        if (clean) {
            const std::size_t expected = fed < kHeaderSize ? 0 : (fed - kHeaderSize) / kRecordSize;
            check(packets.size() == expected, "packets not delivered as soon as complete");
            const std::size_t held = fed < kHeaderSize ? fed : (fed - kHeaderSize) % kRecordSize;
            check(split.heldBytes() == held, "pieces hold the wrong number of bytes");
        }
    }
    check(packets.size() <= whole, "more packets than whole records");
    // Up to the first bad record the pieces decode what one read decodes; without bad records
    // they decode exactly that.
    check(samePrefix(packets, reference, good), "pieces decode other packets than one read");
    if (clean) check(packets.size() == reference.size(), "pieces decode another count");
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
    check(again.size() == reference.size() && samePrefix(again, reference, good),
          "decoding after reset differs");
    return 0;
}
