// The program under a real window manager (Xvfb with openbox): the frame's corner that is saved
// at exit is the corner the next start restores, so windows stay where the user left them, and
// the default place keeps the title bar on the screen. Qt's offscreen platform has no frames.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/window_positions.h"
#include "link/platform/settings_store.h"
#include "support/ports.h"
#include "support/process.h"

extern char** environ;

#ifdef QV_CONFIG_PATH

namespace qv {
namespace {

namespace fs = std::filesystem;

bool onPath(const char* program) {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"})
        if (::access((std::string(dir) + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

// A child process, ended (and waited for) when this goes.
class Child {
  public:
    Child(std::vector<std::string> args, posix_spawn_file_actions_t* actions = nullptr) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawnp(&pid_, argv[0], actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    }
    ~Child() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

  private:
    pid_t pid_ = -1;
};

// Xvfb on a free display with openbox running on it.
class WindowManagedDisplay {
  public:
    WindowManagedDisplay() {
        char folder[] = "/tmp/qv_wm_XXXXXX";
        dir_ = ::mkdtemp(folder);
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        xvfb_ = std::make_unique<Child>(
            std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                     "1280x1024x24", "-nolisten", "tcp", "-noreset"},
            &actions);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        // The display's number and a line end, written in two pieces once the server is
        // ready; the pipe stays open until both came (a closed pipe ends the server).
        std::string number;
        for (char c = 0;;) {
            const ssize_t n = ::read(fds[0], &c, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0 || c == '\n') break;
            number += c;
        }
        ::close(fds[0]);
        if (number.empty()) return;
        display_ = ":" + number;
        ::setenv("DISPLAY", display_.c_str(), 1);
        const std::string ready = dir_ + "/openbox-ready";
        wm_ = std::make_unique<Child>(
            std::vector<std::string>{"openbox", "--startup", "touch " + ready});
        for (int i = 0; i < 1500 && !fs::exists(ready); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        managed_ = fs::exists(ready);
    }
    ~WindowManagedDisplay() {
        wm_.reset();
        xvfb_.reset();
        fs::remove_all(dir_);
    }

    bool managed() const { return managed_; }
    const std::string& dir() const { return dir_; }

  private:
    std::string dir_;
    std::string display_;
    std::unique_ptr<Child> xvfb_, wm_;
    bool managed_ = false;
};

ScreenPoint savedMainPosition(const std::string& settings) {
    const SettingsStore s(settings);
    const auto x = s.value(kWindowPositionsKey, "MainDlg(X)");
    const auto y = s.value(kWindowPositionsKey, "MainDlg(Y)");
    if (!x || !y) return {-1, -1};
    return {static_cast<int>(static_cast<std::int32_t>(std::stoul(*x))),
            static_cast<int>(static_cast<std::int32_t>(std::stoul(*y)))};
}

TEST(WindowPlacesUnderAWindowManager, TheSavedCornerIsTheRestoredCorner) {
    if (!onPath("Xvfb") || !onPath("openbox")) GTEST_SKIP() << "needs Xvfb and openbox";
    WindowManagedDisplay display;
    ASSERT_TRUE(display.managed());
    const std::string settings = display.dir() + "/settings.ini";
    ::setenv("QV_SETTINGS_FILE", settings.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    const std::string port = std::to_string(test::freePort());
    const auto run = [&port] {
        const auto r = test::runProcess(
            QV_CONFIG_PATH, {"--interface", "127.0.0.1", "--port", port, "--quit-after", "1"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
    };
    // From the default place: the frame at (10, 10), the title bar on the screen.
    run();
    EXPECT_EQ(savedMainPosition(settings), (ScreenPoint{10, 10}));
    // From a kept place, twice: it does not move.
    SettingsStore s(settings);
    s.setValue(kWindowPositionsKey, "MainDlg(X)", "300");
    s.setValue(kWindowPositionsKey, "MainDlg(Y)", "200");
    ASSERT_TRUE(s.save());
    run();
    EXPECT_EQ(savedMainPosition(settings), (ScreenPoint{300, 200}));
    run();
    EXPECT_EQ(savedMainPosition(settings), (ScreenPoint{300, 200}));
}

}  // namespace
}  // namespace qv

#endif
