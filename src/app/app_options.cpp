#include "app/app_options.h"

#include <cmath>
#include <cstdlib>

#include "app/screenshot_windows.h"
#include "common/parse_number.h"
#include "link/net/interfaces.h"
#include "link/net/socket.h"
#include "link/platform/settings_store.h"

namespace qv {

namespace {

std::optional<double> parseSeconds(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(v) || v < 0 || v > 1e6)
        return std::nullopt;
    return v;
}

}  // namespace

std::optional<std::string> parseAppOptions(const std::vector<std::string>& args, AppOptions& out) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            out.help = true;
            continue;
        }
        const bool valued = name == "--interface" || name == "--port" || name == "--screenshot" ||
                            name == "--screenshot-after" || name == "--quit-after" ||
                            name == "--stats" || name == "--screenshot-window";
        if (!valued) return "unknown option " + name;
        if (i + 1 >= args.size()) return "missing value for " + name;
        const std::string& value = args[++i];
        if (name == "--interface") {
            const auto address = net::parseIPv4(value);
            if (!address) return "invalid value for --interface: " + value;
            out.interfaceAddress = *address;
        } else if (name == "--port") {
            const auto port = parseUnsignedNumber(value);
            if (!port || *port == 0 || *port > 0xFFFF) return "invalid value for --port: " + value;
            out.port = static_cast<std::uint16_t>(*port);
        } else if (name == "--screenshot-window") {
            if (!findScreenshotWindow(value))
                return "invalid value for --screenshot-window: " + value + " (one of " +
                       screenshotWindowNames() + ")";
            out.screenshotWindow = value;
        } else if (name == "--screenshot" || name == "--stats") {
            if (value.empty()) return "missing value for " + name;
            (name == "--screenshot" ? out.screenshotPath : out.statsPath) = value;
        } else {
            const auto seconds = parseSeconds(value);
            if (!seconds) return "invalid value for " + name + ": " + value;
            if (name == "--screenshot-after")
                out.screenshotAfterSeconds = *seconds;
            else
                out.quitAfterSeconds = *seconds;
        }
    }
    return std::nullopt;
}

BridgeSettings bridgeSettingsFor(const AppOptions& options, const SettingsStore& store) {
    BridgeSettings s = bridgeSettingsFrom(store);
    if (options.port) s.port = *options.port;
    if (options.interfaceAddress) {
        s.interfaceAddress = *options.interfaceAddress;
        s.mask = net::interfaceNetmask(*options.interfaceAddress).value_or(0xFFFFFFFFu);
    }
    return s;
}

}  // namespace qv
