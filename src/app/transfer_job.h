#pragma once
// Configuration transfers run off the GUI thread: the job the main window fills, the service
// that moves the configuration, the worker thread that runs one job at a time, and the
// WM_TRANSFER_DONE message that carries the result back to the main window.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "app/transfer_report.h"
#include "config/config_transfer.h"

namespace qv {

class UserInteraction;

// Window messages of the main window.
inline constexpr int WM_TRANSFER_DONE = 0x8010;  // wParam action code, lParam failed
inline constexpr int WM_CAN_TRANSFER = 0x8011;   // wParam bytes moved

// What the main window does when the transfer ends (WM_TRANSFER_DONE's wParam).
enum TransferAction : std::int32_t {
    kActionNone = 0,  // after uploads
    kActionOpenControls = 1,
    kActionOpenConfiguration = 2,
    kActionRefreshConfiguration = 3,  // the Configuration window's "Load from QV"
    kActionSelectImTool = 4,          // after the upload of IM extraction
    kActionOpenImExtraction = 5,
    kActionSelectPmTool = 6,  // after the upload of PM extraction
    kActionOpenPmExtraction = 7,
    kActionSelectDuvodaRezir = 8,  // after the upload of DuvodaRezir
    kActionOpenDuvodaRezir = 9,
    kActionLogStart = 10,
};
inline constexpr std::int32_t kLastTransferAction = kActionLogStart;

// Download masks are the configuration transfer's own (kDownloadMaskPublic...); the main
// window's callers know these two by their short names.
inline constexpr std::int32_t kDownloadPublic = kDownloadMaskPublic;
inline constexpr std::int32_t kDownloadAll = kDownloadMaskAll;

enum class TransferDirection : std::uint8_t {
    Upload = 0,    // to the controller
    Download = 1,  // from the controller
    Reset = 2,     // restart the controller (Tools > Reset Controller)
};

struct TransferJob {
    TransferDirection direction = TransferDirection::Download;
    std::int32_t mask = kDownloadMaskAll;
    std::int32_t action = kActionNone;
};

// Moves the configuration between the store and the selected controller. download and upload
// run on the worker thread and report their own failures to the user; true on success.
class ConfigTransferService {
  public:
    virtual ~ConfigTransferService() = default;
    // False while this build has no configuration transfer: the main window then says so and
    // starts nothing.
    virtual bool available() const { return true; }
    // On the GUI thread, just before the worker starts a job (none is running): takes what the
    // job needs from the main window's state, such as the selected device.
    virtual void prepare() {}
    // On the GUI thread, when the job's WM_TRANSFER_DONE arrives, before its action runs.
    virtual void finished() {}
    // How the job just finished ended, for the status bar: the box that told why it failed.
    // On the GUI thread, after the job's WM_TRANSFER_DONE arrived.
    virtual TransferReport lastReport() const { return {}; }
    virtual bool download(std::int32_t mask) = 0;
    virtual bool upload() = 0;
    virtual bool reset() = 0;
};

// The stand-in until the configuration transfer is built: nothing is available.
class UnavailableTransferService final : public ConfigTransferService {
  public:
    bool available() const override { return false; }
    bool download(std::int32_t) override { return false; }
    bool upload() override { return false; }
    bool reset() override { return false; }
};

// Delivers the main window's messages to its thread as posted events (the handler never runs
// on the calling thread). WM_TRANSFER_DONE comes from the worker, WM_CAN_TRANSFER from the CAN
// port's receive thread.
class MainWindowPoster {
  public:
    virtual ~MainWindowPoster() = default;
    virtual void postTransferDone(std::int32_t action, bool failed) = 0;
    virtual void postCanTransfer(int bytes) = 0;
};

// Runs one job with the service: true when it succeeded.
bool runTransferJob(const TransferJob& job, ConfigTransferService& service);

// transferThread: the one worker thread of configuration transfers. It runs a job and posts
// WM_TRANSFER_DONE with the job's action code and failed = the job did not succeed. At most
// one runs at a time; the thread is joined before the next starts and when the object goes
// (the CAN port must be closed first so that a transfer still waiting ends).
class TransferThread {
  public:
    TransferThread() = default;
    ~TransferThread();
    TransferThread(const TransferThread&) = delete;
    TransferThread& operator=(const TransferThread&) = delete;

    // False (nothing started) while the previous job runs.
    bool start(const TransferJob& job, ConfigTransferService& service, MainWindowPoster& poster);
    // Other work for the worker (the tool selection after a tool's upload).
    bool startTask(std::function<void()> task);
    // True from start until the job's result is posted.
    bool busy() const { return busy_; }
    void join();
    // For a task that waits: sleeps up to `ms`; false when stop() was called.
    bool sleepFor(int ms);
    // Makes sleepFor return false at once (shutdown).
    void stop();

  private:
    // `report` runs after busy() turned false, so its receiver can start the next job.
    bool launch(std::function<void()> work, std::function<void()> report);

    std::thread thread_;
    std::atomic<bool> busy_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

}  // namespace qv
