#include "app/qv_drv_ctrls_app.h"

namespace qv {

CQVDrvCtrlsApp::CQVDrvCtrlsApp(AppSettings settings, UserInteraction& ui, WindowFactory& windows)
    : settings_(std::move(settings)),
      ui_(ui),
      windows_(windows),
      port_(settings_.clientFactory ? settings_.clientFactory
                                    : CBcan::ClientFactory([bridge = settings_.bridge] {
                                          return std::make_unique<CanUdpClient>(bridge);
                                      })),
      transfer_(std::make_unique<UnavailableTransferService>()),
      drive_(std::make_unique<DriveHooks>()) {}

CQVDrvCtrlsApp::~CQVDrvCtrlsApp() {
    finish();
}

void CQVDrvCtrlsApp::setTransferService(std::unique_ptr<ConfigTransferService> service) {
    if (service) transfer_ = std::move(service);
}

void CQVDrvCtrlsApp::setDriveHooks(std::unique_ptr<DriveHooks> hooks) {
    if (hooks) drive_ = std::move(hooks);
}

void CQVDrvCtrlsApp::start() {
    if (main_) return;
    main_ = windows_.createMainWindow();
    for (std::size_t i = 0; i < kToolCount; ++i) {
        tools_[i] = windows_.createTool(static_cast<Tool>(i), *main_);
        tools_[i]->hide();
        tools_[i]->setEnabled(false);
    }
    ToolWindowSet set;
    for (std::size_t i = 0; i < kToolCount; ++i) set.windows[i] = tools_[i].get();
    dialog_ = std::make_unique<CQVDrvCtrlsDlg>(
        MainDialogParts{port_, store_, ui_, *main_, *main_, set, *main_, *transfer_, *main_,
                        *drive_, clock_, settings_.settingsPath, settings_.logDirectory});
    main_->attach(dialog_.get());
    dialog_->setBridgeSettings(settings_.bridge);
    dialog_->initDialog(main_->workArea());
}

int CQVDrvCtrlsApp::run() {
    start();
    main_->runModal();
    finish();
    return 0;
}

void CQVDrvCtrlsApp::finish() {
    if (!main_) return;
    constexpr std::array<Tool, kToolCount> kDestroyOrder = {
        Tool::DuvodaRezir,  Tool::Configuration, Tool::Controls,        Tool::PmExtraction,
        Tool::ImExtraction, Tool::Telemetry,     Tool::TransferProgress};
    // The logic goes first so that nothing reaches a destroyed window; it closes the port if a
    // transfer still runs and joins the worker.
    main_->attach(nullptr);
    dialog_.reset();
    for (const Tool t : kDestroyOrder) tools_[static_cast<std::size_t>(t)].reset();
    main_.reset();
    port_.close();
}

}  // namespace qv
