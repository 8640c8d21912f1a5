#include "commands.h"

#include <algorithm>

namespace qv::cli {

namespace {

// Built on first use, so registrars in other files may run in any order.
std::vector<Command>& registry() {
    static std::vector<Command> commands;
    return commands;
}

}  // namespace

CommandRegistrar::CommandRegistrar(const char* name, int rank, const char* usage,
                                   CommandFunction run) {
    registry().push_back({name, rank, usage, run});
}

std::vector<Command> registeredCommands() {
    std::vector<Command> list = registry();
    std::sort(list.begin(), list.end(), [](const Command& a, const Command& b) {
        return a.rank != b.rank ? a.rank < b.rank : a.name < b.name;
    });
    return list;
}

}  // namespace qv::cli
