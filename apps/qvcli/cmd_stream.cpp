// qvcli read and qvcli write: move one object to or from a controller with the stream transfer,
// through the controller's bridge by TCP, exactly as the program's configuration transfer does.
#include <chrono>
#include <cstdio>
#include <vector>

#include "args.h"
#include "bus_options.h"
#include "commands.h"
#include "link/can_port.h"

namespace qv::cli {

namespace {

constexpr int kDiscoveryMs = 3000;
constexpr int kAckWaitMs = 2000;

struct Session {
    std::uint32_t base = 0;
    std::uint16_t object = 0;
};

Session sessionOptions(const Args& args) {
    if (!args.value("--device")) throw UsageError("--device BASE is required");
    if (!args.value("--object")) throw UsageError("--object 0xNNNN is required");
    Session s;
    s.base = static_cast<std::uint32_t>(args.number("--device", 0, 0x7E0));
    if (s.base % 0x20 != 0) throw UsageError("--device must be a multiple of 0x20");
    s.object = static_cast<std::uint16_t>(args.number("--object", 0, 0xFFFF));
    if (s.object == 0) throw UsageError("--object must not be 0");
    return s;
}

// Opens the port, finds the bridge that carries the device's announcements and connects to it
// by TCP with the stream identifiers. Prints the reason and returns false on failure.
bool connect(CBcan& port, const Session& s, const char* command) {
    if (port.open() != 1) {
        std::fprintf(stderr, "qvcli %s: cannot open the CAN port\n", command);
        return false;
    }
    std::uint32_t bridge = 0;
    port.setRawLogHook([&](const CanPacket& p) {
        if (p.frame.identifier() == s.base && !p.frame.remote() && bridge == 0)
            bridge = p.sourceAddress;
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDiscoveryMs);
    while (bridge == 0 && std::chrono::steady_clock::now() < end)
        port.waitForFrame(0xFFFFFFFFu, nullptr, 10);
    port.setRawLogHook({});
    if (bridge == 0) {
        std::fprintf(stderr, "qvcli %s: no device announces itself at 0x%03X\n", command, s.base);
        return false;
    }
    port.setBridgeAddress(bridge);
    if (port.connectTcp(s.base + 18, 4) != 1) {
        std::fprintf(stderr, "qvcli %s: could not open a TCP connection to the bridge %s\n",
                     command, net::formatIPv4(bridge).c_str());
        return false;
    }
    if (!port.configureStream(0, s.base + 0x12, s.base + 0x14)) {
        std::fprintf(stderr, "qvcli %s: cannot configure the stream transfer\n", command);
        return false;
    }
    return true;
}

const char* transferFailure(int code) {
    return code == kTransferAborted ? "transfer aborted" : "transfer failed";
}

std::optional<std::vector<std::uint8_t>> parseHex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == ',' || c == '\n' || c == '\t') continue;
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            return std::nullopt;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return bytes;
}

std::uint16_t defaultLength(std::uint16_t object, bool chunked) {
    switch (object) {
        case 0x0200:
            return 8;
        case 0x0201:
            return 6;
        case 0x0202:
            return 2;
        default:
            return chunked ? 4096 : 0;
    }
}

}  // namespace

int runRead(const CommandArgs& argv) {
    std::set<std::string> valued = kBusOptions;
    valued.insert({"--device", "--object", "--length"});
    const Args args(argv, valued, {"--chunked"});
    const Session s = sessionOptions(args);
    const bool chunked = args.has("--chunked");
    const std::uint64_t length =
        args.number("--length", defaultLength(s.object, chunked), chunked ? 0xFFFF : 4096);
    if (length == 0) throw UsageError("--length N is required for this object");
    const BridgeSettings settings = busSettings(args);

    CBcan port([settings] { return std::make_unique<CanUdpClient>(settings); });
    if (!connect(port, s, "read")) return kExitFailure;
    std::vector<std::uint8_t> data(length);
    std::uint16_t got = static_cast<std::uint16_t>(length);
    const int rc = port.transfer(&got, data.data(), s.object, false, chunked);
    port.closeTcp();
    port.close();
    if (rc != kTransferOk) {
        std::fprintf(stderr, "qvcli read: %s\n", transferFailure(rc));
        return kExitFailure;
    }
    for (std::size_t i = 0; i < got; i += 16) {
        std::printf("%04zX:", i);
        for (std::size_t j = i; j < i + 16 && j < got; ++j) std::printf(" %02X", data[j]);
        std::printf("\n");
    }
    return kExitOk;
}

int runWrite(const CommandArgs& argv) {
    std::set<std::string> valued = kBusOptions;
    valued.insert({"--device", "--object", "--hex"});
    const Args args(argv, valued, {"--chunked", "--no-ack"});
    const Session s = sessionOptions(args);
    const auto text = args.value("--hex");
    if (!text) throw UsageError("--hex BYTES is required");
    auto bytes = parseHex(*text);
    if (!bytes || bytes->empty() || bytes->size() > 0xFFFF)
        throw UsageError("--hex needs 1 to 65535 bytes in hexadecimal");
    // Configuration structures travel chunked; other objects whole unless asked.
    const bool structure = s.object >= 0x0100 && s.object <= 0x01FF;
    const bool chunked = args.has("--chunked") || structure || bytes->size() > 4096;
    const BridgeSettings settings = busSettings(args);

    CBcan port([settings] { return std::make_unique<CanUdpClient>(settings); });
    if (!connect(port, s, "write")) return kExitFailure;
    std::uint16_t length = static_cast<std::uint16_t>(bytes->size());
    const int rc = port.transfer(&length, bytes->data(), s.object, true, chunked);
    bool acknowledged = true;
    if (rc == kTransferOk && structure && !args.has("--no-ack"))
        acknowledged = port.completionEvent().waitFor(std::chrono::milliseconds(kAckWaitMs));
    port.closeTcp();
    port.close();
    if (rc != kTransferOk) {
        std::fprintf(stderr, "qvcli write: %s\n", transferFailure(rc));
        return kExitFailure;
    }
    if (!acknowledged) {
        std::fprintf(stderr,
                     "qvcli write: the controller did not acknowledge the write within %d ms\n",
                     kAckWaitMs);
        return kExitFailure;
    }
    std::printf("wrote %u bytes to object 0x%04X\n", static_cast<unsigned>(bytes->size()),
                s.object);
    return kExitOk;
}

QV_CLI_COMMAND(read, 30,
               "read --device BASE --object 0xNNNN [--length N] [--chunked] [--interface ADDR] "
               "[--port N]",
               runRead);
QV_CLI_COMMAND(write, 40,
               "write --device BASE --object 0xNNNN --hex BYTES [--chunked] [--no-ack] "
               "[--interface ADDR] [--port N]",
               runWrite);

}  // namespace qv::cli
