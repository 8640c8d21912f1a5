#pragma once
// An auto-reset event: set() wakes one waiter (or the next one to wait) and clears itself.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qv {

class AutoResetEvent {
public:
    void set() {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        cv_.notify_one();
    }
    void reset() {
        std::lock_guard lock(mutex_);
        signalled_ = false;
    }
    void wait() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return signalled_; });
        signalled_ = false;
    }
    // True when signalled within the time; the signal is consumed.
    bool waitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_for(lock, timeout, [this] { return signalled_; })) return false;
        signalled_ = false;
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

}  // namespace qv
