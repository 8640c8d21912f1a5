#pragma once
// The objects a simulated controller serves over the stream transfer: byte strings by 16-bit
// index, each readable, writable or both, with a bound on what a write may store.
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace qv::sim {

namespace object {
inline constexpr std::uint16_t kReadOnlyInfo = 0x0200;
inline constexpr std::uint16_t kStreamLengths = 0x0201;
inline constexpr std::uint16_t kRequiredVersion = 0x0202;
inline constexpr std::uint16_t kWriteAck = 0x0203;
inline constexpr std::uint16_t kConfigStream = 0x0100;  // + structure kind 0, 1, 2
inline constexpr std::uint16_t kReset = 0x0400;
}  // namespace object

class ObjectTable {
  public:
    // Adds or replaces an object.
    void define(std::uint16_t index, std::vector<std::uint8_t> bytes, bool readable, bool writable,
                std::size_t maxWriteSize);
    // The bytes of a readable object; null for unknown or write-only objects.
    const std::vector<std::uint8_t>* read(std::uint16_t index) const;
    // Largest write accepted; 0 for unknown or read-only objects.
    std::size_t writeLimit(std::uint16_t index) const;
    // Stores a write; false (nothing changed) when the object is not writable or the bytes
    // exceed its limit.
    bool store(std::uint16_t index, std::span<const std::uint8_t> bytes);

  private:
    struct Object {
        std::vector<std::uint8_t> bytes;
        bool readable = false;
        bool writable = false;
        std::size_t maxWriteSize = 0;
    };
    std::map<std::uint16_t, Object> objects_;
};

// Largest configuration stream a controller stores from a write, unless told otherwise.
inline constexpr std::size_t kMaxConfigStream = 4096;

class ControllerConfig;

// The objects of a motor controller: identification block, stream lengths, required version,
// the three configuration streams (kept consistent with the lengths object on every write),
// and the one-byte reset object. The streams hold the program's default configuration with the
// controller's base address and serial number.
ObjectTable makeControllerObjects(std::uint32_t base, std::uint32_t serial,
                                  std::size_t maxWriteSize = kMaxConfigStream);
// (Re)defines the configuration streams, their lengths and the required version from what
// `config` holds now.
void defineConfigObjects(ObjectTable& table, const ControllerConfig& config,
                         std::size_t maxWriteSize);
// Rewrites the stream-lengths object from the three configuration streams now held.
void refreshStreamLengths(ObjectTable& table);

// The default configuration stream of one structure kind, with valid checksums.
std::vector<std::uint8_t> makeConfigStream(int kind, std::uint32_t base, std::uint32_t serial);
// 16-bit sum of bytes 2 to the end of a record: what its first two bytes must hold.
std::uint16_t recordChecksum(std::span<const std::uint8_t> record);

inline constexpr std::uint16_t kConfigVersion = 200;

}  // namespace qv::sim
