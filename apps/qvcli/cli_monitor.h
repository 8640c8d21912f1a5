#pragma once
// The headless counterpart of the main window's tick for the monitoring commands: every 200 ms
// it drains the CAN port's queue into the same Monitor the window uses, applies what the device
// list asks for (stream identifiers, configuration store), purges the list every 12 ticks,
// updates the bus load and refreshes the panel. Ctrl-C (SIGINT) and SIGTERM end the run.
#include <functional>
#include <memory>
#include <string>

#include "config/config_data_bank.h"
#include "link/can_port.h"
#include "monitor/monitor.h"

namespace qv::cli {

class CliMonitor {
  public:
    explicit CliMonitor(const BridgeSettings& settings);
    ~CliMonitor();

    // Opens the CAN port; false when the bridge network cannot be joined.
    bool open();

    // Runs ticks until `seconds` passed (0 or less: no limit), a stop signal, or `done` says
    // so. `beforeDrain` runs first in every tick (the log row), `afterTick` last.
    void run(double seconds, const std::function<bool()>& done = {},
             const std::function<void()>& beforeDrain = {},
             const std::function<void()>& afterTick = {});

    Monitor& monitor() { return monitor_; }
    CBcan& port() { return port_; }
    // A stop signal arrived.
    static bool interrupted();

  private:
    void tick();

    CConfigDataBank store_;
    Monitor monitor_;
    CBcan port_;
    int purgeCountdown_ = 12;
};

class Args;

inline constexpr const char* kNoDeviceFound = "No device found";

// Seconds from an option: finite and not negative, else a usage error.
double secondsOption(const Args& args, const std::string& name, double fallback);
// --format text|json: true for json (text is the default), else a usage error.
bool jsonFormatOption(const Args& args);
// --device BASE: a multiple of 0x20 up to 0x7E0, else a usage error (0 when not given).
std::uint32_t deviceBaseOption(const Args& args);
// "qvcli COMMAND: could not open a CAN port" on stderr; the failure exit code.
int openFailed(const char* command);

}  // namespace qv::cli
