// The qvsim program itself: exit codes, the ready line, standard input and signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "link/net/socket.h"
#include "support/ports.h"

namespace {

using Clock = std::chrono::steady_clock;

// qvsim as a child process with its three standard streams on pipes.
class Sim {
  public:
    explicit Sim(const std::vector<std::string>& args) {
        int in[2], out[2], err[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
            ::pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            std::vector<char*> argv{const_cast<char*>(QV_SIM_PATH)};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(QV_SIM_PATH, argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        stderr_ = err[0];
    }
    ~Sim() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        closeStdin();
        ::close(stdout_);
        ::close(stderr_);
    }

    void write(const std::string& text) {
        ASSERT_EQ(::write(stdin_, text.data(), text.size()), static_cast<long>(text.size()));
    }
    void closeStdin() {
        if (stdin_ >= 0) ::close(stdin_);
        stdin_ = -1;
    }
    // Reads stdout until it holds `text` or `timeoutMs` passes.
    bool waitForOutput(const std::string& text, int timeoutMs) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out_.find(text) == std::string::npos && Clock::now() < end) drain(5);
        return out_.find(text) != std::string::npos;
    }
    // Waits for the exit; the exit code, or -1 on a time-out or a signal.
    int wait(int timeoutMs) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (Clock::now() < end) {
            drain(5);
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                drain(0);
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
        }
        return -1;
    }
    void signal(int sig) { ::kill(pid_, sig); }
    const std::string& out() const { return out_; }
    const std::string& err() {
        drain(0);
        return err_;
    }

  private:
    void drain(int timeoutMs) {
        pollfd fds[2] = {{stdout_, POLLIN, 0}, {stderr_, POLLIN, 0}};
        if (::poll(fds, 2, timeoutMs) <= 0) return;
        char buffer[4096];
        for (int i = 0; i < 2; ++i)
            if (fds[i].revents & POLLIN) {
                const long got = ::read(fds[i].fd, buffer, sizeof buffer);
                if (got > 0) (i == 0 ? out_ : err_).append(buffer, static_cast<size_t>(got));
            }
    }

    pid_t pid_ = -1;
    bool exited_ = false;
    int stdin_ = -1, stdout_ = -1, stderr_ = -1;
    std::string out_, err_;
};

std::string portArg() {
    return std::to_string(qv::test::freePort());
}

TEST(SimApp, UsageErrorsExitWithTwoAndSayWhy) {
    {
        Sim sim({"--loss", "150"});
        EXPECT_EQ(sim.wait(5000), 2);
        EXPECT_NE(sim.err().find("--loss"), std::string::npos);
        EXPECT_EQ(sim.out(), "");
    }
    {
        Sim sim({"--interface", "10.1.2.3", "--port", portArg()});
        EXPECT_EQ(sim.wait(5000), 2);
        EXPECT_NE(sim.err().find("--allow-lan"), std::string::npos);
    }
    {
        Sim sim({"--help"});
        EXPECT_EQ(sim.wait(5000), 0);
        EXPECT_NE(sim.out().find("--device"), std::string::npos);
    }
}

TEST(SimApp, ReadyLineThenRunsItsSecondsEvenWithoutInput) {
    const auto t0 = Clock::now();
    Sim sim({"--port", portArg(), "--seconds", "0.6"});
    sim.closeStdin();  // end of input must not stop it
    ASSERT_TRUE(sim.waitForOutput("qvsim ready\n", 5000));
    EXPECT_EQ(sim.wait(5000), 0);
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(550));
    EXPECT_EQ(sim.out(), "qvsim ready\n");
    EXPECT_EQ(sim.err(), "");
}

TEST(SimApp, StandardInputCommandsAndSignalsStopItCleanly) {
    {
        Sim sim({"--port", portArg()});
        ASSERT_TRUE(sim.waitForOutput("qvsim ready\n", 5000));
        sim.write("mute 0x400\nunmute 0x400\nmute 0x420\n");
        sim.write("qu");  // a line may come in pieces
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(sim.wait(1), -1);  // still running
        sim.write("it\n");
        EXPECT_EQ(sim.wait(10000), 0);
        EXPECT_NE(sim.err().find("no device at base 0x420"), std::string::npos);
        EXPECT_EQ(sim.out(), "qvsim ready\n");
    }
    for (int sig : {SIGTERM, SIGINT}) {
        Sim sim({"--port", portArg()});
        ASSERT_TRUE(sim.waitForOutput("qvsim ready\n", 5000));
        sim.signal(sig);
        EXPECT_EQ(sim.wait(10000), 0) << sig << sim.err();
    }
}

TEST(SimApp, APortInUseIsAFailureNotAHang) {
    const std::uint16_t port = qv::test::freePort();
    auto taken = qv::net::TcpListener::listen(qv::net::kLoopback, port);
    ASSERT_TRUE(taken);
    Sim sim({"--port", std::to_string(port), "--seconds", "5"});
    EXPECT_EQ(sim.wait(3000), 1);
    EXPECT_NE(sim.err().find("TCP"), std::string::npos);
    EXPECT_EQ(sim.out(), "");
}

}  // namespace
