#include "ui/config_install.h"

#include "app/config_transfer_service.h"
#include "app/qv_drv_ctrls_app.h"
#include "ui/config_window.h"
#include "ui/progress_window.h"
#include "ui/qt_user_interaction.h"
#include "ui/qt_windows.h"

namespace qv::ui {

void installConfigurationWindows(QtWindowFactory& factory, CQVDrvCtrlsApp& app, UserInteraction& ui,
                                 ControllerTransferService& transfer, QtUserInteraction* boxes) {
    factory.setToolCreator(Tool::Configuration, [&app, &ui](QWidget* owner) {
        return std::make_unique<ConfigToolWindow>(
            new ConfigWindow(app.store(), ui, applicationConfigTabsHost(app), owner));
    });
    factory.setToolCreator(Tool::TransferProgress, [boxes, &transfer](QWidget* owner) {
        auto* window = new ProgressWindow(
            transfer.progress(), [&transfer] { transfer.pressCancel(); }, owner);
        if (boxes) boxes->setWorkerOwner(window);
        return std::make_unique<ProgressToolWindow>(window, transfer.progress());
    });
}

}  // namespace qv::ui
