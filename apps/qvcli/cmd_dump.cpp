// Placeholder until the configuration store exists.
#include <cstdio>

#include "args.h"
#include "commands.h"

namespace qv::cli {

int runDump(const CommandArgs&) {
    std::fprintf(stderr, "qvcli dump: not available in this build\n");
    return kExitFailure;
}

}  // namespace qv::cli
