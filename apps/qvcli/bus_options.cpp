#include "bus_options.h"

#include "link/exceptions.h"
#include "link/net/interfaces.h"
#include "link/platform/settings_store.h"
#include "monitor/candump.h"

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
    return frameText(frame);
}

std::optional<CanFrame> parseFrame(const std::string& text) {
    return parseFrameText(text);
}

}  // namespace qv::cli
