#pragma once
// A named pipe in its own temporary folder, for tests that the program refuses one instead of
// waiting for its other end. Should the code under test open it all the same and block, a
// watchdog opens both ends after a second, so the test goes on and fails instead of hanging.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <future>
#include <string>

namespace qv::test {

class Fifo {
  public:
    explicit Fifo(const std::string& name = "pipe.csv") {
        char folder[] = "/tmp/qv_fifo_XXXXXX";
        folder_ = ::mkdtemp(folder);
        path_ = folder_ + "/" + name;
        ::mkfifo(path_.c_str(), 0600);
        ::signal(SIGPIPE, SIG_IGN);  // an unblocked writer must not end the test
    }
    ~Fifo() { std::filesystem::remove_all(folder_); }
    Fifo(const Fifo&) = delete;
    Fifo& operator=(const Fifo&) = delete;

    const std::string& path() const { return path_; }
    const std::string& folder() const { return folder_; }
    bool stillAPipe() const {
        struct stat st {};
        return ::lstat(path_.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    }

    // Runs `work`; true when it returned within a second without the watchdog's help.
    template <typename Work>
    bool returnsAtOnce(Work work) {
        std::promise<void> finished;
        auto done = finished.get_future();
        std::atomic<bool> unblocked{false};
        auto watchdog = std::async(std::launch::async, [&] {
            if (done.wait_for(std::chrono::seconds(1)) == std::future_status::ready) return;
            unblocked = true;
            while (done.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
                const int fd = ::open(path_.c_str(), O_RDWR | O_NONBLOCK);
                if (fd >= 0) ::close(fd);
            }
        });
        work();
        finished.set_value();
        watchdog.wait();
        return !unblocked;
    }

  private:
    std::string folder_;
    std::string path_;
};

}  // namespace qv::test
