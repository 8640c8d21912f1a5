#include "app/status_bar.h"

#include <cstdio>

#include "monitor/number_text.h"

namespace qv {

namespace {

constexpr const char* kSeparator = " | ";

std::string baseText(std::int32_t base) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%03X", static_cast<unsigned>(base));
    return text;
}

void join(std::string& line, const std::string& part) {
    if (part.empty()) return;
    if (!line.empty()) line += kSeparator;
    line += part;
}

}  // namespace

std::string ipv4Text(std::uint32_t a) {
    // Network order: the first octet is the lowest byte in memory on this machine.
    const auto* b = reinterpret_cast<const unsigned char*>(&a);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

std::string byteSizeText(std::uint64_t bytes) {
    if (bytes < 1000) return std::to_string(bytes) + " B";
    const double b = static_cast<double>(bytes);
    if (bytes < 1000 * 1000) return fixedText(b / 1e3, 1) + " kB";
    if (bytes < 1000ull * 1000 * 1000) return fixedText(b / 1e6, 1) + " MB";
    return fixedText(b / 1e9, 2) + " GB";
}

std::string clockText(const std::tm& t) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.tm_hour % 100, t.tm_min % 100,
                  t.tm_sec % 100);
    return text;
}

std::string oneLine(const std::string& text) {
    std::string out;
    bool blank = false;
    for (const char c : text) {
        if (c == '\r' || c == '\n' || c == '\t' || c == ' ') {
            blank = !out.empty();
            continue;
        }
        if (blank) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

std::string networkText(std::uint32_t interfaceAddress, std::uint16_t port, std::uint64_t busId) {
    char bus[24];
    std::snprintf(bus, sizeof bus, "0x%016llX", static_cast<unsigned long long>(busId));
    const std::string iface =
        interfaceAddress == 0 ? "default interface" : "interface " + ipv4Text(interfaceAddress);
    return "Bridge network: " + iface + ", port " + std::to_string(port) + ", bus " + bus;
}

std::string linkText(bool portOpen, std::optional<std::uint32_t> tcpPeer) {
    if (!portOpen) return "CAN port not open";
    std::string s = "Multicast joined";
    if (tcpPeer) s += ", TCP connected to " + ipv4Text(*tcpPeer);
    return s;
}

std::string logText(const char* what, const LogFacts& log) {
    const auto slash = log.path.find_last_of('/');
    const std::string name = slash == std::string::npos ? log.path : log.path.substr(slash + 1);
    return std::string(what) + ": " + name + ", " + byteSizeText(log.bytes);
}

std::string transferText(const TransferOutcome& o) {
    std::string s;
    const std::string device = o.base >= 0 ? baseText(o.base) : std::string();
    switch (o.kind) {
        case TransferKind::Download:
            s = device.empty() ? "Download" : "Download from " + device;
            break;
        case TransferKind::Upload:
            s = device.empty() ? "Upload" : "Upload to " + device;
            break;
        case TransferKind::Reset:
            s = device.empty() ? "Reset" : "Reset of " + device;
            break;
    }
    const std::string at = clockText(o.at);
    if (o.ok) {
        // An upload is "verified" once its read-back matched what was written.
        const char* word = o.kind == TransferKind::Upload && o.verified ? " verified "
                           : o.kind == TransferKind::Reset              ? " sent "
                                                                        : " done ";
        return s + word + at;
    }
    const std::string message = oneLine(o.message);
    if (o.declined) return s + " not done " + at + ": declined \"" + message + "\"";
    return s + " failed " + at + (message.empty() ? std::string() : ": " + message);
}

std::string lostDeviceText(const DeviceNote& n) {
    return "Lost " + n.device + " at " + clockText(n.at);
}

std::string silentDeviceText(const DeviceNote& n) {
    return "Nothing from " + n.device + " since " + clockText(n.at);
}

std::string bridgeSilentText(const std::tm& since) {
    return "No frames from the bridge since " + clockText(since);
}

StatusBarText statusBarText(const StatusFacts& f) {
    StatusBarText t;
    t.link = networkText(f.interfaceAddress, f.udpPort, f.busId);
    join(t.link, linkText(f.portOpen, f.tcpPeer));

    if (f.telemetryLog) {
        const int ticks = f.logPeriodTicks > 0 ? f.logPeriodTicks : 1;
        const double seconds = ticks * 0.2;
        join(t.logs, logText("Telemetry log", *f.telemetryLog) + ", every " +
                         fixedText(seconds, ticks % 5 == 0 ? 0 : 1) + " s");
    }
    if (f.rawLog) join(t.logs, logText("Raw CAN log", *f.rawLog));
    if (f.telemetryLog) t.logPaths = "Telemetry log: " + f.telemetryLog->path;
    if (f.telemetryLog && f.rawLog) t.logPaths += '\n';
    if (f.rawLog) t.logPaths += "Raw CAN log: " + f.rawLog->path;
    if (t.logs.empty()) t.logs = "No log being written";

    if (f.lastTransfer) join(t.activity, transferText(*f.lastTransfer));
    if (f.bridgeSilentSince) join(t.activity, bridgeSilentText(*f.bridgeSilentSince));
    if (f.lostDevice) join(t.activity, lostDeviceText(*f.lostDevice));
    if (f.silentDevice) join(t.activity, silentDeviceText(*f.silentDevice));
    if (t.activity.empty()) t.activity = "No configuration transfer yet";
    return t;
}

}  // namespace qv
