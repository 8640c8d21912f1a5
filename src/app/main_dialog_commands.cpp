// The main window's menu commands.
#include "app/main_dialog.h"

#include "app/file_memory.h"
#include "common/user_interaction.h"
#include "config/config_data_bank.h"
#include "config/config_file.h"
#include "link/can_port.h"

namespace qv {

namespace {

// Items that are never greyed by the logic (the others are ignored while greyed).
bool alwaysEnabled(int id) {
    return id == kCmdConfiguration || id == kCmdExit || id == kCmdReconnect || id == kCmdAbout;
}

}  // namespace

MessageBoxRequest resetControllerQuestion(const std::string& device) {
    MessageBoxRequest r;
    r.text = "Reset the controller " + device +
             "?\r\n\r\nIt restarts at once and stops driving the motor, even while it turns.";
    r.caption = "Reset Controller";
    r.icon = MessageIcon::Question;
    r.buttons = MessageButtons::YesNo;
    r.defaultAnswer = MessageAnswer::No;
    return r;
}

void CQVDrvCtrlsDlg::onCommand(int id, bool shift) {
    if (shutDown_) return;
    if (!alwaysEnabled(id)) {
        try {
            if (!menus_.item(id).enabled) return;
        } catch (const std::out_of_range&) {
            return;
        }
    }
    switch (id) {
        case kCmdReconnect:
            reconnect();
            break;
        case kCmdLoadFactoryFile:
            loadFactoryFile(shift);
            break;
        case kCmdExit:
            if (confirmQuit()) onCancel();
            return;
        case kCmdControls:
            openToolNeedingConfig(Tool::Controls, kDownloadMaskPublic, kActionOpenControls);
            break;
        case kCmdConfiguration:
            openConfiguration(shift);
            break;
        case kCmdDuvodaRezir:
            openToolNeedingConfig(Tool::DuvodaRezir, kDownloadMaskAll, kActionOpenDuvodaRezir);
            break;
        case kCmdParamExtract:
            openToolNeedingConfig(Tool::PmExtraction, kDownloadMaskAll, kActionOpenPmExtraction);
            break;
        case kCmdImExtract:
            openToolNeedingConfig(Tool::ImExtraction, kDownloadMaskAll, kActionOpenImExtraction);
            break;
        case kCmdTelemetry:
            openTelemetry();
            break;
        case kCmdResetController:
            resetController();
            break;
        case kCmdPlotTelemetry:
        case kCmdBusMonitor:
            // Beside the tools like the Telemetry window, but no other command closes them.
            for (const auto& [command, window] : tickWindows_) {
                if (command != id) continue;
                window->show();
                window->setEnabled(true);
                window->raise();
                window->onTick();
            }
            break;
        case kCmdLogStartStop:
            toggleLog(shift);
            break;
        case kCmdUpdate02s:
        case kCmdUpdate1s:
        case kCmdUpdate10s:
            setLogPeriod(id);
            break;
        default:  // About is the window's own; the ELog items stay greyed
            break;
    }
    monitor_.setControlsVisible(controlsVisible());
    syncView();
}

bool CQVDrvCtrlsDlg::toolReady(Tool tool) {
    if (parts_.tools[tool].available()) return true;
    message(toolUnavailableText(tool), toolCaption(tool));
    return false;
}

bool CQVDrvCtrlsDlg::transferReady() {
    if (parts_.transfer.available()) return true;
    message(kTransferUnavailableText);
    return false;
}

// ---- File ----

bool CQVDrvCtrlsDlg::confirmQuit() {
    // While a transfer runs the worker owns the store; its end reports itself.
    if (shutDown_ || worker_.busy()) return true;
    if (!parts_.store.unsavedChanges() && !parts_.tools[Tool::Configuration].hasUnsavedEdits())
        return true;
    MessageBoxRequest r;
    r.text =
        "The configuration holds changes that were neither written to a controller nor saved "
        "to a file.\r\n\r\nQuit and lose them?";
    r.caption = kAppCaption;
    r.icon = MessageIcon::Warning;
    r.buttons = MessageButtons::YesNo;
    r.defaultAnswer = MessageAnswer::No;
    return parts_.ui.messageBox(r) == MessageAnswer::Yes;
}

ConfigFileHooks CQVDrvCtrlsDlg::fileLoadHooks() {
    ConfigFileHooks hooks;
    hooks.clearFallbackDriverControlsBase = [this] { monitor_.setFallbackDriverControlsBase(-3); };
    hooks.setSelectedDeviceType = [this](std::uint16_t type) {
        monitor_.setSelectedDeviceType(type);
    };
    return hooks;
}

void CQVDrvCtrlsDlg::reconnect() {
    // The tool windows belong to the device of the old connection; the drive stops before the
    // port closes.
    parts_.drive.stop();
    hideAllTools();
    if (parts_.port.isOpen()) parts_.port.close();
    parts_.timer.stop();
    parts_.store.deviceChanged();
    enableToolMenus(false);
    applyDeviceResult(monitor_.reconnect());
    if (openPort())
        parts_.timer.start(kTickMs);
    else
        message(kNoCanPortText);
}

void CQVDrvCtrlsDlg::loadFactoryFile(bool shift) {
    if (shift ? !toolReady(Tool::Configuration) : !transferReady()) return;
    if (shift) {
        hideAllTools();
        parts_.tools[Tool::Configuration].selectPage(1);
        parts_.tools[Tool::Configuration].refresh();
    }
    FileDialogRequest request;
    request.filter = kConfigFilter;
    request.kind = FileKind::Configuration;
    const auto path = parts_.ui.fileDialog(request);
    if (!path) return;
    const ConfigFileHooks hooks = fileLoadHooks();
    if (!loadConfigFile(parts_.store, *path, parts_.ui, true, false, hooks)) return;
    addRecentFile(parts_.settingsPath, *path);
    if (!shift) {
        // An open Configuration window shows the file now, not what the store held before
        // (a write back of its old pages would put that back over the file).
        if (parts_.tools[Tool::Configuration].isVisible())
            parts_.tools[Tool::Configuration].refresh();
        startTransfer({TransferDirection::Upload, kDownloadMaskAll, kActionNone});
        return;
    }
    openWindow(Tool::Configuration, false);
    parts_.tools[Tool::Configuration].refresh();
}

// ---- Tools ----

void CQVDrvCtrlsDlg::openToolNeedingConfig(Tool tool, std::int32_t mask, std::int32_t action) {
    if (!toolReady(tool)) return;
    job_ = {TransferDirection::Download, mask, action};
    const bool held =
        tool == Tool::Controls ? parts_.store.isValid(StructureKind::Public) : allStructuresValid();
    if (held) {
        onTransferDone(action, false);
        return;
    }
    if (transferReady()) startTransfer(job_);
}

void CQVDrvCtrlsDlg::openConfiguration(bool shift) {
    if (!toolReady(Tool::Configuration)) return;
    job_ = {TransferDirection::Download, kDownloadMaskAll, kActionOpenConfiguration};
    if (shift) applyDeviceResult(monitor_.turnOffAutoSelect(true));
    if (monitor_.selected().selected) {
        if (allStructuresValid())
            onTransferDone(kActionOpenConfiguration, false);
        else if (transferReady())
            startTransfer(job_);
        return;
    }
    applyDeviceResult(monitor_.turnOffAutoSelect(false));
    FileDialogRequest request;
    request.filter = kConfigFilter;
    request.kind = FileKind::Configuration;
    const auto path = parts_.ui.fileDialog(request);
    if (!path) return;
    const ConfigFileHooks hooks = fileLoadHooks();
    if (!loadConfigFile(parts_.store, *path, parts_.ui, true, true, hooks)) return;
    addRecentFile(parts_.settingsPath, *path);
    // The pages show the file just loaded even when the window was open already.
    openWindow(Tool::Configuration, false);
    parts_.tools[Tool::Configuration].refresh();
}

void CQVDrvCtrlsDlg::openTelemetry() {
    ToolWindow& w = parts_.tools[Tool::Telemetry];
    if (w.isEnabled()) return;
    w.show();
    w.setEnabled(true);
    showTelemetryWindowState(true);
}

void CQVDrvCtrlsDlg::onTelemetryCancel() {
    ToolWindow& w = parts_.tools[Tool::Telemetry];
    w.setEnabled(false);
    w.hide();
    showTelemetryWindowState(false);
}

bool CQVDrvCtrlsDlg::startConfigurationJob(const TransferJob& job) {
    if (shutDown_ || !transferReady()) return false;
    return startTransfer(job);
}

bool CQVDrvCtrlsDlg::startToolUpload(std::int32_t action) {
    if (shutDown_ || !transferReady()) return false;
    return startTransfer({TransferDirection::Upload, kDownloadAll, action});
}

void CQVDrvCtrlsDlg::resetController() {
    if (!transferReady()) return;
    // Nothing reaches the controller unless the user says Yes to this very device. (Without a
    // selected device the transfer itself says that there is none.)
    if (const auto device = monitor_.devices().selectedEntry()) {
        if (parts_.ui.messageBox(resetControllerQuestion(deviceDescription(*device))) !=
            MessageAnswer::Yes)
            return;
        // The device may have gone, or another been chosen, while the question waited.
        const auto now = monitor_.devices().selectedEntry();
        if (shutDown_ || !now || now->baseAddress != device->baseAddress ||
            now->serialNumber != device->serialNumber)
            return;
    }
    startTransfer({TransferDirection::Reset, 0, kActionNone});
}

// ---- Log ----

void CQVDrvCtrlsDlg::toggleLog(bool shift) {
    if (log_.logging())
        stopLog();
    else
        startLog(shift);
}

void CQVDrvCtrlsDlg::startLog(bool shift) {
    std::string path = parts_.logDirectory.empty() ? std::string() : parts_.logDirectory + "/";
    path += telemetryLogFileName(parts_.clock.localTime());
    if (shift) {
        FileDialogRequest request;
        request.save = true;
        request.filter = kCsvFilter;
        request.defaultExtension = "csv";
        request.initialPath = path;
        request.kind = FileKind::Log;
        const auto chosen = parts_.ui.fileDialog(request);
        if (!chosen) return;
        path = withCsvExtension(*chosen);
    }
    const SelectedDevice& device = monitor_.selected();
    if (auto failure =
            log_.start(path, device.type, monitor_.values().activeMotor, parts_.clock.nowMs())) {
        message(*failure);
        return;
    }
    menus_.setLogging(true, device.selected);
    // Drive setpoints on the bus are captured only with a known driver-controls base.
    job_ = {TransferDirection::Download, kDownloadMaskPublic, kActionLogStart};
    if (parts_.store.isValid(StructureKind::Public)) return;
    if (!parts_.transfer.available() || worker_.busy() || !startTransfer(job_))
        onTransferDone(kActionLogStart, true);
}

void CQVDrvCtrlsDlg::stopLog() {
    const auto failure = log_.stop();
    menus_.setLogging(false, monitor_.selected().selected);
    if (failure) message(*failure);
}

void CQVDrvCtrlsDlg::setLogPeriod(int id) {
    logPeriodTicks_ = logPeriodTicksOf(id);
    menus_.checkLogPeriod(id);
}

}  // namespace qv
