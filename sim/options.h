#pragma once
// Command-line settings of the simulator and their parser. Bad input is a UsageError whose text
// says what was wrong; the program prints it and exits with code 2.
#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "link/bridge_codec.h"
#include "sim/commissioning_options.h"

namespace qv::sim {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One simulated controller: base address, serial number and the four bytes it announces as its
// product (four ASCII characters or a 32-bit little-endian type code).
struct SimDevice {
    std::uint32_t base = 0x400;
    std::uint32_t serial = 123456;
    std::uint32_t product = 0;      // bytes 0-3 of the identification message, little-endian
    std::string productText;        // as given on the command line, for messages
    std::uint16_t activeMotor = 0;  // reported in the status message; 0: a charger charges
};

// Something a device does at a time after the start: withdraw (an unknown identification with
// byte 3 = 0xFF, then silence) or fall silent.
struct DeviceEvent {
    enum class Action { kWithdraw, kSilence };
    Action action = Action::kSilence;
    std::uint32_t base = 0;
    double atSeconds = 0;
};

// How a simulated controller's configuration behaves (--config BASE:MODE,...).
struct SimConfigModes {
    bool recovery = false;                // "recovery": CFG error flag, recovery image served
    std::uint16_t layoutVersion = 200;    // "v199", "v201": records of that layout
    std::uint16_t requiredVersion = 200;  // the version its firmware requires (that of the layout)
    std::array<bool, 3> noAck{};          // "no-ack[-public|-private|-motor]": never acknowledged
    bool serialZero = false;              // "serial0": its private record holds serial 0
    std::array<bool, 3> corrupt{};        // "corrupt-public|private|motor": a bad checksum served
    bool loseClose = false;               // "lose-close": its Close (2) after a write is lost
    bool slowFlash = false;               // "slow-flash": acknowledged 1.7 s after the write
    // "recovery-ordinary-length": recovery mode whose stream lengths announce the ordinary
    // public stream (header and one record) while the recovery image is served.
    bool announceOrdinaryLength = false;
    // "flip-byte": every structure written is stored with bit 0 of byte 8 of its first record
    // flipped (the record's checksum made to match): a controller that stores something else.
    bool flipByte = false;
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
    std::vector<SimDevice> devices;         // empty: the default device
    std::vector<std::uint32_t> muted;       // bases that start muted
    std::vector<DeviceEvent> deviceEvents;  // --withdraw, --silence
    bool bms = false;                       // a battery-management node on 0x263 and 0x266
    double loadFps = 0;                     // extra frames per second from a load generator
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
    // A foreign driver-controls node sending at BASE + 1 and + 2 from the start (none: off;
    // it can be switched on and off while running).
    std::optional<std::uint32_t> foreignDriverControlsBase;
    bool help = false;
    // Configuration behaviour by base address; bases not listed behave normally.
    std::vector<std::pair<std::uint32_t, SimConfigModes>> configModes;
    // Configuration objects store any bytes unverified (transfer tests with test objects).
    bool rawObjects = false;
    // The motor behind every controller, and faults in their replies to the commissioning tools.
    CommissioningOptions commissioning;
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

// "MODE,MODE,...": recovery, recovery-ordinary-length, v199, v201, no-ack, no-ack-public,
// no-ack-private, no-ack-motor, serial0, corrupt-public, corrupt-private, corrupt-motor,
// lose-close, slow-flash, flip-byte. Throws UsageError.
SimConfigModes parseConfigModes(const std::string& text);
// The modes given for `base`, or the normal behaviour.
SimConfigModes configModesFor(const Options& options, std::uint32_t base);

std::string usageText();

}  // namespace qv::sim
