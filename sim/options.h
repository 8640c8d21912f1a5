#pragma once
// Command-line settings of the simulator and their parser. Bad input is a UsageError whose text
// says what was wrong; the program prints it and exits with code 2.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/bridge_codec.h"

namespace qv::sim {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One simulated controller: base address, serial number and the four bytes it announces as its
// product (four ASCII characters or a 32-bit little-endian type code).
struct SimDevice {
    std::uint32_t base = 0x400;
    std::uint32_t serial = 123456;
    std::uint32_t product = 0;  // bytes 0-3 of the identification message, little-endian
    std::string productText;    // as given on the command line, for messages
};

// What the bridge does with the identifiers a TCP client asks for: forward them over TCP
// instead of multicast, over both, or not at all (multicast only).
enum class TcpForward { kTcp, kBoth, kNone };

// Every `every`-th frame on `identifier` (whose first data byte is `firstByte`, when given) is
// sent again `ms` later (replay), or held back `ms` (late) so that later frames overtake it.
struct FrameFault {
    std::uint32_t identifier = 0;
    int firstByte = -1;  // -1: any
    std::uint32_t every = 1;
    double ms = 0;
    bool replay = true;
};

struct Options {
    std::uint32_t interfaceAddress = 0x0100007F;  // network byte order; 127.0.0.1
    bool allowLan = false;
    std::uint16_t port = 4876;
    std::uint64_t busId = kDefaultBusId;
    std::uint16_t bitrateKbps = 500;
    std::vector<SimDevice> devices;    // empty: the default device
    std::vector<std::uint32_t> muted;  // bases that start muted
    double lossPercent = 0;
    double dupPercent = 0;
    double delayMs = 0;
    TcpForward tcpForward = TcpForward::kBoth;
    double multicastDelayMs = 0;  // on top of delayMs, multicast only
    double tcpDelayMs = 0;        // on top of delayMs, TCP only
    std::vector<FrameFault> frameFaults;
    double seconds = 0;  // 0: run until stopped
    std::uint64_t seed = 1;
    // Largest configuration object a controller stores from a write (a test object may be
    // larger than any real configuration).
    std::size_t maxObjectBytes = 4096;
    bool verbose = false;
    bool help = false;
};

// Parses the arguments after the program name. Throws UsageError.
Options parseOptions(const std::vector<std::string>& args);
// "BASE:SERIAL:PRODUCT", e.g. "0x400:123456:KX01" or "0x440:7:0x4001". Throws UsageError.
SimDevice parseDevice(const std::string& text);
// Decimal or 0x hexadecimal, the whole text, at most `max`. Throws UsageError naming `what`.
std::uint64_t parseUnsigned(const std::string& text, std::uint64_t max, const std::string& what);
// "ID[/BYTE0]:EVERY:MS", e.g. "0x414:7:300" or "0x412/2:1:600". Throws UsageError.
FrameFault parseFrameFault(const std::string& text, bool replay);
// The device list with the default device filled in when none was given.
std::vector<SimDevice> effectiveDevices(const Options& options);

std::string usageText();

}  // namespace qv::sim
