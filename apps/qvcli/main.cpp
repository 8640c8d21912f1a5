// qvcli: the headless command line of qvconfig.
#include <cstdio>
#include <string>

#include "args.h"
#include "commands.h"

namespace {

void printUsage(std::FILE* to) {
    std::fprintf(to, "usage: qvcli COMMAND [OPTIONS]\ncommands:\n");
    for (const qv::cli::Command& c : qv::cli::registeredCommands())
        std::fprintf(to, "  qvcli %s\n", c.usage.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        printUsage(stderr);
        return qv::cli::kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printUsage(stdout);
        return qv::cli::kExitOk;
    }
    for (const qv::cli::Command& c : qv::cli::registeredCommands()) {
        if (name != c.name) continue;
        try {
            return c.run(qv::cli::CommandArgs(argv + 2, argv + argc));
        } catch (const qv::cli::UsageError& e) {
            std::fprintf(stderr, "qvcli %s: %s\nusage: qvcli %s\n", c.name.c_str(), e.what(),
                         c.usage.c_str());
            return qv::cli::kExitUsage;
        }
    }
    std::fprintf(stderr, "qvcli: unknown command '%s'\n", name.c_str());
    printUsage(stderr);
    return qv::cli::kExitUsage;
}
