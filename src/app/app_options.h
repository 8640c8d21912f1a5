#pragma once
// The options of qvconfig (the program's own; the bridge options override the settings store
// so that demonstrations and tests stay on loopback).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/can_udp_client.h"

namespace qv {

class SettingsStore;

struct AppOptions {
    std::optional<std::uint32_t> interfaceAddress;  // network order
    std::optional<std::uint16_t> port;
    std::optional<std::string> screenshotPath;
    std::string screenshotWindow = "main";  // a name of screenshotWindows()
    double screenshotAfterSeconds = 3.0;
    std::optional<double> quitAfterSeconds;
    std::optional<std::string> statsPath;  // diagnostics written at exit
    bool help = false;
};

inline constexpr const char* kAppUsage =
    "usage: qvconfig [--interface ADDR] [--port N] [--screenshot FILE [--screenshot-after S]\n"
    "                [--screenshot-window NAME]] [--quit-after S]\n";

// Parses the arguments after the program name (Qt's own already taken out). The error text,
// or nothing when they are fine.
std::optional<std::string> parseAppOptions(const std::vector<std::string>& args, AppOptions& out);

// The store's bridge settings with the options' overrides; an interface brings its netmask.
BridgeSettings bridgeSettingsFor(const AppOptions& options, const SettingsStore& store);

}  // namespace qv
