#pragma once
// An event that stays signalled until exactly one waiter consumes it: set() wakes one waiter
// (or the next one to come), and a successful wait resets it.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qv {

class AutoResetEvent {
  public:
    AutoResetEvent() = default;
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

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

    // Consumes the signal when it is set; never blocks.
    bool tryWait() {
        std::lock_guard lock(mutex_);
        const bool was = signalled_;
        signalled_ = false;
        return was;
    }

    // Waits up to `timeout` for the signal and consumes it; false on time-out.
    bool waitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_for(lock, timeout, [this] { return signalled_; })) return false;
        signalled_ = false;
        return true;
    }

    void wait() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return signalled_; });
        signalled_ = false;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

}  // namespace qv
