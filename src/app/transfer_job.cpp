#include "app/transfer_job.h"

#include <chrono>
#include <memory>

namespace qv {

bool runTransferJob(const TransferJob& job, ConfigTransferService& service) {
    switch (job.direction) {
        case TransferDirection::Download:
            return service.download(job.mask);
        case TransferDirection::Upload:
            return service.upload();
        case TransferDirection::Reset:
            return service.reset();
    }
    return false;
}

TransferThread::~TransferThread() {
    stop();
    join();
}

bool TransferThread::start(const TransferJob& job, ConfigTransferService& service,
                           MainWindowPoster& poster) {
    auto ok = std::make_shared<bool>(false);
    return launch([job, &service, ok] { *ok = runTransferJob(job, service); },
                  [job, &poster, ok] { poster.postTransferDone(job.action, !*ok); });
}

bool TransferThread::startTask(std::function<void()> task) {
    return launch(std::move(task), {});
}

bool TransferThread::launch(std::function<void()> work, std::function<void()> report) {
    if (busy_) return false;
    join();
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    busy_ = true;
    thread_ = std::thread([this, work = std::move(work), report = std::move(report)] {
        work();
        busy_ = false;
        if (report) report();
    });
    return true;
}

void TransferThread::join() {
    if (thread_.joinable()) thread_.join();
}

bool TransferThread::sleepFor(int ms) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void TransferThread::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
}

}  // namespace qv
