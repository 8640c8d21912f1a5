#include "tools/im_fit_runner.h"

#include <exception>

namespace qv {

std::optional<ImFitResult> ImFitJob::result(std::string* error) const {
    if (!ready()) return std::nullopt;
    if (error) *error = error_;
    return result_;
}

void ImFitJob::run() {
    if (cancelled()) {
        publish(std::nullopt, "the fit was cancelled");
        return;
    }
    try {
        publish(runFit(input_, &cancel_));
    } catch (const std::exception& e) {
        publish(std::nullopt, e.what());
    }
}

void ImFitJob::publish(std::optional<ImFitResult> result, std::string error) {
    if (published_.exchange(true, std::memory_order_acq_rel)) return;
    result_ = std::move(result);
    error_ = result_ || !error.empty() ? std::move(error) : "the fit gave no result";
    ready_.store(true, std::memory_order_release);
}

std::shared_ptr<ImFitJob> InlineFitRunner::start(ImFitInput input) {
    auto job = std::make_shared<ImFitJob>(std::move(input));
    job->run();
    return job;
}

ThreadFitRunner::ThreadFitRunner(std::function<void()> finished)
    : finished_(std::move(finished)), worker_([this] { work(); }) {}

ThreadFitRunner::~ThreadFitRunner() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (auto& job : queue_) job->cancel();
        if (running_) running_->cancel();
    }
    wake_.notify_all();
    worker_.join();
}

std::shared_ptr<ImFitJob> ThreadFitRunner::start(ImFitInput input) {
    auto job = std::make_shared<ImFitJob>(std::move(input));
    {
        std::lock_guard lock(mutex_);
        if (stopping_) job->cancel();
        queue_.push_back(job);
    }
    wake_.notify_one();
    return job;
}

void ThreadFitRunner::work() {
    for (;;) {
        std::shared_ptr<ImFitJob> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;  // stopping, nothing left
            job = std::move(queue_.front());
            queue_.pop_front();
            running_ = job;
        }
        job->run();
        // Under the lock, so that no call begins once the destructor has started.
        std::lock_guard lock(mutex_);
        running_.reset();
        if (!job->cancelled() && !stopping_ && finished_) finished_();
    }
}

}  // namespace qv
