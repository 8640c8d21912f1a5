#pragma once
// The qvcli commands. Each takes the arguments after its name and returns the exit code:
// 0 success, 1 failure (message on stderr), 2 usage error.
#include <string>
#include <vector>

namespace qv::cli {

using CommandArgs = std::vector<std::string>;

int runMonitor(const CommandArgs& args);
int runSend(const CommandArgs& args);
int runRead(const CommandArgs& args);
int runWrite(const CommandArgs& args);
int runDump(const CommandArgs& args);

}  // namespace qv::cli
