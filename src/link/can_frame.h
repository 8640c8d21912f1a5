#pragma once
// One CAN frame as a checked value, and a received frame with what its datagram said.
#include <array>
#include <cstddef>
#include <cstdint>

namespace qv {

class CanFrame {
  public:
    using Data = std::array<std::uint8_t, 8>;

    // A zeroed standard data frame with identifier 0 and length 0.
    CanFrame() = default;
    // Every constructor validates; the first failing check throws OverflowException.
    CanFrame(std::uint32_t identifier, bool extended, bool remote, std::uint8_t length,
             const Data& data);
    // Copies min(length, 8) bytes from `bytes` into a zeroed data field.
    CanFrame(std::uint32_t identifier, bool extended, bool remote, std::uint8_t length,
             const std::uint8_t* bytes);
    // Data frame (remote = false) with the given bytes.
    CanFrame(std::uint32_t identifier, bool extended, std::uint8_t length, const Data& data);
    // No data: all eight bytes zero.
    CanFrame(std::uint32_t identifier, bool extended, bool remote, std::uint8_t length);

    std::uint32_t identifier() const { return identifier_; }
    bool extended() const { return extended_; }
    bool remote() const { return remote_; }
    std::uint8_t length() const { return length_; }
    const Data& data() const { return data_; }
    // The eight data bytes in memory order, byte 0 least significant.
    std::uint64_t data64() const;

    friend bool operator==(const CanFrame&, const CanFrame&) = default;

  private:
    void validate() const;

    std::uint32_t identifier_ = 0;
    bool extended_ = false;
    bool remote_ = false;
    std::uint8_t length_ = 0;
    Data data_{};
};

struct CanPacket {
    CanFrame frame;
    bool status = false;                 // bridge status frame, not bus traffic
    std::uint64_t busId = 0;             // bus identifier of the datagram
    std::uint64_t senderId = 0;          // client identifier of the datagram's sender
    std::uint32_t sourceAddress = 0;     // IPv4, network byte order as the socket gives it
    std::uint16_t port = 0;              // UDP port the client listens on, host order
    std::uint32_t interfaceAddress = 0;  // multicast interface of the receiving socket
    std::int64_t arrivalNs = 0;          // wall clock when the CAN port queued it (ns since 1970)
};

}  // namespace qv
