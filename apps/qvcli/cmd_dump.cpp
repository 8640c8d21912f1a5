// qvcli dump: lists every field of a ".cfg" file, or of the defaults, one line each.
#include <cstdio>
#include <string>

#include "args.h"
#include "commands.h"

#include "config/config_dump.h"
#include "config/config_file.h"

namespace qv::cli {

namespace {

// Messages go to stderr; an upgrade question is answered Yes so older files still list (the
// listing says "file.olderVersion = yes").
class StderrInteraction : public UserInteraction {
  public:
    MessageAnswer messageBox(const MessageBoxRequest& request) override {
        std::string text;
        for (char c : request.text)
            if (c != '\r') text += c;
        const bool question = request.buttons == MessageButtons::YesNo ||
                              request.buttons == MessageButtons::YesNoCancel;
        std::fprintf(stderr, "qvcli dump: %s: %s%s\n", request.caption.c_str(), text.c_str(),
                     question ? " [answered Yes]" : "");
        if (question) return MessageAnswer::Yes;
        return request.buttons == MessageButtons::OkCancel ? MessageAnswer::Cancel
                                                           : MessageAnswer::Ok;
    }
    std::optional<std::string> fileDialog(const FileDialogRequest&) override {
        return std::nullopt;
    }
};

}  // namespace

int runDump(const CommandArgs& args) {
    const Args a(args, {}, {"--defaults"});
    CConfigDataBank store;
    // Fields an older file does not carry show their defaults, marked "(not in file)".
    store.resetToDefaults();
    ConfigFileInfo header;
    if (a.has("--defaults")) {
        if (!a.positional().empty()) throw UsageError("--defaults takes no file");
        const auto bytes = buildConfigFile(store);
        StderrInteraction quiet;
        if (!loadConfigData(store, bytes, quiet, true, true, {}, &header)) return kExitFailure;
    } else {
        if (a.positional().size() != 1) throw UsageError("expected one FILE.cfg");
        StderrInteraction ui;
        if (!loadConfigFile(store, a.positional()[0], ui, true, true, {}, &header))
            return kExitFailure;
    }
    const std::string listing = dumpConfig(store, header);
    if (std::fwrite(listing.data(), 1, listing.size(), stdout) != listing.size() ||
        std::fflush(stdout) != 0) {
        std::fprintf(stderr, "qvcli dump: could not write the listing\n");
        return kExitFailure;
    }
    return kExitOk;
}

QV_CLI_COMMAND(dump, 50, "dump FILE.cfg | dump --defaults", runDump);

}  // namespace qv::cli
