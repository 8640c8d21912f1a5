#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace qv::test {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> argvOf(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// Forks `program` with pipes for stdin, stdout and stderr.
pid_t spawn(const std::string& program, const std::vector<std::string>& args, int& in, int& out,
            int& err) {
    int pin[2], pout[2], perr[2];
    if (::pipe2(pin, O_CLOEXEC) != 0 || ::pipe2(pout, O_CLOEXEC) != 0 ||
        ::pipe2(perr, O_CLOEXEC) != 0)
        return -1;
    // A child that exits early must not kill the test through its closed stdin.
    ::signal(SIGPIPE, SIG_IGN);
    auto argv = argvOf(program, args);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pin[0], 0);
        ::dup2(pout[1], 1);
        ::dup2(perr[1], 2);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pin[0]);
    ::close(pout[1]);
    ::close(perr[1]);
    in = pin[1];
    out = pout[0];
    err = perr[0];
    return pid;
}

int waitExit(pid_t pid, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (Clock::now() >= end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         int timeoutMs, const std::string& input) {
    ProcessResult result;
    int in = -1, out = -1, err = -1;
    const pid_t pid = spawn(program, args, in, out, err);
    if (pid < 0) return result;
    if (!input.empty()) [[maybe_unused]]
        auto n = ::write(in, input.data(), input.size());
    ::close(in);
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    int open = 2;
    char buffer[4096];
    while (open > 0 && Clock::now() < end) {
        if (::poll(fds, 2, 50) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) ::close(f.fd);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    result.exitCode = waitExit(pid, static_cast<int>(std::max<long>(left.count(), 0)));
    return result;
}

BackgroundProcess::BackgroundProcess(const std::string& program,
                                     const std::vector<std::string>& args,
                                     const std::string& readyLine, int timeoutMs) {
    int err = -1;
    pid_ = spawn(program, args, stdinFd_, stdoutFd_, err);
    if (pid_ < 0) return;
    ::close(err);
    if (readyLine.empty()) {
        ready_ = true;
        return;
    }
    std::string seen;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[256];
    while (Clock::now() < end && seen.find(readyLine) == std::string::npos) {
        pollfd p{stdoutFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = ::read(stdoutFd_, buffer, sizeof buffer);
        if (n <= 0) break;
        seen.append(buffer, static_cast<std::size_t>(n));
    }
    ready_ = seen.find(readyLine) != std::string::npos;
}

BackgroundProcess::~BackgroundProcess() {
    stop();
}

void BackgroundProcess::sendLine(const std::string& line) {
    if (stdinFd_ < 0) return;
    const std::string text = line + "\n";
    [[maybe_unused]] auto n = ::write(stdinFd_, text.data(), text.size());
}

int BackgroundProcess::stop(int timeoutMs) {
    if (pid_ < 0) return -1;
    ::kill(pid_, SIGTERM);
    const int code = waitExit(pid_, timeoutMs);
    pid_ = -1;
    if (stdinFd_ >= 0) ::close(stdinFd_);
    if (stdoutFd_ >= 0) ::close(stdoutFd_);
    stdinFd_ = stdoutFd_ = -1;
    return code;
}

}  // namespace qv::test
