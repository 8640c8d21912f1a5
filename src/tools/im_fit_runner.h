#pragma once
// Runs the induction-motor fit away from the user-interface thread. The fit takes tens of
// milliseconds (far longer for a large acquisition or a loaded machine), so the window starts it
// here and collects the result on its own thread once the job is ready; a job nobody wants any
// more is cancelled and its result dropped.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "tools/im_inputs.h"

namespace qv {

// One fit, shared by the thread that runs it and the one that waits for it.
class ImFitJob {
  public:
    explicit ImFitJob(ImFitInput input) : input_(std::move(input)) {}

    // The result can be taken.
    bool ready() const { return ready_.load(std::memory_order_acquire); }
    // The result, once ready (nothing before that); a fit that threw gives its message in
    // `error` and no result.
    std::optional<ImFitResult> result(std::string* error = nullptr) const;

    // The result is not wanted: a fit under way stops at its next look at the flag.
    void cancel() { cancel_.store(true, std::memory_order_relaxed); }
    bool cancelled() const { return cancel_.load(std::memory_order_relaxed); }

    const ImFitInput& input() const { return input_; }
    // Runs the fit on the calling thread (unless cancelled) and publishes its result.
    void run();
    // Makes `result` (or, when there is none, `error`) the job's outcome; only the first call
    // counts. For runners that obtain the result another way.
    void publish(std::optional<ImFitResult> result, std::string error = {});

  private:
    const ImFitInput input_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> ready_{false};
    std::atomic<bool> published_{false};
    // Written once by publish() before ready_ is set, read only after it is.
    std::optional<ImFitResult> result_;
    std::string error_;
};

class ImFitRunner {
  public:
    virtual ~ImFitRunner() = default;
    // Starts a fit of `input`. The job stays valid for as long as the caller holds it, whatever
    // happens to the runner.
    virtual std::shared_ptr<ImFitJob> start(ImFitInput input) = 0;
};

// Runs the fit inside start(): the job is ready when start() returns. For tests and tools that
// have no user interface to keep alive.
class InlineFitRunner : public ImFitRunner {
  public:
    std::shared_ptr<ImFitJob> start(ImFitInput input) override;
};

// One worker thread that runs the fits in the order started. `finished` (optional) is called on
// the worker thread after each fit that was not cancelled, so that a window can post itself a
// note to collect the result; it must return quickly and not call back into the runner, and it
// is never called once the runner's destruction has begun. Destroying the runner cancels what
// is queued or running and waits for the worker to stop.
class ThreadFitRunner : public ImFitRunner {
  public:
    explicit ThreadFitRunner(std::function<void()> finished = {});
    ~ThreadFitRunner() override;
    ThreadFitRunner(const ThreadFitRunner&) = delete;
    ThreadFitRunner& operator=(const ThreadFitRunner&) = delete;

    std::shared_ptr<ImFitJob> start(ImFitInput input) override;

  private:
    void work();

    std::function<void()> finished_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<ImFitJob>> queue_;
    std::shared_ptr<ImFitJob> running_;
    bool stopping_ = false;
    std::thread worker_;  // last: started once everything above exists
};

}  // namespace qv
