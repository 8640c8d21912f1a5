// qvcli devices: the device list, headless.
#include <cstdio>

#include "args.h"
#include "bus_options.h"
#include "cli_monitor.h"
#include "commands.h"
#include "monitor/device_list.h"

namespace qv::cli {

int runDevices(const CommandArgs& argv) {
    std::set<std::string> valued = kBusOptions;
    valued.insert("--seconds");
    const Args args(argv, valued, {});
    if (!args.positional().empty()) throw UsageError("unexpected argument " + args.positional()[0]);
    const double seconds = secondsOption(args, "--seconds", 3);
    CliMonitor cli(busSettings(args));
    if (!cli.open()) return openFailed("devices");
    cli.run(seconds);
    const DeviceList& list = cli.monitor().devices();
    if (list.entries().empty()) {
        std::fprintf(stderr, "%s\n", kNoDeviceFound);
        return kExitFailure;
    }
    std::printf("%s\n", kDeviceListHeading);
    for (const std::string& row : list.rows()) std::printf("%s\n", row.c_str());
    return kExitOk;
}

QV_CLI_COMMAND(devices, 22, "devices [--interface ADDR] [--port N] [--seconds S]", runDevices);

}  // namespace qv::cli
