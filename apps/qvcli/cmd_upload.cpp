// qvcli upload: writes a ".cfg" file to a controller with every question of the program asked
// on the terminal (--yes answers Yes or OK to all of them). Before "Overwrite config?" it lists
// what changes against the configuration last downloaded from that controller, when there is
// one. Once the controller is back from its restart the structures written are read back and
// compared ("ok" only when they match; --no-verify skips it). qvcli reset restarts a controller.
#include <cstdio>

#include "bus_options.h"
#include "commands.h"
#include "config/config_file.h"
#include "config/config_verify.h"
#include "config/transfer_messages.h"
#include "config_session.h"
#include "terminal_ui.h"

namespace qv::cli {

namespace {

// The structures the upload wrote.
std::string writtenStructures(const WrittenStreams& written) {
    std::string out;
    const std::pair<StructureKind, const char*> kinds[] = {{StructureKind::Public, "public"},
                                                           {StructureKind::Private, "private"},
                                                           {StructureKind::Motor, "motor"}};
    for (const auto& [kind, name] : kinds)
        if (written.has(kind)) {
            out += out.empty() ? "" : " ";
            out += name;
        }
    return out;
}

}  // namespace

int runUpload(const CommandArgs& argv) {
    std::set<std::string> valued = kBusOptions;
    valued.insert("--device");
    const Args args(argv, valued, {"--yes", "--no-verify"});
    if (args.positional().size() != 1) throw UsageError("expected one FILE.cfg");
    const std::string path = args.positional()[0];
    const bool yes = args.has("--yes");

    ConfigSession session(busSettings(args), "upload");
    TerminalInteraction ui("upload", yes);
    // Fields an older file does not carry keep the defaults, never zeros.
    CConfigDataBank& store = session.store();
    store.resetToDefaults();
    if (!loadConfigFile(store, path, ui, true, false)) return kExitFailure;

    const auto devices = session.find({deviceOption(args), false});
    if (!devices) return kExitFailure;
    const FoundDevice& device = devices->front();
    const auto previous = lastDownload(device.base, device.serial);
    TransferContext context = session.context(device, ui);
    context.lastDownload = previous ? &*previous : nullptr;
    UploadOutcome outcome;
    if (!uploadAndVerify(context, !args.has("--no-verify"), &outcome)) {
        const std::string last = ui.lastText().substr(0, ui.lastText().find('\n'));
        if (outcome.uploaded && outcome.verification) {
            // The controller holds what was read back: the next upload lists against that.
            placeReadBack(store, *outcome.verification);
            rememberDownload(store, device.base, device.serial);
        }
        if (ui.declined())
            std::printf("%s not uploaded: declined \"%s\"\n", deviceText(device).c_str(),
                        last.c_str());
        else
            std::printf("%s failed: %s\n", deviceText(device).c_str(),
                        last.empty() ? "cancelled" : last.c_str());
        return kExitFailure;
    }
    // The controller holds this configuration now.
    rememberDownload(store, device.base, device.serial);
    std::printf("%s ok %s\n", deviceText(device).c_str(),
                writtenStructures(outcome.written).c_str());
    return kExitOk;
}

int runReset(const CommandArgs& argv) {
    std::set<std::string> valued = kBusOptions;
    valued.insert("--device");
    const Args args(argv, valued, {});
    if (!args.positional().empty()) throw UsageError("unexpected argument " + args.positional()[0]);
    ConfigSession session(busSettings(args), "reset");
    const auto devices = session.find({deviceOption(args), false});
    if (!devices) return kExitFailure;
    TerminalInteraction ui("reset", true);
    TransferContext context = session.context(devices->front(), ui);
    if (!resetController(context)) {
        std::printf("%s failed: %s\n", deviceText(devices->front()).c_str(), ui.lastText().c_str());
        return kExitFailure;
    }
    std::printf("%s ok reset\n", deviceText(devices->front()).c_str());
    return kExitOk;
}

QV_CLI_COMMAND(upload, 70,
               "upload FILE.cfg [--device BASE] [--yes] [--no-verify] [--interface ADDR] "
               "[--port N]",
               runUpload);
QV_CLI_COMMAND(reset, 80, "reset [--device BASE] [--interface ADDR] [--port N]", runReset);

}  // namespace qv::cli
