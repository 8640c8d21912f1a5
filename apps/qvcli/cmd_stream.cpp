// Placeholder until the CAN port exists.
#include <cstdio>

#include "args.h"
#include "commands.h"

namespace qv::cli {

int runRead(const CommandArgs&) {
    std::fprintf(stderr, "qvcli read: not available in this build\n");
    return kExitFailure;
}

int runWrite(const CommandArgs&) {
    std::fprintf(stderr, "qvcli write: not available in this build\n");
    return kExitFailure;
}

}  // namespace qv::cli
