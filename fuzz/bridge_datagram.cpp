// Fuzzes the bridge datagram decoder with arbitrary bytes, read once with the 16-byte header and
// once as bare records. Checks that decoding stops exactly at the first record an independent
// check refuses, that every packet is a valid frame carrying the right identifiers, that
// re-encoding the packets gives back the consumed bytes (flag bits 2 to 6 are not carried), and
// that decoding a prefix gives a prefix of the packets. Every buffer handed to the decoder is an
// exactly sized heap copy, so the address sanitizer reports any read past the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "link/bridge_codec.h"
#include "link/exceptions.h"
#include "record_rules.h"

namespace {

using qv::CanFrame;
using qv::CanPacket;
using qv::kHeaderSize;
using qv::kRecordSize;

constexpr std::uint64_t kDefaultBus = 0x1122334455667788ull;
constexpr std::uint64_t kDefaultSender = 0x8877665544332211ull;
// Flag bits a packet carries: extended, remote and the status bit.
constexpr std::uint8_t kCarriedFlags =
    qv::flags::kExtended | qv::flags::kRemote | qv::flags::kStatus;

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "bridge_datagram: %s\n", what);
    std::abort();
}

bool samePacket(const CanPacket& a, const CanPacket& b) {
    return a.frame == b.frame && a.status == b.status && a.busId == b.busId &&
           a.senderId == b.senderId && a.sourceAddress == b.sourceAddress && a.port == b.port &&
           a.interfaceAddress == b.interfaceAddress;
}

// An exactly sized heap copy of `bytes`.
struct HeapCopy {
    explicit HeapCopy(std::span<const std::uint8_t> bytes)
        : size(bytes.size()), data(std::make_unique<std::uint8_t[]>(bytes.size())) {
        for (std::size_t i = 0; i < size; ++i) data[i] = bytes[i];
    }
    std::span<const std::uint8_t> span() const { return {data.get(), size}; }
    std::size_t size;
    std::unique_ptr<std::uint8_t[]> data;
};

void checkReencode(std::span<const std::uint8_t> bytes, std::size_t consumed, bool withHeader,
                   const std::vector<CanPacket>& packets, std::uint64_t busId,
                   std::uint64_t senderId) {
    const std::size_t offset = withHeader ? kHeaderSize : 0;
    std::vector<CanFrame> frames;
    for (const CanPacket& p : packets) frames.push_back(p.frame);
    for (const bool bit6 : {false, true}) {
        const std::vector<std::uint8_t> encoded =
            qv::encodeFrames(frames, busId, senderId, withHeader, bit6);
        check(encoded.size() == consumed, "re-encoding has another size than the bytes consumed");
        for (std::size_t i = 0; i < offset; ++i)
            check(encoded[i] == bytes[i], "re-encoded header differs");
        for (std::size_t k = 0; k < packets.size(); ++k) {
            const std::uint8_t* in = bytes.data() + offset + k * kRecordSize;
            const std::uint8_t* out = encoded.data() + offset + k * kRecordSize;
            for (std::size_t i = 0; i < kRecordSize; ++i) {
                if (i == 4) continue;
                check(in[i] == out[i], "re-encoded record differs outside the flag byte");
            }
            const std::uint8_t wanted =
                static_cast<std::uint8_t>((in[4] & (qv::flags::kExtended | qv::flags::kRemote)) |
                                          (bit6 ? qv::flags::kBit6 : 0));
            check(out[4] == wanted, "re-encoded flag byte differs");
        }
    }
    // With the status bit put back per record, the packets decode again unchanged.
    std::vector<std::uint8_t> again(offset + kRecordSize * packets.size());
    if (withHeader) qv::encodeHeader(again.data(), busId, senderId);
    for (std::size_t k = 0; k < packets.size(); ++k) {
        qv::encodeRecord(again.data() + offset + k * kRecordSize, packets[k].frame,
                         packets[k].status ? qv::flags::kStatus : 0);
        check((again[offset + k * kRecordSize + 4] & kCarriedFlags) ==
                  (bytes[offset + k * kRecordSize + 4] & kCarriedFlags),
              "carried flag bits lost");
    }
    const HeapCopy copy(again);
    const std::vector<CanPacket> round = qv::decodeFrames(copy.span(), withHeader, busId, senderId);
    check(round.size() == packets.size(), "round trip changed the packet count");
    for (std::size_t k = 0; k < packets.size(); ++k)
        check(samePacket(round[k], packets[k]), "round trip changed a packet");
}

void checkDecode(std::span<const std::uint8_t> bytes, bool withHeader) {
    const std::size_t offset = withHeader ? kHeaderSize : 0;
    // The decoder appends: a packet already in the list must stay untouched.
    CanPacket sentinel;
    sentinel.frame = CanFrame(0x123, false, false, 2);
    sentinel.port = 4876;
    std::vector<CanPacket> out{sentinel};
    const std::size_t consumed =
        qv::decodeFrames(bytes, withHeader, kDefaultBus, kDefaultSender, out);
    check(!out.empty() && samePacket(out.front(), sentinel), "decoder touched earlier packets");
    const std::vector<CanPacket> packets(out.begin() + 1, out.end());

    if (bytes.size() < offset) {
        check(consumed == 0 && packets.empty(), "packets from a datagram shorter than a header");
        return;
    }
    const std::size_t whole = (bytes.size() - offset) / kRecordSize;
    check(packets.size() <= whole, "more packets than whole records");
    check(consumed == offset + packets.size() * kRecordSize, "consumed bytes do not match");
    for (std::size_t k = 0; k < packets.size(); ++k)
        check(recordValid(bytes.data() + offset + k * kRecordSize), "decoded an invalid record");
    if (packets.size() < whole)
        check(!recordValid(bytes.data() + consumed), "stopped before a valid record");

    const std::uint64_t busId = withHeader ? qv::getBigEndian64(bytes.data()) : kDefaultBus;
    const std::uint64_t senderId =
        withHeader ? qv::getBigEndian64(bytes.data() + 8) : kDefaultSender;
    for (std::size_t k = 0; k < packets.size(); ++k) {
        const CanPacket& p = packets[k];
        const std::uint8_t* r = bytes.data() + offset + k * kRecordSize;
        check(p.busId == busId && p.senderId == senderId, "wrong bus or sender identifier");
        check(p.sourceAddress == 0 && p.port == 0 && p.interfaceAddress == 0,
              "decoder filled address fields");
        check(p.status == ((r[4] & qv::flags::kStatus) != 0), "status bit not carried");
        const CanFrame& f = p.frame;
        try {
            const CanFrame rebuilt(f.identifier(), f.extended(), f.remote(), f.length(), f.data());
            check(rebuilt == f, "frame changed when rebuilt");
        } catch (const qv::OverflowException&) {
            check(false, "decoded frame fails the frame checks");
        }
    }

    // The returning overload gives the same packets.
    const std::vector<CanPacket> returned =
        qv::decodeFrames(bytes, withHeader, kDefaultBus, kDefaultSender);
    check(returned.size() == packets.size(), "overloads disagree on the count");
    for (std::size_t k = 0; k < packets.size(); ++k)
        check(samePacket(returned[k], packets[k]), "overloads disagree on a packet");

    checkReencode(bytes, consumed, withHeader, packets, busId, senderId);

    // Decoding a prefix (what a 1472-byte receive buffer keeps of a longer datagram, or half of a
    // shorter one) gives a prefix of the packets.
    const std::size_t cut =
        bytes.size() > qv::kMaxDatagramSize ? qv::kMaxDatagramSize : bytes.size() / 2;
    const HeapCopy prefix(bytes.first(cut));
    const std::vector<CanPacket> head =
        qv::decodeFrames(prefix.span(), withHeader, kDefaultBus, kDefaultSender);
    const std::size_t wholeInCut = cut < offset ? 0 : (cut - offset) / kRecordSize;
    check(head.size() == std::min(packets.size(), wholeInCut), "prefix decodes another count");
    for (std::size_t k = 0; k < head.size(); ++k)
        check(samePacket(head[k], packets[k]), "prefix decodes another packet");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const HeapCopy input(std::span<const std::uint8_t>(data, size));
    checkDecode(input.span(), true);
    checkDecode(input.span(), false);
    return 0;
}
