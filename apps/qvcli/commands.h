#pragma once
// The qvcli commands. Each takes the arguments after its name and returns the exit code:
// 0 success, 1 failure (message on stderr), 2 usage error. A command registers itself in its own
// source file:
//
//     QV_CLI_COMMAND(dump, 50, "dump FILE.cfg | dump --defaults", runDump);
//
// The rank orders the usage list.
#include <string>
#include <vector>

namespace qv::cli {

using CommandArgs = std::vector<std::string>;
using CommandFunction = int (*)(const CommandArgs&);

struct Command {
    std::string name;
    int rank;
    std::string usage;  // after "qvcli "
    CommandFunction run;
};

// Every registered command, ordered by rank then name.
std::vector<Command> registeredCommands();

struct CommandRegistrar {
    CommandRegistrar(const char* name, int rank, const char* usage, CommandFunction run);
};

}  // namespace qv::cli

#define QV_CLI_COMMAND(name, rank, usage, function)                                  \
    static const ::qv::cli::CommandRegistrar qvCliCommand_##name{#name, rank, usage, \
                                                                  function}
