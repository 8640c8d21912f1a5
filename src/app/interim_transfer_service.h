#pragma once
// The configuration transfer (downloadConfig, uploadConfig, resetController) behind the main
// window's worker, until the Configuration window's own wiring with its progress window takes
// its place: no progress is shown, and the selected device is taken on the GUI thread when a
// job starts (prepare), so the worker never reads the main window's state.
#include <functional>

#include "app/transfer_job.h"
#include "config/config_progress.h"

namespace qv {

class CQVDrvCtrlsApp;

class InterimTransferService final : public ConfigTransferService {
  public:
    // Called on the GUI thread: the device the next job works on.
    using TargetSource = std::function<std::optional<TransferTarget>()>;

    // The port's progress hook outside transfers (the main window's WM_CAN_TRANSFER), which
    // each transfer passes the chunk counts on to and puts back at its end.
    using ProgressHook = std::function<void(std::uint16_t)>;

    InterimTransferService(CBcan& port, CConfigDataBank& store, UserInteraction& ui,
                           TargetSource target, ProgressHook portProgress = {});

    void prepare() override;
    bool download(std::int32_t mask) override;
    bool upload() override;
    bool reset() override;

  private:
    TransferContext context();

    CBcan& port_;
    CConfigDataBank& store_;
    UserInteraction& ui_;
    TargetSource source_;
    ProgressHook portProgress_;
    std::optional<TransferTarget> target_;
    CConfigProg progress_;
};

// Installs it into `app` before app.start(), with the app's port and store and the main
// window's selected device.
void installInterimTransferService(CQVDrvCtrlsApp& app, UserInteraction& ui);

}  // namespace qv
