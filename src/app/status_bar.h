#pragma once
// The main window's status bar as text: the bridge network and the link to it, the logs being
// written, the last configuration transfer and what became of the selected device. The logic
// collects StatusFacts on every tick; statusBarText() words them; the window only shows the
// lines (the bus-load line and its colour box stay where they are, above the status bar).
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace qv {

// A log file being written.
struct LogFacts {
    std::string path;
    std::uint64_t bytes = 0;  // on disk so far
};

enum class TransferKind { Download, Upload, Reset };

// How the last configuration transfer (a job of the transfer worker) ended.
struct TransferOutcome {
    TransferKind kind = TransferKind::Download;
    std::int32_t base = -1;  // the device it was started for; below 0: none was selected
    bool ok = false;
    // Only for an upload that succeeded: the controller's configuration was read back and
    // compared with what was written.
    bool verified = false;
    std::string message;    // the box that ended a failed job ("" when none was shown)
    bool declined = false;  // that box was a question answered No or Cancel
    std::tm at{};           // local time of the end
};

// A device named with the time something happened to it.
struct DeviceNote {
    std::string device;  // deviceDescription()
    std::tm at{};
};

struct StatusFacts {
    // Bridge network, as configured.
    std::uint32_t interfaceAddress = 0;  // IPv4, network order; 0: the system's choice
    std::uint16_t udpPort = 0;
    std::uint64_t busId = 0;
    // Link.
    bool portOpen = false;                 // the multicast group is joined
    std::optional<std::uint32_t> tcpPeer;  // the bridge a TCP connection is up to (network order)
    // Logs.
    std::optional<LogFacts> telemetryLog;
    int logPeriodTicks = 1;  // of 200 ms
    std::optional<LogFacts> rawLog;
    std::optional<TransferOutcome> lastTransfer;
    // Silence and loss.
    std::optional<std::tm> bridgeSilentSince;  // nothing at all arrives since then
    std::optional<DeviceNote> lostDevice;      // the selected device left the list then
    std::optional<DeviceNote> silentDevice;    // the selected device, not heard since then
};

// Three lines, each a few parts joined by " | ". Texts are UTF-8.
struct StatusBarText {
    std::string link;      // network and link
    std::string logs;      // the logs being written (file names)
    std::string logPaths;  // their whole paths, one a line (for a tool tip)
    std::string activity;  // the last transfer and the selected device
    bool operator==(const StatusBarText&) const = default;
};

StatusBarText statusBarText(const StatusFacts& facts);

// The parts, for the window's tool tips and for tests.
std::string networkText(std::uint32_t interfaceAddress, std::uint16_t port, std::uint64_t busId);
std::string linkText(bool portOpen, std::optional<std::uint32_t> tcpPeer);
// "WHAT: FILE NAME, SIZE".
std::string logText(const char* what, const LogFacts& log);
std::string transferText(const TransferOutcome& outcome);
std::string lostDeviceText(const DeviceNote& note);
std::string silentDeviceText(const DeviceNote& note);
std::string bridgeSilentText(const std::tm& since);

// "12.4 kB", "16.9 MB" (decimal units), "512 B".
std::string byteSizeText(std::uint64_t bytes);
// "%H:%M:%S".
std::string clockText(const std::tm& local);
// Dotted IPv4 of an address in network order.
std::string ipv4Text(std::uint32_t networkOrder);
// A box's text on one line: line breaks and runs of blanks become one blank.
std::string oneLine(const std::string& text);

}  // namespace qv
