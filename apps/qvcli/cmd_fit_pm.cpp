// qvcli fit-pm: runs the permanent-magnet resistance and inductance fits on a saved acquisition.
#include <cstdio>
#include <string>

#include "args.h"
#include "commands.h"

#include "tools/acquisition_csv.h"
#include "tools/pm_analysis.h"

namespace qv::cli {

int runFitPm(const CommandArgs& args) {
    const Args a(args, {}, {});
    if (a.positional().size() != 1) throw UsageError("expected one FILE");
    const std::string& path = a.positional()[0];
    const auto parsed = loadPmCsv(path);
    if (!parsed.value) {
        std::fprintf(stderr, "qvcli fit-pm: %s\n", parsed.error.c_str());
        return kExitFailure;
    }
    const PmReport report = analysePm(*parsed.value);
    std::string out;
    for (char c : report.log)
        if (c != '\r') out += c;
    out += report.resistanceText + "\n" + report.inductanceText + "\n";
    if (std::fputs(out.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "qvcli fit-pm: could not write the result\n");
        return kExitFailure;
    }
    if (!report.usable) {
        std::fprintf(stderr, "qvcli fit-pm: %s\n", report.problem.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

// Registered as QV_CLI_COMMAND does, under a name with a hyphen (which the macro cannot spell).
static const CommandRegistrar fitPmCommand{"fit-pm", 61, "fit-pm FILE", runFitPm};

}  // namespace qv::cli
