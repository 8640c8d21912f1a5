// qvcli telemetry: the telemetry panel of one device, headless.
#include <cstdio>

#include "args.h"
#include "bus_options.h"
#include "cli_monitor.h"
#include "commands.h"
#include "monitor/json_lines.h"
#include "monitor/telemetry_panel.h"

namespace qv::cli {

// One line per panel row: caption, then each value cell (a disabled one as an empty field),
// separated by tabs; the status line last.
namespace {

std::string panelText(const TelemetryPanel& panel) {
    std::string out;
    for (const PanelRow& row : panelRows()) {
        out += row.captionId != 0 ? panel.caption(row.captionId) : std::string(row.fixedCaption);
        for (int id : {row.leftCell, row.rightCell}) {
            if (id == 0) continue;
            const CellState& c = panel.cell(id);
            if (!c.visible) continue;
            out += '\t';
            if (c.enabled) out += c.text;
        }
        out += '\n';
    }
    out += panel.cell(kStatusLineCell).text;
    out += '\n';
    return out;
}

}  // namespace

int runTelemetry(const CommandArgs& argv) {
    std::set<std::string> valued = kBusOptions;
    valued.insert({"--seconds", "--device", "--format"});
    const Args args(argv, valued, {});
    if (!args.positional().empty()) throw UsageError("unexpected argument " + args.positional()[0]);
    const double seconds = secondsOption(args, "--seconds", 2);
    const bool json = jsonFormatOption(args);
    const auto device = args.value("--device");
    const std::uint32_t base = deviceBaseOption(args);
    CliMonitor cli(busSettings(args));
    if (device) cli.monitor().preselectBase(base);
    if (!cli.open()) return openFailed("telemetry");
    cli.run(seconds);
    if (!cli.monitor().selected().selected) {
        std::fprintf(stderr, "%s\n", kNoDeviceFound);
        return kExitFailure;
    }
    if (json)
        std::printf("%s\n", telemetryJson(cli.monitor()).c_str());
    else
        std::fputs(panelText(cli.monitor().panel()).c_str(), stdout);
    return kExitOk;
}

QV_CLI_COMMAND(telemetry, 24,
               "telemetry [--interface ADDR] [--port N] [--device BASE] [--seconds S] "
               "[--format text|json]",
               runTelemetry);

}  // namespace qv::cli
