#pragma once
// The configuration transfer behind the main window's worker: downloadConfig, uploadConfig and
// resetController on the application's own CAN port and store, for the device selected when
// the job started, with the "Processing Configuration" window's state.
//
// Threads: prepare() and finished() run on the GUI thread around every job; download, upload
// and reset run on the worker. prepare() takes the selected device and marks the store as
// worked on (the pages neither fill nor store) until finished(), which runs when the job's
// WM_TRANSFER_DONE arrives. Effects on the main window's state (the fallback driver-controls
// base) wait for finished() too, so the worker never writes GUI-thread state.
//
// The configuration last downloaded from each controller is kept (by base address and serial
// number): an upload lists against it what it changes, as the details of "Overwrite config?".
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "app/transfer_job.h"
#include "config/config_changes.h"
#include "config/config_progress.h"
#include "config/config_transfer.h"

namespace qv {

class CQVDrvCtrlsApp;

// What the service takes from the main window; every hook runs on the GUI thread.
struct TransferServiceHooks {
    // The selected device when a job starts; nothing while none is selected.
    std::function<std::optional<TransferTarget>()> selectedTarget;
    // The port's progress hook outside transfers (the WM_CAN_TRANSFER poster), when a job
    // starts: the transfer passes every chunk on to it and puts it back at its end.
    std::function<CBcan::ProgressHook()> portProgressHook;
    // A job replaced the public structure: the main window forgets its fallback base.
    std::function<void()> clearFallbackDriverControlsBase;
};

inline constexpr const char* kNoDeviceSelectedText = "No controller is selected.";

class ControllerTransferService final : public ConfigTransferService {
  public:
    ControllerTransferService(CBcan& port, CConfigDataBank& store, UserInteraction& ui,
                              TransferServiceHooks hooks);
    ~ControllerTransferService() override;
    ControllerTransferService(const ControllerTransferService&) = delete;
    ControllerTransferService& operator=(const ControllerTransferService&) = delete;

    // GUI thread.
    void prepare() override;
    void finished() override;
    // Worker thread.
    bool download(std::int32_t mask) override;
    bool upload() override;
    bool reset() override;
    TransferReport lastReport() const override;

    // The progress window's state.
    CConfigProg& progress() { return progress_; }
    // The progress window's Cancel (GUI thread).
    void pressCancel() { progress_.pressCancel(store_, port_); }
    // The configuration last downloaded from (or uploaded to) a controller, if any. Not while a
    // job runs.
    const ConfigSnapshot* lastDownload(std::uint32_t base, std::uint32_t serial) const;

  private:
    // What the worker gives the transfer: everything goes to the window's state, the chunks too
    // (as they are acknowledged, so the bar is in step with the stages; posted WM_CAN_TRANSFER
    // messages of the last chunks would arrive after the window was disabled).
    class WorkerProgress final : public TransferProgress {
      public:
        explicit WorkerProgress(CConfigProg& window) : window_(window) {}
        bool isEnabled() const override { return window_.isEnabled(); }
        void setCaption(const std::string& caption) override { window_.setCaption(caption); }
        void setRange(std::uint32_t total) override { window_.setRange(total); }
        void setPosition(std::uint32_t position) override { window_.setPosition(position); }
        void showAndEnable() override { window_.showAndEnable(); }
        void disableAndHide() override { window_.disableAndHide(); }
        void disableCancel() override { window_.disableCancel(); }
        void advance(std::uint32_t bytes) override { window_.advance(bytes); }

      private:
        CConfigProg& window_;
    };

    using DeviceKey = std::pair<std::uint32_t, std::uint32_t>;  // base, serial

    // The context of the job under way; false (with a message) when no device was selected.
    bool withContext(const char* caption, const std::function<bool(TransferContext&)>& run);
    void rememberDownload(const DeviceKey& key);

    CBcan& port_;
    CConfigDataBank& store_;
    UserInteraction& ui_;
    ReportingInteraction reporter_{ui_};  // what the transfers ask and tell goes through it
    TransferServiceHooks hooks_;
    CConfigProg progress_;
    WorkerProgress workerProgress_{progress_};

    // Taken by prepare(), read by the worker (the thread start orders them).
    std::optional<TransferTarget> target_;
    CBcan::ProgressHook portHook_;
    std::optional<TransferScope> scope_;
    std::atomic<bool> publicReplaced_{false};
    // The last upload was read back and matched (written by the worker before its end is
    // posted, read after).
    std::atomic<bool> uploadVerified_{false};
    // Written by the worker only; prepare() and the next job come after it.
    std::map<DeviceKey, ConfigSnapshot> downloads_;
};

// Installs the service into `app` (before app.start()), on the app's port and store, for the
// main window's selected device; returns it (owned by the app).
ControllerTransferService& installConfigTransferService(CQVDrvCtrlsApp& app, UserInteraction& ui);

}  // namespace qv
