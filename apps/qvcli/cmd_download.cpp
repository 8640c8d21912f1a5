// qvcli download: backs up controllers to ".cfg" files. One controller to FILE, or with --all
// every controller on the bus to DIR/BASE_SERIAL.cfg; one result line per controller. A file is
// written only from a complete download, and only whole (an existing file stays as it was
// otherwise).
#include <cstdio>
#include <filesystem>

#include "bus_options.h"
#include "commands.h"
#include "config/config_file.h"
#include "config_session.h"
#include "terminal_ui.h"

namespace qv::cli {

namespace {

bool allValid(const CConfigDataBank& store) {
    return store.isValid(StructureKind::Public) && store.isValid(StructureKind::Private) &&
           store.isValid(StructureKind::Motor);
}

// Downloads one device into `path`; prints its result line. True on success.
bool downloadTo(ConfigSession& session, const FoundDevice& device, const std::string& path) {
    TerminalInteraction ui("download", true);
    // Each controller is a selection of its own: nothing held from the previous one counts.
    session.store().deviceChanged();
    TransferContext context = session.context(device, ui);
    const bool ok = downloadConfig(context, kDownloadMaskAll) && allValid(session.store());
    if (!ok) {
        const std::string why = ui.lastText().empty() ? "cancelled" : ui.lastText();
        std::printf("%s failed: %s\n", deviceText(device).c_str(),
                    why.substr(0, why.find('\n')).c_str());
        return false;
    }
    rememberDownload(session.store(), device.base, device.serial);
    TerminalInteraction fileUi("download", true);
    if (!saveConfigFile(session.store(), path, fileUi)) {
        std::printf("%s failed: %s\n", deviceText(device).c_str(), fileUi.lastText().c_str());
        return false;
    }
    std::printf("%s ok %s\n", deviceText(device).c_str(), path.c_str());
    return true;
}

}  // namespace

int runDownload(const CommandArgs& argv) {
    std::set<std::string> valued = kBusOptions;
    valued.insert({"--device", "--output"});
    const Args args(withLongOptions(argv), valued, {"--all"});
    if (!args.positional().empty()) throw UsageError("unexpected argument " + args.positional()[0]);
    const auto output = args.value("--output");
    if (!output) throw UsageError("-o FILE.cfg (or -o DIR with --all) is required");
    const bool all = args.has("--all");
    if (all && args.has("--device")) throw UsageError("--all and --device exclude each other");
    std::error_code ec;
    if (all && !std::filesystem::is_directory(*output, ec)) {
        std::fprintf(stderr, "qvcli download: %s is not a folder\n", output->c_str());
        return kExitFailure;
    }
    if (!all && std::filesystem::is_directory(*output, ec))
        throw UsageError(*output + " is a folder; give a file name, or use --all");

    ConfigSession session(busSettings(args), "download");
    const auto devices = session.find({deviceOption(args), all});
    if (!devices) return kExitFailure;
    bool ok = true;
    for (const FoundDevice& d : *devices) {
        std::string path = *output;
        if (all) {
            // Two controllers on one base address would both answer the same transfer.
            const auto sameBase =
                std::count_if(devices->begin(), devices->end(),
                              [&](const FoundDevice& o) { return o.base == d.base; });
            if (sameBase > 1) {
                std::printf("%s failed: another device shares this base address\n",
                            deviceText(d).c_str());
                ok = false;
                continue;
            }
            path = (std::filesystem::path(*output) /
                    (baseText(d.base) + "_" + std::to_string(d.serial) + ".cfg"))
                       .string();
        }
        ok = downloadTo(session, d, path) && ok;
    }
    std::fflush(stdout);
    return ok ? kExitOk : kExitFailure;
}

QV_CLI_COMMAND(download, 60,
               "download [--device BASE] -o FILE.cfg | download --all -o DIR [--interface ADDR] "
               "[--port N]",
               runDownload);

}  // namespace qv::cli
