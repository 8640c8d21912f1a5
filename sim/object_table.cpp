#include "sim/object_table.h"

#include "config/config_data_bank.h"
#include "sim/controller_config.h"

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

void put16(std::vector<std::uint8_t>& r, std::size_t at, std::uint16_t v) {
    r[at] = static_cast<std::uint8_t>(v);
    r[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::vector<std::uint8_t>& r, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        r[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

std::uint16_t recordChecksum(std::span<const std::uint8_t> record) {
    return computeChecksum(record);
}

std::vector<std::uint8_t> makeConfigStream(int kind, std::uint32_t base, std::uint32_t serial) {
    return ControllerConfig(base, serial, SimConfigModes{}).stream(kind);
}

void refreshStreamLengths(ObjectTable& table) {
    std::vector<std::uint8_t> lengths(6, 0);
    for (std::uint16_t kind = 0; kind < 3; ++kind) {
        const auto* stream = table.read(static_cast<std::uint16_t>(object::kConfigStream + kind));
        put16(lengths, 2 * kind, static_cast<std::uint16_t>(stream ? stream->size() : 0));
    }
    table.define(object::kStreamLengths, std::move(lengths), true, false, 0);
}

void defineConfigObjects(ObjectTable& table, const ControllerConfig& config,
                         std::size_t maxWriteSize) {
    std::vector<std::uint8_t> version(2, 0);
    put16(version, 0, config.requiredVersion());
    table.define(object::kRequiredVersion, std::move(version), true, false, 0);
    for (int kind = 0; kind < 3; ++kind)
        table.define(static_cast<std::uint16_t>(object::kConfigStream + kind), config.stream(kind),
                     true, true, maxWriteSize);
    refreshStreamLengths(table);
    if (config.recovery() && config.modes().announceOrdinaryLength) {
        // The length of the ordinary public stream, while the recovery image is served.
        std::vector<std::uint8_t> lengths = *table.read(object::kStreamLengths);
        put16(lengths, 0, static_cast<std::uint16_t>(config.storedStream(0).size()));
        table.define(object::kStreamLengths, std::move(lengths), true, false, 0);
    }
}

ObjectTable makeControllerObjects(std::uint32_t base, std::uint32_t serial,
                                  std::size_t maxWriteSize) {
    ObjectTable t;
    std::vector<std::uint8_t> info(8, 0);
    put16(info, 0, 152);   // firmware 1.52
    put16(info, 2, 3);     // DSP hardware version
    put32(info, 4, 4711);  // firmware build
    t.define(object::kReadOnlyInfo, std::move(info), true, false, 0);
    t.define(object::kReset, {}, false, true, 1);
    defineConfigObjects(t, ControllerConfig(base, serial, SimConfigModes{}), maxWriteSize);
    return t;
}

}  // namespace qv::sim
