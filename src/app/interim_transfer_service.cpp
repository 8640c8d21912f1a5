#include "app/interim_transfer_service.h"

#include "app/qv_drv_ctrls_app.h"

namespace qv {

InterimTransferService::InterimTransferService(CBcan& port, CConfigDataBank& store,
                                               UserInteraction& ui, TargetSource target,
                                               ProgressHook portProgress)
    : port_(port),
      store_(store),
      ui_(ui),
      source_(std::move(target)),
      portProgress_(std::move(portProgress)) {}

void InterimTransferService::prepare() {
    target_ = source_ ? source_() : std::nullopt;
}

TransferContext InterimTransferService::context() {
    TransferContext c(port_, store_, *target_, ui_, progress_);
    c.portProgressHook = portProgress_;
    return c;
}

// Without a selected device there is nothing to talk to: the job fails.
bool InterimTransferService::download(std::int32_t mask) {
    if (!target_) return false;
    TransferContext c = context();
    return downloadConfig(c, mask);
}

bool InterimTransferService::upload() {
    if (!target_) return false;
    TransferContext c = context();
    return uploadConfig(c);
}

bool InterimTransferService::reset() {
    if (!target_) return false;
    TransferContext c = context();
    return resetController(c);
}

void installInterimTransferService(CQVDrvCtrlsApp& app, UserInteraction& ui) {
    app.setTransferService(std::make_unique<InterimTransferService>(
        app.port(), app.store(), ui,
        [&app]() -> std::optional<TransferTarget> {
            const CQVDrvCtrlsDlg* dialog = app.dialog();
            if (!dialog) return std::nullopt;
            const SelectedDevice& device = dialog->monitor().selected();
            if (!device.selected || device.base < 0) return std::nullopt;
            TransferTarget t;
            t.base = static_cast<std::uint32_t>(device.base);
            t.serial = device.serial;
            t.bridgeAddress = device.bridgeAddress;
            t.configError = (static_cast<std::uint32_t>(dialog->monitor().values().errorFlags) &
                             kConfigErrorFlag) != 0;
            return t;
        },
        [&app](std::uint16_t bytes) {
            if (MainWindowSide* main = app.mainWindow()) main->postCanTransfer(bytes);
        }));
}

}  // namespace qv
