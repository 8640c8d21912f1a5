#include "ui/commissioning_windows.h"

namespace qv::ui {

ToolWindowServices applicationToolServices(CQVDrvCtrlsApp& app, UserInteraction& ui,
                                           MotorSelectorRunner chooseMotor) {
    ToolWindowServices s;
    s.port = &app.port();
    s.store = &app.store();
    s.ui = &ui;
    // The main window's logic exists once the windows are built; until then, and after it is
    // gone, there is no device and nothing to upload with.
    s.selectedBase = [&app]() -> std::optional<std::uint32_t> {
        const CQVDrvCtrlsDlg* d = app.dialog();
        if (!d) return std::nullopt;
        const SelectedDevice& device = d->monitor().selected();
        if (!device.selected || device.base < 0) return std::nullopt;
        return static_cast<std::uint32_t>(device.base);
    };
    s.transferRunning = [&app] {
        const CQVDrvCtrlsDlg* d = app.dialog();
        return d && d->transferRunning();
    };
    s.startUpload = [&app](int action) {
        if (CQVDrvCtrlsDlg* d = app.dialog()) d->startToolUpload(action);
    };
    s.chooseMotor = chooseMotor ? std::move(chooseMotor) : motorSelectorPending(ui);
    return s;
}

void installCommissioningTools(QtWindowFactory& factory, CQVDrvCtrlsApp& app, UserInteraction& ui,
                               MotorSelectorRunner chooseMotor) {
    const ToolWindowServices services = applicationToolServices(app, ui, std::move(chooseMotor));
    factory.setToolCreator(Tool::DuvodaRezir, [services](QWidget* owner) {
        return std::make_unique<CommissioningToolWindow>(new CDuvodaRezir(services, owner));
    });
    factory.setToolCreator(Tool::PmExtraction, [services](QWidget* owner) {
        return std::make_unique<CommissioningToolWindow>(new CParamExtract(services, owner));
    });
    factory.setToolCreator(Tool::ImExtraction, [services](QWidget* owner) {
        return std::make_unique<CommissioningToolWindow>(new CImExtract(services, owner));
    });
}

MotorSelectorRunner motorSelectorPending(UserInteraction& ui) {
    return [&ui](QWidget*, const CConfigDataBank&) {
        ui.messageBox({kMotorSelectorPendingText, "Motor Selector", MessageIcon::Warning,
                       MessageButtons::Ok, MessageAnswer::Ok});
        return -1;
    };
}

}  // namespace qv::ui
