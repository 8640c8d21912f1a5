#pragma once
// Runs the project's programs from tests: one command to completion with its output captured,
// or a long-running one (the simulator) that is stopped when the handle goes away.
#include <sys/types.h>
#include <string>
#include <vector>

namespace qv::test {

struct ProcessResult {
    int exitCode = -1;  // -1 when killed at the time limit or by a signal
    std::string out;
    std::string err;
};

// Runs `program` with `args`, waits at most `timeoutMs` (then kills it), feeds `input` on stdin.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         int timeoutMs = 20000, const std::string& input = "");

class BackgroundProcess {
  public:
    // Starts `program`; when `readyLine` is given, waits (at most `timeoutMs`) until the program
    // prints that line on stdout.
    BackgroundProcess(const std::string& program, const std::vector<std::string>& args,
                      const std::string& readyLine = "", int timeoutMs = 10000);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    bool ready() const { return ready_; }
    // Writes one line to the program's stdin.
    void sendLine(const std::string& line);
    // Sends SIGTERM and waits; returns the exit code (-1 when killed).
    int stop(int timeoutMs = 5000);

  private:
    pid_t pid_ = -1;
    int stdinFd_ = -1;
    int stdoutFd_ = -1;
    bool ready_ = false;
};

}  // namespace qv::test
