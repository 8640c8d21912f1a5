#include "bus_options.h"

#include <cctype>
#include <cstdio>

#include "link/exceptions.h"
#include "link/net/interfaces.h"
#include "link/platform/settings_store.h"

namespace qv::cli {

BridgeSettings busSettings(const Args& args) {
    BridgeSettings s = bridgeSettingsFrom(SettingsStore(SettingsStore::defaultPath()));
    s.port = static_cast<std::uint16_t>(args.number("--port", s.port, 0xFFFF));
    if (s.port == 0) throw UsageError("invalid value for --port: 0");
    if (const auto text = args.value("--interface")) {
        const auto address = net::parseIPv4(*text);
        if (!address) throw UsageError("invalid value for --interface: " + *text);
        s.interfaceAddress = *address;
        s.mask = net::interfaceNetmask(*address).value_or(0xFFFFFFFFu);
    }
    return s;
}

std::string formatFrame(const CanFrame& frame) {
    char text[64];
    int n =
        std::snprintf(text, sizeof text, frame.extended() ? "%08X#" : "%03X#", frame.identifier());
    if (frame.remote()) return std::string(text, static_cast<std::size_t>(n)) + "R";
    const int bytes = frame.length() < 8 ? frame.length() : 8;
    for (int i = 0; i < bytes; ++i)
        n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "%02X",
                           frame.data()[static_cast<std::size_t>(i)]);
    return std::string(text, static_cast<std::size_t>(n));
}

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<CanFrame> parseFrame(const std::string& text) {
    const auto hash = text.find('#');
    if (hash == std::string::npos || hash == 0 || hash > 8) return std::nullopt;
    std::uint32_t id = 0;
    for (std::size_t i = 0; i < hash; ++i) {
        const int d = hexDigit(text[i]);
        if (d < 0) return std::nullopt;
        id = id * 16 + static_cast<std::uint32_t>(d);
    }
    const bool extended = hash > 3;
    const std::string data = text.substr(hash + 1);
    try {
        if (data == "R" || data == "r") return CanFrame(id, extended, true, 0);
        if (data.size() % 2 != 0 || data.size() > 16) return std::nullopt;
        CanFrame::Data bytes{};
        for (std::size_t i = 0; i < data.size(); i += 2) {
            const int hi = hexDigit(data[i]), lo = hexDigit(data[i + 1]);
            if (hi < 0 || lo < 0) return std::nullopt;
            bytes[i / 2] = static_cast<std::uint8_t>(hi * 16 + lo);
        }
        return CanFrame(id, extended, false, static_cast<std::uint8_t>(data.size() / 2), bytes);
    } catch (const OverflowException&) {
        return std::nullopt;
    }
}

}  // namespace qv::cli
