#pragma once
// Bridge options shared by the commands that reach the bus: --interface ADDR and --port N on top
// of the settings store.
#include <set>
#include <string>

#include "args.h"
#include "link/can_udp_client.h"

namespace qv::cli {

inline const std::set<std::string> kBusOptions = {"--interface", "--port"};

// Settings store values, then the command-line options. A given interface brings its own netmask
// (the TCP route check compares the bridge's subnet with it).
BridgeSettings busSettings(const Args& args);

// The frame text of the monitor and send commands: ID#DATA in upper-case hex, a standard
// identifier in 3 digits and an extended one in 8; a remote frame is ID#R.
std::string formatFrame(const CanFrame& frame);
// Parses that text (an identifier of more than 3 digits is extended); nothing when malformed.
std::optional<CanFrame> parseFrame(const std::string& text);

}  // namespace qv::cli
