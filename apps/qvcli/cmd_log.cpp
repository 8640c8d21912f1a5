// qvcli log: the telemetry log of the main window, written headless.
#include <chrono>
#include <cstdio>
#include <ctime>

#include "args.h"
#include "bus_options.h"
#include "cli_monitor.h"
#include "commands.h"
#include "monitor/telemetry_log.h"

namespace qv::cli {

namespace {

using Clock = std::chrono::steady_clock;

// Ticks after the selection to wait for the first status message (the mode picks the header).
constexpr int kStatusWaitTicks = 5;
// Without --seconds, how long to look for the device.
constexpr double kDeviceWaitSeconds = 5.0;

std::tm localNow() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

int periodTicks(const Args& args) {
    const auto text = args.value("--period");
    if (!text || *text == "0.2") return 1;
    if (*text == "1") return 5;
    if (*text == "10") return 50;
    throw UsageError("invalid value for --period: " + *text + " (0.2, 1 or 10)");
}

}  // namespace

int runLog(const CommandArgs& raw) {
    CommandArgs argv = raw;
    for (std::string& a : argv)
        if (a == "-o") a = "--output";
    std::set<std::string> valued = kBusOptions;
    valued.insert({"--device", "--period", "--seconds", "--output"});
    const Args args(argv, valued, {});
    if (!args.positional().empty()) throw UsageError("unexpected argument " + args.positional()[0]);
    const int period = periodTicks(args);
    const double seconds = secondsOption(args, "--seconds", 0);
    const bool fixedDevice = args.has("--device");
    const std::uint32_t base = deviceBaseOption(args);

    const auto start = Clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    CliMonitor cli(busSettings(args));
    Monitor& m = cli.monitor();
    if (fixedDevice) m.preselectBase(base);
    if (!cli.open()) return openFailed("log");

    // The device, and its mode from a first status message.
    int ticksSelected = 0;
    cli.run(seconds > 0 ? seconds : kDeviceWaitSeconds, [&] {
        if (!m.selected().selected) return false;
        return m.statusMessages() > 0 || ++ticksSelected > kStatusWaitTicks;
    });
    if (CliMonitor::interrupted()) return kExitOk;
    if (!m.selected().selected) {
        std::fprintf(stderr, "%s\n", kNoDeviceFound);
        return kExitFailure;
    }
    // No configuration download here: drive setpoints come from the fallback base.
    m.setFallbackDriverControlsBase(m.selected().base + 0x100);

    const std::string path = args.value("--output") ? withCsvExtension(*args.value("--output"))
                                                    : telemetryLogFileName(localNow());
    auto steadyMs = [&] { return elapsed() * 1000.0; };
    TelemetryLog log;
    if (const auto error = log.start(path, m.selected().type, m.values().activeMotor, steadyMs())) {
        std::fprintf(stderr, "%s\n", error->c_str());
        return kExitFailure;
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    std::optional<std::string> failure;
    int countdown = 1;
    const double remaining = seconds > 0 ? seconds - elapsed() : 0;
    if (seconds <= 0 || remaining > 0)
        cli.run(
            seconds > 0 ? remaining : 0, [&] { return failure.has_value(); },
            [&] {
                if (--countdown > 0) return;
                countdown = period;
                failure = log.writeRow(m.values(), localNow(), steadyMs());
            },
            [&] {
                if (!failure) failure = log.flushIfDue(steadyMs());
            });
    if (!failure) failure = log.stop();
    if (failure) {
        std::fprintf(stderr, "%s\n", failure->c_str());
        return kExitFailure;
    }
    return kExitOk;
}

QV_CLI_COMMAND(log, 26,
               "log [--interface ADDR] [--port N] [--device BASE] [--period 0.2|1|10] "
               "[--seconds S] [-o FILE]",
               runLog);

}  // namespace qv::cli
