#include "sim/controller_config.h"

#include <cstring>

#include "config/config_data_bank.h"
#include "config/config_stream.h"

namespace qv::sim {

namespace {

constexpr std::size_t kCounts[3] = {1, 1, kMotorCount};

template <typename T>
std::vector<std::uint8_t> bytesOf(const T& record) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&record);
    return {p, p + sizeof(T)};
}

// The record in another layout: cut short, or followed by bytes only a newer program knows.
// The checksum covers the record as it now is.
std::vector<std::uint8_t> inLayout(std::vector<std::uint8_t> record, std::size_t size, int kind,
                                   std::size_t index) {
    const std::size_t known = record.size();
    record.resize(size);
    for (std::size_t i = known; i < size; ++i)
        record[i] = static_cast<std::uint8_t>(0xA0 + 0x10 * kind + index + i - known);
    const std::uint16_t sum = computeChecksum(record);
    record[0] = static_cast<std::uint8_t>(sum & 0xFF);
    record[1] = static_cast<std::uint8_t>(sum >> 8);
    return record;
}

}  // namespace

std::array<std::uint16_t, 3> layoutSizes(std::uint16_t version) {
    switch (version) {
        case 199:
            return {60, 272, 140};
        case 200:
            return {kPublicSize, kPrivateSize, kMotorSize};
        case 201:
            return {kPublicSize + 10, kPrivateSize + 10, kMotorSize + 10};
        default:
            return {0, 0, 0};
    }
}

ControllerConfig::ControllerConfig(std::uint32_t base, std::uint32_t serial,
                                   const SimConfigModes& modes)
    : modes_(modes) {
    PublicConfig pub = defaultPublicConfig();
    pub.canBaseAddress = base;
    PrivateConfig priv = defaultPrivateConfig();
    priv.serialNumber = modes.serialZero ? 0 : serial;
    MotorConfig motor{};
    applyMotorDefaults(motor);

    const auto sizes = layoutSizes(modes.layoutVersion);
    for (int kind = 0; kind < 3; ++kind) {
        Held& h = held_[static_cast<std::size_t>(kind)];
        h.version = modes.layoutVersion;
        h.recordSize = sizes[static_cast<std::size_t>(kind)];
        for (std::size_t i = 0; i < kCounts[kind]; ++i) {
            const auto record = inLayout(kind == 0   ? bytesOf(pub)
                                         : kind == 1 ? bytesOf(priv)
                                                     : bytesOf(motor),
                                         h.recordSize, kind, i);
            h.records.insert(h.records.end(), record.begin(), record.end());
        }
    }
}

std::vector<std::uint8_t> ControllerConfig::storedStream(int kind) const {
    const Held& h = held_[static_cast<std::size_t>(kind)];
    return encodeConfigStream(h.version, h.recordSize, h.records);
}

std::vector<std::uint8_t> ControllerConfig::stream(int kind) const {
    if (modes_.corrupt[static_cast<std::size_t>(kind)]) {
        // The last record's checksum is off by one.
        auto bytes = storedStream(kind);
        const Held& h = held_[static_cast<std::size_t>(kind)];
        bytes[bytes.size() - h.recordSize] ^= 0x01;
        return bytes;
    }
    if (kind != 0 || !modes_.recovery) return storedStream(kind);
    const Held& pub = held_[0];
    const Held& priv = held_[1];
    const Held& motor = held_[2];
    return encodeRecoveryImage(pub.version, pub.records, priv.records, motor.records,
                               motor.recordSize);
}

std::string ControllerConfig::write(int kind, std::span<const std::uint8_t> bytes) {
    const auto k = static_cast<std::size_t>(kind);
    StreamView view;
    switch (decodeConfigStream(bytes, kCounts[k], &view)) {
        case StreamParseResult::Ok:
            break;
        case StreamParseResult::NoValidHeader:
            return "no configuration header";
        case StreamParseResult::ChecksumMismatch:
            return "a record checksum does not match";
        default:
            return "record size does not fit the stream";
    }
    if (view.version < modes_.requiredVersion)
        return "version " + std::to_string(view.version) + " is older than the required " +
               std::to_string(modes_.requiredVersion);
    const std::uint16_t expected = layoutSizes(view.version)[k];
    if (expected == 0) return "unknown layout version " + std::to_string(view.version);
    if (view.recordSize != expected)
        return "record size " + std::to_string(view.recordSize) + " is not the " +
               std::to_string(expected) + " of version " + std::to_string(view.version);
    if (bytes.size() != kStreamHeaderSize + kCounts[k] * expected)
        return "stream of " + std::to_string(bytes.size()) + " bytes has bytes beyond its records";
    Held& h = held_[k];
    h.version = view.version;
    h.recordSize = view.recordSize;
    h.records.assign(view.records.begin(), view.records.end());
    if (modes_.flipByte && h.recordSize > 8) {
        // Stored, but not as sent: one bit of the first record differs, its checksum agrees.
        std::span<std::uint8_t> first(h.records.data(), h.recordSize);
        first[8] ^= 0x01;
        const std::uint16_t sum = computeChecksum(first);
        first[0] = static_cast<std::uint8_t>(sum & 0xFF);
        first[1] = static_cast<std::uint8_t>(sum >> 8);
    }
    written_[k] = true;
    return {};
}

void ControllerConfig::reset() {
    if (modes_.recovery && written_[0] && written_[1] && written_[2]) modes_.recovery = false;
    written_ = {};
}

}  // namespace qv::sim
