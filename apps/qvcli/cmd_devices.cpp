// qvcli devices: the device list, headless.
#include <cstdio>

#include "args.h"
#include "bus_options.h"
#include "cli_monitor.h"
#include "commands.h"
#include "monitor/device_list.h"
#include "monitor/json_lines.h"

namespace qv::cli {

int runDevices(const CommandArgs& argv) {
    std::set<std::string> valued = kBusOptions;
    valued.insert({"--seconds", "--format"});
    const Args args(argv, valued, {});
    if (!args.positional().empty()) throw UsageError("unexpected argument " + args.positional()[0]);
    const double seconds = secondsOption(args, "--seconds", 3);
    const bool json = jsonFormatOption(args);
    CliMonitor cli(busSettings(args));
    if (!cli.open()) return openFailed("devices");
    cli.run(seconds);
    const DeviceList& list = cli.monitor().devices();
    if (list.entries().empty()) {
        std::fprintf(stderr, "%s\n", kNoDeviceFound);
        return kExitFailure;
    }
    if (json) {
        for (const DeviceEntry& e : list.entries()) std::printf("%s\n", deviceJson(e).c_str());
        return kExitOk;
    }
    std::printf("%s\n", kDeviceListHeading);
    for (const std::string& row : list.rows()) std::printf("%s\n", row.c_str());
    return kExitOk;
}

QV_CLI_COMMAND(devices, 22,
               "devices [--interface ADDR] [--port N] [--seconds S] [--format text|json]",
               runDevices);

}  // namespace qv::cli
