// qvcli: the headless command line of qvconfig.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "args.h"
#include "commands.h"

namespace {

struct Command {
    const char* name;
    int (*run)(const qv::cli::CommandArgs&);
    const char* usage;
};

const Command kCommands[] = {
    {"monitor", qv::cli::runMonitor,
     "monitor [--interface ADDR] [--port N] [--seconds S] [--count N] [--status]"},
    {"send", qv::cli::runSend, "send [--interface ADDR] [--port N] ID#DATA"},
    {"read", qv::cli::runRead,
     "read --device BASE --object 0xNNNN [--length N] [--chunked] [--interface ADDR] [--port N]"},
    {"write", qv::cli::runWrite,
     "write --device BASE --object 0xNNNN --hex BYTES [--interface ADDR] [--port N]"},
    {"dump", qv::cli::runDump, "dump FILE.cfg | dump --defaults"},
};

void printUsage(std::FILE* to) {
    std::fprintf(to, "usage: qvcli COMMAND [OPTIONS]\ncommands:\n");
    for (const Command& c : kCommands) std::fprintf(to, "  qvcli %s\n", c.usage);
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
    for (const Command& c : kCommands) {
        if (name != c.name) continue;
        try {
            return c.run(qv::cli::CommandArgs(argv + 2, argv + argc));
        } catch (const qv::cli::UsageError& e) {
            std::fprintf(stderr, "qvcli %s: %s\nusage: qvcli %s\n", c.name, e.what(), c.usage);
            return qv::cli::kExitUsage;
        }
    }
    std::fprintf(stderr, "qvcli: unknown command '%s'\n", name.c_str());
    printUsage(stderr);
    return qv::cli::kExitUsage;
}
