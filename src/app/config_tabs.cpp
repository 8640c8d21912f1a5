#include "app/config_tabs.h"

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "app/file_memory.h"
#include "app/main_dialog.h"
#include "app/qv_drv_ctrls_app.h"
#include "config/config_transfer.h"

namespace qv {

namespace {

using namespace config_window_id;

class ApplicationHost final : public ConfigTabsHost {
  public:
    explicit ApplicationHost(CQVDrvCtrlsApp& app) : app_(app) {}

    bool deviceSelected() const override {
        const CQVDrvCtrlsDlg* d = app_.dialog();
        return d && d->monitor().selected().selected;
    }
    std::int32_t deviceType() const override {
        const CQVDrvCtrlsDlg* d = app_.dialog();
        return d ? d->monitor().selected().type : 0;
    }
    bool startJob(const TransferJob& job) override {
        CQVDrvCtrlsDlg* d = app_.dialog();
        return d && d->startConfigurationJob(job);
    }
    std::string settingsPath() const override { return app_.settingsPath(); }
    ConfigFileHooks fileHooks() override {
        ConfigFileHooks hooks;
        hooks.clearFallbackDriverControlsBase = [this] {
            if (CQVDrvCtrlsDlg* d = app_.dialog()) d->monitor().setFallbackDriverControlsBase(-3);
        };
        hooks.setSelectedDeviceType = [this](std::uint16_t type) {
            if (CQVDrvCtrlsDlg* d = app_.dialog()) d->monitor().setSelectedDeviceType(type);
        };
        return hooks;
    }

  private:
    CQVDrvCtrlsApp& app_;
};

ConfigCommandResult refused(int page, const FieldCheck& check) {
    ConfigCommandResult r;
    r.keepFocus = true;
    r.page = page;
    r.record = check.record;
    r.focusId = check.focusId;
    return r;
}

FileDialogRequest configFileRequest(bool save) {
    FileDialogRequest request;
    request.save = save;
    request.filter = kConfigFilter;
    if (save) request.defaultExtension = "cfg";
    request.kind = FileKind::Configuration;
    return request;
}

}  // namespace

std::string configWindowTitle(const ConfigOrigin& origin, bool unsaved) {
    std::string title = CConfigTabs::kCaption;
    char text[160];
    switch (origin.kind) {
        case ConfigOrigin::Kind::Controller: {
            std::tm local{};
            const std::time_t time = origin.time;
            localtime_r(&time, &local);
            char when[32];
            std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
            std::snprintf(text, sizeof text, " - 0x%03X %s%s%07lu, downloaded %s",
                          static_cast<unsigned>(origin.base), origin.deviceName.c_str(),
                          origin.deviceName.empty() ? "" : " ",
                          static_cast<unsigned long>(origin.serial), when);
            title += text;
            break;
        }
        case ConfigOrigin::Kind::File:
            title += " - " + origin.fileName;
            break;
        case ConfigOrigin::Kind::None:
            break;
    }
    return unsaved ? title + " *" : title;
}

std::unique_ptr<ConfigTabsHost> applicationConfigTabsHost(CQVDrvCtrlsApp& app) {
    return std::make_unique<ApplicationHost>(app);
}

CConfigTabs::CConfigTabs(CConfigDataBank& store, UserInteraction& ui, ConfigTabsHost& host)
    : store_(store),
      ui_(ui),
      host_(host),
      general_(store, ui),
      calibration_(store, ui),
      motor_(store, ui) {}

bool CConfigTabs::refresh() {
    if (transferRunning(store_)) return false;
    const std::int32_t type = host_.deviceType();
    general_.fillPage(type);
    calibration_.fillPage(type);
    motor_.fillPage(type);
    filled_ = true;
    return true;
}

bool CConfigTabs::pendingEdits() const {
    if (!filled_ || transferRunning(store_)) return false;
    return general_.differsFromStore() || calibration_.differsFromStore() ||
           motor_.differsFromStore();
}

std::string CConfigTabs::title() {
    // While a transfer runs the worker owns the store.
    if (transferRunning(store_)) return title_;
    title_ = configWindowTitle(store_.origin, store_.unsavedChanges() || pendingEdits());
    return title_;
}

ConfigCommandResult CConfigTabs::writeBack() {
    // While a transfer runs nothing could be edited, and the worker owns the store.
    if (transferRunning(store_)) return {};
    if (const FieldCheck c = general_.storePage(); c.keepFocus) return refused(0, c);
    if (const FieldCheck c = calibration_.storePage(); c.keepFocus) return refused(1, c);
    if (const FieldCheck c = motor_.storePage(); c.keepFocus) return refused(2, c);
    return {};
}

bool CConfigTabs::transferBusy() {
    if (!transferRunning(store_)) return false;
    MessageBoxRequest r;
    r.text = kTransferBusyText;
    r.caption = kCaption;
    r.icon = MessageIcon::Warning;
    ui_.messageBox(r);
    return true;
}

ConfigCommandResult CConfigTabs::onCommand(int id) {
    switch (id) {
        case kLoadFromPc:
            return loadFromPc();
        case kSaveToPc:
            return saveToPc();
        case kExit:
        case kClose: {
            ConfigCommandResult r = writeBack();
            r.close = !r.keepFocus;
            return r;
        }
        case kRecentFile1:
        case kRecentFile1 + 1:
        case kRecentFile1 + 2:
        case kRecentFile1 + 3:
        case kRecentFile1 + 4:
            return loadRecentFile(static_cast<std::size_t>(id - kRecentFile1));
        case kLoadFromQv:
            if (transferItemsEnabled())
                host_.startJob(
                    {TransferDirection::Download, kDownloadMaskAll, kActionRefreshConfiguration});
            return {};
        case kSaveToQv: {
            if (!transferItemsEnabled() || transferBusy()) return {};
            // Nothing is written that the user does not see on the pages.
            ConfigCommandResult r = writeBack();
            if (!r.keepFocus)
                host_.startJob({TransferDirection::Upload, kDownloadMaskAll, kActionNone});
            return r;
        }
        default:
            return {};
    }
}

ConfigCommandResult CConfigTabs::loadFromPc() {
    if (transferBusy()) return {};
    const auto path = ui_.fileDialog(configFileRequest(false));
    if (!path) return {};
    return loadFile(*path);
}

ConfigCommandResult CConfigTabs::loadFile(const std::string& path) {
    // With a device selected its own calibration and identification stay.
    const bool whole = !host_.deviceSelected();
    ConfigCommandResult r;
    // A failed load changed nothing in the store: the pages keep what the user typed.
    if (loadConfigFile(store_, path, ui_, whole, whole, host_.fileHooks())) {
        addRecentFile(host_.settingsPath(), path);
        r.refreshed = refresh();
    }
    return r;
}

ConfigCommandResult CConfigTabs::loadRecentFile(std::size_t index) {
    if (transferBusy()) return {};
    const std::vector<std::string> files = recentFiles();
    if (index >= files.size()) return {};
    std::error_code error;
    if (!std::filesystem::exists(files[index], error)) {
        // Gone since: the loader says so, and the menu forgets it.
        removeRecentFile(host_.settingsPath(), files[index]);
    }
    return loadFile(files[index]);
}

ConfigCommandResult CConfigTabs::saveToPc() {
    if (transferBusy()) return {};
    FileDialogRequest request = configFileRequest(true);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    request.initialPath = proposedFileName(local);
    const auto path = ui_.fileDialog(request);
    if (!path) return {};
    // A file holds only what the pages accepted: a refused field stops the save.
    ConfigCommandResult r = writeBack();
    if (!r.keepFocus && saveConfigFile(store_, *path, ui_))
        addRecentFile(host_.settingsPath(), *path);
    return r;
}

std::vector<std::string> CConfigTabs::recentFiles() const {
    return qv::recentFiles(host_.settingsPath());
}

std::string CConfigTabs::proposedFileName(const std::tm& local) const {
    std::optional<std::uint32_t> base, serial;
    if (store_.isValid(StructureKind::Public)) base = store_.publicConfig.canBaseAddress;
    if (store_.isValid(StructureKind::Private)) serial = store_.privateConfig.serialNumber;
    return proposedConfigFileName(base, serial, local);
}

}  // namespace qv
