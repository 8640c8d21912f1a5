#include "sim/options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "link/net/socket.h"

namespace qv::sim {

namespace {

[[noreturn]] void fail(const std::string& text) {
    throw UsageError(text);
}

double parseReal(const std::string& text, double min, double max, const std::string& what) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value))
        fail(what + ": \"" + text + "\" is not a number");
    if (value < min || value > max)
        fail(what + ": " + text + " is out of range (" + std::to_string(min) + " to " +
             std::to_string(max) + ")");
    return value;
}

std::string hexText(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%03X", static_cast<unsigned>(value));
    return text;
}

bool isLoopback(std::uint32_t networkOrder) {
    // The first octet sits in the lowest byte of a network-order address on this host.
    const auto* octets = reinterpret_cast<const std::uint8_t*>(&networkOrder);
    return octets[0] == 127;
}

std::uint32_t parseBase(const std::string& text, const std::string& what) {
    const auto base = static_cast<std::uint32_t>(parseUnsigned(text, 0x7E0, what));
    if (base % 0x20 != 0) fail(what + ": " + text + " is not a multiple of 0x20");
    return base;
}

// "BASE:VALUE" with a base address and the text after the colon.
std::pair<std::uint32_t, std::string> baseAndValue(const std::string& text,
                                                   const std::string& what) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) fail(what + ": \"" + text + "\" is not BASE:VALUE");
    return {parseBase(text.substr(0, colon), what + " base"), text.substr(colon + 1)};
}

}  // namespace

std::uint64_t parseUnsigned(const std::string& text, std::uint64_t max, const std::string& what) {
    int radix = 10;
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        radix = 16;
        digits = digits.substr(2);
    }
    std::uint64_t value = 0;
    const char* end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), end, value, radix);
    if (digits.empty() || ec == std::errc::invalid_argument || ptr != end)
        fail(what + ": \"" + text + "\" is not a number (decimal or 0x hexadecimal)");
    if (ec == std::errc::result_out_of_range || value > max)
        fail(what + ": " + text + " is too large (at most " + std::to_string(max) + ")");
    return value;
}

SimDevice parseDevice(const std::string& text) {
    const auto first = text.find(':');
    const auto second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos || text.find(':', second + 1) != std::string::npos)
        fail("--device: \"" + text + "\" is not BASE:SERIAL:PRODUCT");
    SimDevice d;
    d.base = parseBase(text.substr(0, first), "--device base");
    d.serial = static_cast<std::uint32_t>(
        parseUnsigned(text.substr(first + 1, second - first - 1), 0xFFFFFFFFu, "--device serial"));
    d.productText = text.substr(second + 1);
    const std::string& p = d.productText;
    const bool numeric = !p.empty() && (std::isdigit(static_cast<unsigned char>(p[0])) != 0) &&
                         (p.size() != 4 || p.starts_with("0x") || p.starts_with("0X") ||
                          std::all_of(p.begin(), p.end(), [](char c) {
                              return std::isdigit(static_cast<unsigned char>(c)) != 0;
                          }));
    if (numeric) {
        d.product = static_cast<std::uint32_t>(parseUnsigned(p, 0xFFFFFFFFu, "--device product"));
    } else {
        if (p.size() != 4 ||
            !std::all_of(p.begin(), p.end(), [](char c) { return c > 0x20 && c < 0x7F; }))
            fail("--device product: \"" + p +
                 "\" is neither four ASCII characters (e.g. KX01) nor a type code (e.g. 0x4001)");
        // Characters in byte order: the first character is byte 0.
        d.product = 0;
        for (int i = 3; i >= 0; --i)
            d.product = (d.product << 8) | static_cast<std::uint8_t>(p[static_cast<size_t>(i)]);
    }
    return d;
}

FrameFault parseFrameFault(const std::string& text, bool replay) {
    const std::string what = replay ? "--replay" : "--late";
    const auto first = text.find(':');
    const auto second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos || text.find(':', second + 1) != std::string::npos)
        fail(what + ": \"" + text + "\" is not ID[/BYTE0]:EVERY:MS");
    FrameFault f;
    f.replay = replay;
    std::string id = text.substr(0, first);
    if (const auto slash = id.find('/'); slash != std::string::npos) {
        f.firstByte = static_cast<int>(parseUnsigned(id.substr(slash + 1), 255, what + " byte"));
        id = id.substr(0, slash);
    }
    f.identifier = static_cast<std::uint32_t>(parseUnsigned(id, 0x1FFFFFFF, what + " identifier"));
    f.every = static_cast<std::uint32_t>(
        parseUnsigned(text.substr(first + 1, second - first - 1), 1000000, what + " every"));
    if (f.every == 0) fail(what + ": every must be at least 1");
    f.ms = parseReal(text.substr(second + 1), 0, 10000, what + " milliseconds");
    return f;
}

SimConfigModes parseConfigModes(const std::string& text) {
    SimConfigModes m;
    std::size_t start = 0;
    while (!text.empty() && start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string mode = text.substr(start, comma - start);
        start = comma + 1;
        if (mode == "recovery") {
            m.recovery = true;
        } else if (mode == "recovery-ordinary-length") {
            m.recovery = m.announceOrdinaryLength = true;
        } else if (mode == "flip-byte") {
            m.flipByte = true;
        } else if (mode == "v199" || mode == "v201") {
            m.layoutVersion = m.requiredVersion = mode == "v199" ? 199 : 201;
        } else if (mode == "no-ack") {
            m.noAck = {true, true, true};
        } else if (mode == "no-ack-public" || mode == "no-ack-private" || mode == "no-ack-motor") {
            m.noAck[mode == "no-ack-public" ? 0 : mode == "no-ack-private" ? 1 : 2] = true;
        } else if (mode == "serial0") {
            m.serialZero = true;
        } else if (mode == "corrupt-public" || mode == "corrupt-private" ||
                   mode == "corrupt-motor") {
            m.corrupt[mode == "corrupt-public" ? 0 : mode == "corrupt-private" ? 1 : 2] = true;
        } else if (mode == "lose-close") {
            m.loseClose = true;
        } else if (mode == "slow-flash") {
            m.slowFlash = true;
        } else {
            fail("--config: unknown mode \"" + mode +
                 "\" (recovery, recovery-ordinary-length, v199, v201, no-ack, no-ack-public, "
                 "no-ack-private, no-ack-motor, serial0, corrupt-public, corrupt-private, "
                 "corrupt-motor, lose-close, slow-flash, flip-byte)");
        }
    }
    return m;
}

SimConfigModes configModesFor(const Options& options, std::uint32_t base) {
    for (const auto& [b, modes] : options.configModes)
        if (b == base) return modes;
    return {};
}

std::vector<SimDevice> effectiveDevices(const Options& options) {
    if (!options.devices.empty()) return options.devices;
    return {parseDevice("0x400:123456:KX01")};
}

Options parseOptions(const std::vector<std::string>& args) {
    Options o;
    std::vector<std::string> mutedText;
    std::vector<std::pair<std::uint32_t, std::uint16_t>> activeMotors;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) fail(name + " needs a value");
            return args[++i];
        };
        if (name == "--help" || name == "-h") {
            o.help = true;
        } else if (name == "--verbose") {
            o.verbose = true;
        } else if (name == "--allow-lan") {
            o.allowLan = true;
        } else if (name == "--interface") {
            const std::string& v = value();
            const auto address = net::parseIPv4(v);
            if (!address) fail("--interface: \"" + v + "\" is not an IPv4 address");
            o.interfaceAddress = *address;
        } else if (name == "--port") {
            o.port = static_cast<std::uint16_t>(parseUnsigned(value(), 65535, "--port"));
            if (o.port == 0) fail("--port: 0 is not a usable port");
        } else if (name == "--bus-id") {
            o.busId = parseUnsigned(value(), ~std::uint64_t{0}, "--bus-id");
        } else if (name == "--bitrate") {
            o.bitrateKbps = static_cast<std::uint16_t>(parseUnsigned(value(), 65535, "--bitrate"));
            if (o.bitrateKbps == 0) fail("--bitrate: 0 kbit/s is not a bit rate");
        } else if (name == "--device") {
            o.devices.push_back(parseDevice(value()));
        } else if (name == "--mute") {
            mutedText.push_back(value());
            o.muted.push_back(parseBase(mutedText.back(), "--mute"));
        } else if (name == "--loss") {
            o.lossPercent = parseReal(value(), 0, 100, "--loss");
        } else if (name == "--dup") {
            o.dupPercent = parseReal(value(), 0, 100, "--dup");
        } else if (name == "--delay") {
            o.delayMs = parseReal(value(), 0, 10000, "--delay");
        } else if (name == "--tcp-forward") {
            const std::string& v = value();
            if (v == "tcp")
                o.tcpForward = TcpForward::kTcp;
            else if (v == "both")
                o.tcpForward = TcpForward::kBoth;
            else if (v == "none")
                o.tcpForward = TcpForward::kNone;
            else
                fail("--tcp-forward: \"" + v + "\" is not tcp, both or none");
        } else if (name == "--multicast-delay") {
            o.multicastDelayMs = parseReal(value(), 0, 10000, "--multicast-delay");
        } else if (name == "--tcp-delay") {
            o.tcpDelayMs = parseReal(value(), 0, 10000, "--tcp-delay");
        } else if (name == "--replay" || name == "--late") {
            o.frameFaults.push_back(parseFrameFault(value(), name == "--replay"));
        } else if (name == "--seconds") {
            o.seconds = parseReal(value(), 0, 1e7, "--seconds");
            if (o.seconds <= 0) fail("--seconds: must be more than 0");
        } else if (name == "--max-object") {
            o.maxObjectBytes =
                static_cast<std::size_t>(parseUnsigned(value(), 65535, "--max-object"));
            if (o.maxObjectBytes == 0) throw UsageError("--max-object must be at least 1");
        } else if (name == "--config") {
            const std::string& v = value();
            const auto colon = v.find(':');
            if (colon == std::string::npos) fail("--config: \"" + v + "\" is not BASE:MODE,...");
            o.configModes.emplace_back(parseBase(v.substr(0, colon), "--config base"),
                                       parseConfigModes(v.substr(colon + 1)));
        } else if (name == "--raw-objects") {
            o.rawObjects = true;
        } else if (name == "--foreign-dc") {
            o.foreignDriverControlsBase = parseBase(value(), "--foreign-dc");
        } else if (name == "--active-motor") {
            const auto [base, motor] = baseAndValue(value(), "--active-motor");
            activeMotors.emplace_back(
                base, static_cast<std::uint16_t>(parseUnsigned(motor, 65535, "--active-motor")));
        } else if (name == "--withdraw" || name == "--silence") {
            const auto [base, seconds] = baseAndValue(value(), name);
            DeviceEvent e;
            e.action = name == "--withdraw" ? DeviceEvent::Action::kWithdraw
                                            : DeviceEvent::Action::kSilence;
            e.base = base;
            e.atSeconds = parseReal(seconds, 0, 1e7, name + " seconds");
            o.deviceEvents.push_back(e);
        } else if (name == "--bms") {
            o.bms = true;
        } else if (name == "--load-fps") {
            o.loadFps = parseReal(value(), 0, 100000, "--load-fps");
        } else if (name == "--seed") {
            o.seed = parseUnsigned(value(), ~std::uint64_t{0}, "--seed");
        } else if (parseCommissioningOption(o.commissioning, name, value)) {
            // a motor setting or a commissioning fault
        } else {
            fail("unknown option \"" + name + "\"");
        }
    }
    if (!o.allowLan && !isLoopback(o.interfaceAddress))
        fail("--interface: " + net::formatIPv4(o.interfaceAddress) +
             " is not a loopback address (127.0.0.0/8); add --allow-lan to use it");
    if (o.devices.empty() && !activeMotors.empty()) o.devices = effectiveDevices(o);
    for (const auto& [base, motor] : activeMotors) {
        bool found = false;
        for (SimDevice& d : o.devices)
            if (d.base == base) {
                d.activeMotor = motor;
                found = true;
            }
        if (!found) fail("--active-motor: no device at base " + hexText(base));
    }
    const auto devices = effectiveDevices(o);
    for (std::size_t i = 0; i < devices.size(); ++i)
        for (std::size_t j = i + 1; j < devices.size(); ++j)
            if (devices[i].base == devices[j].base && devices[i].serial == devices[j].serial)
                fail("--device: two devices with base " + hexText(devices[i].base) +
                     " and serial " + std::to_string(devices[i].serial));
    for (std::size_t i = 0; i < o.muted.size(); ++i)
        if (std::none_of(devices.begin(), devices.end(),
                         [&](const SimDevice& d) { return d.base == o.muted[i]; }))
            fail("--mute: no device at base " + mutedText[i]);
    for (const auto& entry : o.configModes) {
        const auto base = entry.first;
        if (std::none_of(devices.begin(), devices.end(),
                         [&](const SimDevice& d) { return d.base == base; }))
            fail("--config: no device at base " + hexText(base));
    }
    for (const DeviceEvent& e : o.deviceEvents)
        if (std::none_of(devices.begin(), devices.end(),
                         [&](const SimDevice& d) { return d.base == e.base; }))
            fail(std::string(e.action == DeviceEvent::Action::kWithdraw ? "--withdraw"
                                                                        : "--silence") +
                 ": no device at base " + hexText(e.base));
    return o;
}

std::string usageText() {
    return "usage: qvsim [options]\n"
           "  --interface ADDR     multicast interface and TCP address (default 127.0.0.1)\n"
           "  --allow-lan          allow an interface outside 127.0.0.0/8\n"
           "  --port N             bridge UDP and TCP port (default 4876)\n"
           "  --bus-id N           bus identifier (default 0x004272656E6C6F77)\n"
           "  --bitrate KBPS       bit rate reported in bridge status frames (default 500)\n"
           "  --device B:S:P       controller at base B, serial S, product P (KX01, 0x4001...);\n"
           "                       repeatable (default 0x400:123456:KX01)\n"
           "  --mute BASE          that controller starts without answering\n"
           "  --active-motor B:N   active motor N of the device at B (0: a charger charges)\n"
           "  --withdraw B:S       the device at B withdraws itself after S seconds\n"
           "  --silence B:S        the device at B falls silent after S seconds\n"
           "  --bms                a battery-management node sending 0x263 and 0x266\n"
           "  --load-fps N         a load generator adding N frames per second\n"
           "  --loss PCT           drop this share of the frames sent to clients\n"
           "  --dup PCT            send this share of the frames twice\n"
           "  --delay MS           hold every frame sent to clients this long\n"
           "  --tcp-forward MODE   a TCP client's identifiers go over tcp instead of multicast,\n"
           "                       over both (default), or none (multicast only)\n"
           "  --multicast-delay MS, --tcp-delay MS   extra delay on one path only\n"
           "  --replay ID[/B0]:N:MS  every Nth frame on ID (first byte B0) is sent again MS later\n"
           "  --late ID[/B0]:N:MS    every Nth frame on ID (first byte B0) is held back MS\n"
           "  --seconds S          exit after S seconds (default: until SIGINT/SIGTERM)\n"
           "  --max-object N       largest configuration object stored from a write (4096)\n"
           "  --config BASE:MODES  configuration behaviour of that controller, modes joined by\n"
           "                       ',': recovery, recovery-ordinary-length, v199, v201,\n"
           "                       no-ack, no-ack-public, no-ack-private, no-ack-motor,\n"
           "                       serial0, corrupt-public, corrupt-private, corrupt-motor,\n"
           "                       lose-close, slow-flash, flip-byte\n"
           "  --raw-objects        configuration objects store any bytes, unverified\n"
           "  --foreign-dc BASE    a foreign driver-controls node sends at BASE + 1 and + 2\n"
           "  --seed N             seed of every random choice (default 1)\n"
           "  --verbose            report connections and transfers on stdout\n"
           "commissioning tools (every controller; see README):\n"
           "  --motor-phase-order abc|acb  --motor-sensor-mode N  --motor-halls-present 0|1\n"
           "  --motor-hall-wiring 123  --motor-hall-shift DEG  --motor-pole-ratio N\n"
           "  --motor-position-offset DEG  --motor-speed HZ  --motor-noise PCT\n"
           "  --motor-resistance OHM  --motor-inductance H  --motor-vi-points N\n"
           "  --motor-decay-points N  --tool-silent  --tool-omit-data K  --tool-stop-data K\n"
           "  --tool-omit-status K  --tool-wrong-phase K\n"
           "  --motor-rr OHM  --motor-lls H  --motor-lm H  --motor-im-mode N\n"
           "  --motor-im-points N  --motor-im-interval S  --motor-im-current A\n"
           "standard input: lines \"mute BASE\", \"unmute BASE\", \"withdraw BASE\",\n"
           "  \"silence BASE\", \"unsilence BASE\", \"reset BASE\", \"droptcp\",\n"
           "  \"foreign-dc on [BASE]\", \"foreign-dc off\", \"quit\"\n";
}

}  // namespace qv::sim
