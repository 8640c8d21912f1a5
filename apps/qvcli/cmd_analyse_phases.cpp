// qvcli analyse-phases: runs the phase and hall allocation analysis on a saved acquisition.
#include <cstdio>
#include <string>

#include "args.h"
#include "commands.h"

#include "tools/acquisition_csv.h"
#include "tools/phase_analysis.h"

namespace qv::cli {

namespace {

std::string withoutCarriageReturns(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

}  // namespace

int runAnalysePhases(const CommandArgs& args) {
    const Args a(args, {}, {});
    if (a.positional().size() != 1) throw UsageError("expected one FILE");
    const std::string& path = a.positional()[0];
    const auto parsed = loadPhaseCsv(path);
    if (!parsed.value) {
        std::fprintf(stderr, "qvcli analyse-phases: %s\n", parsed.error.c_str());
        return kExitFailure;
    }
    const PhaseReport report = analysePhases(*parsed.value);
    if (!report.verdict) {
        // The voltage analysis failed: its text is the error.
        std::fputs(withoutCarriageReturns(report.text).c_str(), stderr);
        std::puts("FAILED");
        return kExitFailure;
    }
    std::fputs(withoutCarriageReturns(report.text).c_str(), stdout);
    std::puts(report.verdict->c_str());
    for (const std::string& line : report.list) std::puts(line.c_str());
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "qvcli analyse-phases: could not write the result\n");
        return kExitFailure;
    }
    return report.success() ? kExitOk : kExitFailure;
}

// Registered as QV_CLI_COMMAND does, under a name with a hyphen (which the macro cannot spell).
static const CommandRegistrar analysePhasesCommand{"analyse-phases", 60, "analyse-phases FILE",
                                                   runAnalysePhases};

}  // namespace qv::cli
