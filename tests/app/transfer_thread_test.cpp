#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "app/transfer_job.h"
#include "app_rig.h"

namespace qv {
namespace {

class CountingService : public ConfigTransferService {
  public:
    bool download(std::int32_t mask) override {
        lastMask = mask;
        ++downloads;
        return ok;
    }
    bool upload() override {
        ++uploads;
        return ok;
    }
    bool reset() override {
        ++resets;
        return ok;
    }
    std::atomic<int> downloads{0}, uploads{0}, resets{0};
    std::atomic<std::int32_t> lastMask{0};
    std::atomic<bool> ok{true};
};

// The receiver of WM_TRANSFER_DONE (another thread, as the GUI thread is) may start the next
// job as soon as the result arrives: the thread no longer counts as busy by then.
TEST(TransferThread, PostsItsResultAndCanBeRestartedAtOnce) {
    CountingService service;
    service.ok = false;
    TransferThread thread;
    test::QueuedPoster poster;
    for (std::int32_t i = 0; i < 50; ++i) {
        ASSERT_TRUE(thread.start({TransferDirection::Download, kDownloadAll, i}, service, poster))
            << i;
        test::QueuedPoster::Done done{};
        ASSERT_TRUE(poster.waitDone(done));
        EXPECT_EQ(done.action, i);
        EXPECT_TRUE(done.failed);
    }
    thread.join();
    EXPECT_EQ(service.downloads, 50);
}

TEST(TransferThread, OneAtATimeAndStopWakesAWaitingTask) {
    TransferThread thread;
    std::atomic<bool> woke{false};
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(thread.startTask([&] { woke = !thread.sleepFor(60000); }));
    EXPECT_TRUE(thread.busy());
    EXPECT_FALSE(thread.startTask([] {}));
    thread.stop();
    thread.join();
    EXPECT_TRUE(woke);
    EXPECT_FALSE(thread.busy());
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
    // After a stop the next task sleeps normally again.
    std::atomic<bool> slept{false};
    ASSERT_TRUE(thread.startTask([&] { slept = thread.sleepFor(1); }));
    thread.join();
    EXPECT_TRUE(slept);
}

}  // namespace
}  // namespace qv
