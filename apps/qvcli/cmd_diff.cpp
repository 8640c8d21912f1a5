// qvcli diff: the fields in which two ".cfg" files differ, one line each: record, field, the
// value in A, the value in B. Exit 0 when they are equal, 1 when not, 2 when a file cannot be
// read (as a usage error: nothing was compared).
#include <cstdio>

#include "args.h"
#include "commands.h"
#include "config/config_changes.h"
#include "config/config_file.h"
#include "config_session.h"

namespace qv::cli {

int runDiff(const CommandArgs& argv) {
    const Args args(argv, {}, {});
    if (args.positional().size() != 2) throw UsageError("expected A.cfg B.cfg");
    CConfigDataBank a, b;
    // Fields an older file does not carry show their defaults in both.
    a.resetToDefaults();
    b.resetToDefaults();
    QuietInteraction ui("diff");
    if (!loadConfigFile(a, args.positional()[0], ui, true, true) ||
        !loadConfigFile(b, args.positional()[1], ui, true, true))
        return kExitUsage;
    const std::string lines = formatDiffLines(diffConfigs(a, b));
    std::fputs(lines.c_str(), stdout);
    std::fflush(stdout);
    return lines.empty() ? kExitOk : kExitFailure;
}

QV_CLI_COMMAND(diff, 55, "diff A.cfg B.cfg", runDiff);

}  // namespace qv::cli
