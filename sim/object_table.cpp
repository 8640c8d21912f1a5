#include "sim/object_table.h"

#include <cstring>
#include <string>
#include <string_view>

namespace qv::sim {

void ObjectTable::define(std::uint16_t index, std::vector<std::uint8_t> bytes, bool readable,
                         bool writable, std::size_t maxWriteSize) {
    objects_[index] = Object{std::move(bytes), readable, writable, writable ? maxWriteSize : 0};
}

const std::vector<std::uint8_t>* ObjectTable::read(std::uint16_t index) const {
    const auto it = objects_.find(index);
    return it != objects_.end() && it->second.readable ? &it->second.bytes : nullptr;
}

std::size_t ObjectTable::writeLimit(std::uint16_t index) const {
    const auto it = objects_.find(index);
    return it != objects_.end() ? it->second.maxWriteSize : 0;
}

bool ObjectTable::store(std::uint16_t index, std::span<const std::uint8_t> bytes) {
    const auto it = objects_.find(index);
    if (it == objects_.end() || !it->second.writable || bytes.size() > it->second.maxWriteSize)
        return false;
    it->second.bytes.assign(bytes.begin(), bytes.end());
    return true;
}

namespace {

constexpr std::string_view kStreamHeader = "BRENLOW CONFIGURATION FILE";
constexpr std::size_t kRecordSizes[3] = {66, 280, 150};
constexpr std::size_t kRecordCounts[3] = {1, 1, 10};

// Little-endian writers into a record.
void put16(std::vector<std::uint8_t>& r, std::size_t at, std::uint16_t v) {
    r[at] = static_cast<std::uint8_t>(v);
    r[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::vector<std::uint8_t>& r, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        r[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}
void putFloat(std::vector<std::uint8_t>& r, std::size_t at, float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    put32(r, at, bits);
}

std::vector<std::uint8_t> publicRecord(std::uint32_t base) {
    std::vector<std::uint8_t> r(66, 0);
    put16(r, 2, 0);  // active motor
    putFloat(r, 4, 100.0f);
    putFloat(r, 8, 5000.0f);
    putFloat(r, 12, 100.0f);
    putFloat(r, 16, 90.0f);
    putFloat(r, 20, 160.0f);
    putFloat(r, 24, 10.0f);
    putFloat(r, 28, 0.5f);
    put32(r, 32, 4);  // 500 kbit/s
    put32(r, 36, base);
    put32(r, 40, 0x500);
    putFloat(r, 44, 300.0f);
    putFloat(r, 48, 0.0f);
    put32(r, 52, 0xFFFFFFFFu);
    putFloat(r, 56, 100.0f);
    put32(r, 60, 0x260);
    put16(r, 64, 0);
    return r;
}

std::vector<std::uint8_t> privateRecord(std::uint32_t serial) {
    std::vector<std::uint8_t> r(280, 0);
    put32(r, 2, serial);
    putFloat(r, 6, 1000.0f);
    putFloat(r, 10, 600.0f);
    putFloat(r, 14, 500.0f);
    putFloat(r, 18, 0.0008f);
    putFloat(r, 22, 600.0f);
    // Channel gains (offsets stay 0): hall, rails, bus and phase voltages, currents, temps.
    const float gains[19] = {1.0257272f,  2.2f,        0.2f,        0.4f,       1.0257272f,
                             1.0257272f,  1.0257272f,  1.0257272f,  3.0f,       1.7625f,
                             1.7625f,     1.7625f,     1.7625f,     1.0f,       0.90909094f,
                             0.90909094f, 0.90909094f, 0.90909094f, 0.90909094f};
    for (std::size_t i = 0; i < 19; ++i) putFloat(r, 26 + 8 * i, gains[i]);
    putFloat(r, 258, 500.0f);
    put16(r, 262, 1);
    putFloat(r, 264, 2.5f);
    putFloat(r, 268, 1.75f);
    putFloat(r, 272, 2.0f);
    putFloat(r, 276, 0.5f);
    return r;
}

std::vector<std::uint8_t> motorRecord(int index) {
    std::vector<std::uint8_t> r(150, 0);
    put16(r, 2, 20);
    putFloat(r, 4, 0.0692f);
    putFloat(r, 8, 6.48e-5f);
    putFloat(r, 12, 0.39f);
    putFloat(r, 18, 90.0f);
    putFloat(r, 22, 70.0f);
    putFloat(r, 26, 1.0f);
    putFloat(r, 34, 0.07623f);
    putFloat(r, 38, 4200.0f);
    const std::string name = "Motor " + std::to_string(index);
    std::memcpy(r.data() + 50, name.data(), name.size());
    const float angles[8] = {1.0f, 1.0f / 6, 0.5f, 1.0f / 3, 5.0f / 6, 0.0f, 2.0f / 3, 1.0f};
    const std::uint16_t previous[8] = {0, 5, 3, 1, 6, 4, 2, 7};
    for (std::size_t i = 0; i < 8; ++i) {
        putFloat(r, 70 + 4 * i, angles[i]);
        put16(r, 102 + 2 * i, previous[i]);
    }
    putFloat(r, 120, 2.5f);
    putFloat(r, 124, 1.75f);
    putFloat(r, 138, 3.0f);
    putFloat(r, 142, 20.0f);
    put16(r, 146, 2000);
    return r;
}

}  // namespace

std::uint16_t recordChecksum(std::span<const std::uint8_t> record) {
    std::uint16_t sum = 0;
    for (std::size_t i = 2; i < record.size(); ++i)
        sum = static_cast<std::uint16_t>(sum + record[i]);
    return sum;
}

std::vector<std::uint8_t> makeConfigStream(int kind, std::uint32_t base, std::uint32_t serial) {
    const auto k = static_cast<std::size_t>(kind);
    std::vector<std::uint8_t> s(30, 0);
    std::memcpy(s.data(), kStreamHeader.data(), kStreamHeader.size());
    put16(s, 26, kConfigVersion);
    put16(s, 28, static_cast<std::uint16_t>(kRecordSizes[k]));
    for (std::size_t i = 0; i < kRecordCounts[k]; ++i) {
        std::vector<std::uint8_t> r = kind == 0   ? publicRecord(base)
                                      : kind == 1 ? privateRecord(serial)
                                                  : motorRecord(static_cast<int>(i));
        put16(r, 0, recordChecksum(r));
        s.insert(s.end(), r.begin(), r.end());
    }
    return s;
}

void refreshStreamLengths(ObjectTable& table) {
    std::vector<std::uint8_t> lengths(6, 0);
    for (std::uint16_t kind = 0; kind < 3; ++kind) {
        const auto* stream = table.read(static_cast<std::uint16_t>(object::kConfigStream + kind));
        put16(lengths, 2 * kind, static_cast<std::uint16_t>(stream ? stream->size() : 0));
    }
    table.define(object::kStreamLengths, std::move(lengths), true, false, 0);
}

ObjectTable makeControllerObjects(std::uint32_t base, std::uint32_t serial,
                                  std::size_t maxWriteSize) {
    ObjectTable t;
    std::vector<std::uint8_t> info(8, 0);
    put16(info, 0, 152);   // firmware 1.52
    put16(info, 2, 3);     // DSP hardware version
    put32(info, 4, 4711);  // firmware build
    t.define(object::kReadOnlyInfo, std::move(info), true, false, 0);
    std::vector<std::uint8_t> version(2, 0);
    put16(version, 0, kConfigVersion);
    t.define(object::kRequiredVersion, std::move(version), true, false, 0);
    for (int kind = 0; kind < 3; ++kind)
        t.define(static_cast<std::uint16_t>(object::kConfigStream + kind),
                 makeConfigStream(kind, base, serial), true, true, maxWriteSize);
    t.define(object::kReset, {}, false, true, 1);
    refreshStreamLengths(t);
    return t;
}

}  // namespace qv::sim
