#include "app/config_transfer_service.h"

#include <array>
#include <memory>

#include "app/qv_drv_ctrls_app.h"
#include "config/config_verify.h"
#include "config/transfer_messages.h"

namespace qv {

namespace {

constexpr std::array<StructureKind, 3> kKinds = {StructureKind::Public, StructureKind::Private,
                                                 StructureKind::Motor};

// Takes over the structures that `from` holds intact (and, with any of them, the
// identification block read before them).
void mergeIntact(ConfigSnapshot& into, const ConfigSnapshot& from) {
    bool any = false;
    for (StructureKind kind : kKinds) {
        if (!from.isValid(kind)) continue;
        any = true;
        into.valid[static_cast<std::size_t>(kind)] = true;
        switch (kind) {
            case StructureKind::Public:
                into.publicConfig = from.publicConfig;
                break;
            case StructureKind::Private:
                into.privateConfig = from.privateConfig;
                break;
            case StructureKind::Motor:
                into.motor = from.motor;
                break;
        }
    }
    if (any) into.readOnly = from.readOnly;
}

}  // namespace

ControllerTransferService::ControllerTransferService(CBcan& port, CConfigDataBank& store,
                                                     UserInteraction& ui,
                                                     TransferServiceHooks hooks)
    : port_(port), store_(store), ui_(ui), hooks_(std::move(hooks)) {}

ControllerTransferService::~ControllerTransferService() = default;

void ControllerTransferService::prepare() {
    target_ = hooks_.selectedTarget ? hooks_.selectedTarget() : std::nullopt;
    portHook_ = hooks_.portProgressHook ? hooks_.portProgressHook() : CBcan::ProgressHook{};
    reporter_.clear();
    uploadVerified_ = false;
    // From now until the job's end is handled no page slips in between.
    scope_.reset();
    scope_.emplace(store_);
}

void ControllerTransferService::finished() {
    scope_.reset();
    if (publicReplaced_.exchange(false) && hooks_.clearFallbackDriverControlsBase)
        hooks_.clearFallbackDriverControlsBase();
}

bool ControllerTransferService::withContext(const char* caption,
                                            const std::function<bool(TransferContext&)>& run) {
    if (!target_) {
        reporter_.messageBox(transferError(kNoDeviceSelectedText, caption));
        return false;
    }
    TransferContext context(port_, store_, *target_, reporter_, workerProgress_);
    context.portProgressHook = portHook_;
    context.clearFallbackDriverControlsBase = [this] { publicReplaced_ = true; };
    const auto known = downloads_.find({target_->base, target_->serial});
    context.lastDownload = known != downloads_.end() ? &known->second : nullptr;
    return run(context);
}

void ControllerTransferService::rememberDownload(const DeviceKey& key) {
    mergeIntact(downloads_[key], takeSnapshot(store_));
}

bool ControllerTransferService::download(std::int32_t mask) {
    return withContext("Download", [&](TransferContext& c) {
        const bool ok = downloadConfig(c, mask);
        // What arrived intact is what the controller holds, even when a later stage failed.
        rememberDownload({c.target.base, c.target.serial});
        return ok;
    });
}

bool ControllerTransferService::upload() {
    return withContext("Upload", [&](TransferContext& c) {
        UploadOutcome outcome;
        uploadAndVerify(c, true, &outcome);
        if (!outcome.uploaded) return false;
        // The controller now holds what was written, or what the verification read back. The
        // structures written only because a question asked for them count too: they were
        // read back as well.
        ConfigSnapshot written = takeSnapshot(store_);
        if (outcome.verification) {
            auto holds = std::make_unique<CConfigDataBank>();
            copySnapshotRecords(written, *holds);
            placeReadBack(*holds, *outcome.verification);
            written = takeSnapshot(*holds);
        }
        for (StructureKind kind : kKinds)
            written.valid[static_cast<std::size_t>(kind)] = outcome.written.has(kind);
        mergeIntact(downloads_[{c.target.base, c.target.serial}], written);
        // The status bar says "verified" only for what was read back and matched.
        uploadVerified_ = outcome.ok() && outcome.verification && outcome.verification->verified();
        return outcome.ok();
    });
}

bool ControllerTransferService::reset() {
    return withContext("Reset", [](TransferContext& c) { return resetController(c); });
}

TransferReport ControllerTransferService::lastReport() const {
    TransferReport report = reporter_.report();
    // Set by the upload once it reads back what it wrote.
    report.verified = uploadVerified_;
    return report;
}

const ConfigSnapshot* ControllerTransferService::lastDownload(std::uint32_t base,
                                                              std::uint32_t serial) const {
    const auto it = downloads_.find({base, serial});
    return it != downloads_.end() ? &it->second : nullptr;
}

ControllerTransferService& installConfigTransferService(CQVDrvCtrlsApp& app, UserInteraction& ui) {
    TransferServiceHooks hooks;
    hooks.selectedTarget = [&app]() -> std::optional<TransferTarget> {
        const CQVDrvCtrlsDlg* dialog = app.dialog();
        if (!dialog) return std::nullopt;
        const SelectedDevice& device = dialog->monitor().selected();
        if (!device.selected || device.base < 0) return std::nullopt;
        TransferTarget t;
        t.base = static_cast<std::uint32_t>(device.base);
        t.serial = device.serial;
        t.bridgeAddress = device.bridgeAddress;
        const auto flags = static_cast<std::uint32_t>(dialog->monitor().values().errorFlags);
        t.configError = (flags & kConfigErrorFlag) != 0;
        for (const DeviceEntry& e : dialog->monitor().devices().entries())
            if (e.baseAddress == t.base) t.deviceName = e.displayName.data();
        return t;
    };
    hooks.portProgressHook = [&app]() -> CBcan::ProgressHook {
        MainWindowPoster* poster = app.mainWindow();
        if (!poster) return {};
        return [poster](std::uint16_t bytes) { poster->postCanTransfer(bytes); };
    };
    hooks.clearFallbackDriverControlsBase = [&app] {
        if (CQVDrvCtrlsDlg* dialog = app.dialog())
            dialog->monitor().setFallbackDriverControlsBase(-3);
    };
    auto service =
        std::make_unique<ControllerTransferService>(app.port(), app.store(), ui, std::move(hooks));
    ControllerTransferService& installed = *service;
    app.setTransferService(std::move(service));
    return installed;
}

}  // namespace qv
