// Placeholder until the bridge client exists.
#include <cstdio>

#include "args.h"
#include "commands.h"

namespace qv::cli {

int runMonitor(const CommandArgs&) {
    std::fprintf(stderr, "qvcli monitor: not available in this build\n");
    return kExitFailure;
}

int runSend(const CommandArgs&) {
    std::fprintf(stderr, "qvcli send: not available in this build\n");
    return kExitFailure;
}

}  // namespace qv::cli
