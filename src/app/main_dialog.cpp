#include "app/main_dialog.h"

#include <algorithm>
#include <cstring>

#include "app/tool_command.h"
#include "common/user_interaction.h"
#include "config/config_data_bank.h"
#include "link/can_port.h"
#include "link/platform/settings_store.h"
#include "link/stream_engine.h"

namespace qv {

namespace {

// canWaitForFrame with this identifier matches no frame: it drains the whole queue.
constexpr std::uint32_t kMatchNothing = 0xFFFFFFFFu;

// Thrown by the decoder hook when the tick's drain has used its time; caught by the tick
// around its canWaitForFrame, which holds no lock while it calls the hook.
struct DrainBudgetSpent {};

// Checking the clock after every frame would cost more than the frame.
constexpr unsigned kFramesPerClockCheck = 32;

}  // namespace

std::string toolUnavailableText(Tool tool) {
    return std::string(toolCaption(tool)) + " is not available in this version yet.";
}

CQVDrvCtrlsDlg::CQVDrvCtrlsDlg(const MainDialogParts& parts)
    : parts_(parts), monitor_(parts.store, parts.logDirectory) {
    // Construction: the configuration store's flags and heldVersion start cleared.
    parts_.store.deviceChanged();
    parts_.port.setDecoderHook([this, frames = 0u](std::uint32_t id, std::uint32_t source,
                                                   const CanFrame::Data& data) mutable {
        monitor_.handleFrame(id, source, data);
        if (draining_ && ++frames % kFramesPerClockCheck == 0 &&
            parts_.clock.nowMs() > drainDeadlineMs_)
            throw DrainBudgetSpent{};
    });
    monitor_.setRecording(true);
    parts_.port.setRawLogHook([this](const CanPacket& packet) {
        ++framesTaken_;
        monitor_.takePacket(packet);
        monitor_.telemetryWindow().rawLog().write(packet.frame.identifier(), packet.frame.data());
    });
    parts_.port.setProgressHook(
        [this](std::uint16_t bytes) { parts_.poster.postCanTransfer(bytes); });
    keptPlaces_.push_back(
        {positionValueStem(PlacedWindow::Main), &parts_.window, kMainDefaultPosition});
    for (std::size_t i = 0; i < kToolCount; ++i) {
        const Tool tool = static_cast<Tool>(i);
        if (const char* stem = toolPlaceStem(tool))
            keptPlaces_.push_back({stem, &parts_.tools[tool], kToolDefaultPosition});
    }
}

CQVDrvCtrlsDlg::~CQVDrvCtrlsDlg() {
    parts_.port.setDecoderHook({});
    parts_.port.setRawLogHook({});
    parts_.port.setProgressHook({});
    // A transfer still waiting ends when the port closes; then the worker can be joined.
    if (worker_.busy()) {
        worker_.stop();
        parts_.port.close();
    }
    worker_.join();
    log_.stop();
}

void CQVDrvCtrlsDlg::message(const std::string& text, const char* caption) {
    MessageBoxRequest request;
    request.text = text;
    request.caption = caption;
    request.icon = MessageIcon::Warning;
    parts_.ui.messageBox(request);
}

// ---- initialisation, tick, shutdown ----

void CQVDrvCtrlsDlg::restorePlace(const KeptPlace& kept) {
    const WindowPlace place = restoreWindowPlace(SettingsStore(parts_.settingsPath), kept.stem,
                                                 kept.defaultPosition, *workArea_);
    // The size first: a window manager may keep a window that grows inside the screen.
    if (place.size && kept.window->resizableSize()) kept.window->resizeTo(*place.size);
    kept.window->moveTo(place.position);
}

std::pair<std::string, WindowPlace> CQVDrvCtrlsDlg::currentPlace(const KeptPlace& kept) {
    return {kept.stem, {kept.window->position(), kept.window->resizableSize()}};
}

void CQVDrvCtrlsDlg::keepWindowPlace(const std::string& stem, Placeable& window,
                                     ScreenPoint defaultPosition) {
    keptPlaces_.push_back({stem, &window, defaultPosition});
    if (workArea_) restorePlace(keptPlaces_.back());
}

void CQVDrvCtrlsDlg::forgetWindowPlace(Placeable& window) {
    for (auto it = keptPlaces_.begin(); it != keptPlaces_.end(); ++it) {
        if (it->window != &window) continue;
        if (workArea_ && !shutDown_) saveWindowPlaces(parts_.settingsPath, {currentPlace(*it)});
        keptPlaces_.erase(it);
        return;
    }
}

void CQVDrvCtrlsDlg::initDialog(const WorkArea& workArea) {
    workArea_ = workArea;
    for (const KeptPlace& kept : keptPlaces_) restorePlace(kept);
    menus_.checkLogPeriod(kCmdUpdate02s);
    if (openPort())
        parts_.timer.start(kTickMs);
    else
        message(kNoCanPortText);
    enableToolMenus(false);
    applyDeviceResult(monitor_.reconnect());
    syncView();
}

bool CQVDrvCtrlsDlg::openPort() {
    if (parts_.port.open() != 1) return false;
    ++connection_;
    return true;
}

DriveContext CQVDrvCtrlsDlg::driveContext() const {
    DriveContext c;
    c.portOpen = parts_.port.isOpen();
    c.connection = connection_;
    const SelectedDevice& d = monitor_.selected();
    if (d.selected) c.selectedDevice = DriveTarget{d.base, d.serial, d.bridgeAddress, d.type};
    c.publicConfigValid = parts_.store.isValid(StructureKind::Public);
    c.otherSourceSeen = monitor_.otherDriverControlsSeen();
    return c;
}

void CQVDrvCtrlsDlg::onTimer() {
    // A message box shown inside the tick (the drive check's, a log failure) runs the event
    // loop, which fires the timer again: that tick is skipped rather than nested.
    if (shutDown_ || ticking_) return;
    ticking_ = true;
    struct TickEnd {
        CQVDrvCtrlsDlg& dlg;
        double startMs;
        ~TickEnd() {
            dlg.ticking_ = false;
            const double ms = dlg.parts_.clock.nowMs() - startMs;
            dlg.totalTickMs_ += ms;
            dlg.longestTickMs_ = std::max(dlg.longestTickMs_, ms);
        }
    } tickEnd{*this, parts_.clock.nowMs()};
    ++ticks_;
    // 1. The telemetry log row when its countdown runs out.
    if (--logCountdown_ <= 0) {
        logCountdown_ = logPeriodTicks_;
        if (log_.logging()) {
            if (auto failure = log_.writeRow(monitor_.values(), parts_.clock.localTime(),
                                             parts_.clock.nowMs()))
                reportLogFailure(*failure);
        }
    }
    // 2. Every queued frame to handleFrame (within the drain budget).
    drainQueue();
    // 3. The PC's drive command while the Controls window is shown and nobody else drives.
    if (controlsVisible()) parts_.drive.onDriveTick(driveContext());
    // 4. Devices that stopped announcing leave the list.
    if (--purgeCountdown_ <= 0) {
        purgeCountdown_ = kPurgeTicks;
        applyDeviceResult(monitor_.purgeDeviceList());
    }
    // 5. The Controls window's periodic check while the driver-controls base is known.
    if (parts_.store.isValid(StructureKind::Public) && --slowCountdown_ <= 0) {
        slowCountdown_ = kSlowTicks;
        if (controlsVisible()) parts_.drive.periodicCheck(!monitor_.otherDriverControlsSeen());
    }
    // 6. Bus load.
    const std::uint64_t frames = parts_.port.takeReceivedFrameCount();
    monitor_.updateBusLoad(frames, parts_.port.bridgeHeard(), parts_.port.busBitRate());
    noteTraffic(frames);
    flushLogs();
    syncView();
    for (const auto& [command, window] : tickWindows_)
        if (window->isVisible()) window->onTick();
}

void CQVDrvCtrlsDlg::addTickWindow(int commandId, TickWindow& window) {
    tickWindows_.emplace_back(commandId, &window);
}

void CQVDrvCtrlsDlg::removeTickWindow(TickWindow& window) {
    std::erase_if(tickWindows_, [&window](const auto& entry) { return entry.second == &window; });
}

void CQVDrvCtrlsDlg::drainQueue() {
    monitor_.setControlsVisible(controlsVisible());
    draining_ = true;
    drainDeadlineMs_ = parts_.clock.nowMs() + kDrainBudgetMs;
    try {
        // While a tool's acquisition waits, its window takes the queue (offering each frame to
        // the tool before the decoder sees it); draining here would feed its frames to the
        // decoder and let the acquisition time out.
        if (!toolAcquiring()) parts_.port.waitForFrame(kMatchNothing, nullptr, 1);
    } catch (const DrainBudgetSpent&) {
        ++drainsCut_;
    }
    draining_ = false;
    applyDeviceResult(monitor_.takeDeviceResult());
}

void CQVDrvCtrlsDlg::flushLogs() {
    const double now = parts_.clock.nowMs();
    if (log_.logging())
        if (auto failure = log_.flushIfDue(now)) reportLogFailure(*failure);
    RawCanLog& raw = monitor_.telemetryWindow().rawLog();
    raw.flushIfDue(now);
    if (auto failure = raw.takeFailure()) message(*failure, "Telemetry");
}

void CQVDrvCtrlsDlg::reportLogFailure(const std::string& text) {
    menus_.setLogging(false, monitor_.selected().selected);
    syncView();
    message(text);
}

void CQVDrvCtrlsDlg::onCancel() {
    if (shutDown_) return;
    parts_.drive.stop();
    hideAllTools();
    for (const auto& [command, window] : tickWindows_) window->hide();
    if (parts_.port.isOpen()) {
        parts_.timer.stop();
        parts_.port.close();
    }
    // The port is closed, so a transfer still waiting has ended; the worker posts into a
    // window that is about to go, which drops the message.
    worker_.stop();
    worker_.join();
    if (log_.logging()) log_.stop();
    monitor_.telemetryWindow().rawLog().close();

    std::vector<std::pair<std::string, WindowPlace>> places;
    for (const KeptPlace& kept : keptPlaces_) places.push_back(currentPlace(kept));
    saveWindowPlaces(parts_.settingsPath, places);  // a failure is ignored
    shutDown_ = true;
    parts_.view.endDialog();
}

// ---- the device list and the panel ----

void CQVDrvCtrlsDlg::applyDeviceResult(const DeviceListResult& result) {
    if (result.rowsChanged)
        parts_.view.showDeviceList(monitor_.devices().rows(), monitor_.devices().selectedRow());
    if (result.hideAllTools) {
        parts_.drive.stop();
        hideAllTools();
    }
    // Another device became the selected one: the drive was shown for the old one.
    if (result.configureStream) parts_.drive.stop();
    if (result.clearConfiguration) parts_.store.deviceChanged();
    if (result.configureStream) {
        parts_.port.setBridgeAddress(monitor_.selected().bridgeAddress);
        parts_.port.configureStream(kDefaultBlockSize, result.streamControlId, result.streamDataId);
    }
    if (result.menusChanged) enableToolMenus(result.toolMenusEnabled);
}

void CQVDrvCtrlsDlg::onDeviceSelected(std::optional<std::size_t> row) {
    applyDeviceResult(monitor_.selectRow(row));
    syncView();
}

void CQVDrvCtrlsDlg::onCellClicked(int cellId) {
    if (!parts_.port.isOpen()) return;
    if (const auto id = monitor_.remoteRequestFor(cellId)) parts_.port.sendRemoteRequest(*id);
}

void CQVDrvCtrlsDlg::syncView() {
    const PanelChanges& changes = monitor_.refreshPanel();
    if (!changes.empty()) parts_.view.showPanel(changes, monitor_.panel());
    TelemWindowModel& telem = monitor_.telemetryWindow();
    const std::vector<int>& cells = telem.refresh();
    if (!cells.empty()) parts_.view.showTelemetryCells(cells, telem);
    if (menus_.revision() != shownMenuRevision_) {
        shownMenuRevision_ = menus_.revision();
        parts_.view.showMenus(menus_);
    }
    syncStatus();
}

// ---- tool windows ----

bool CQVDrvCtrlsDlg::controlsVisible() const {
    return parts_.tools[Tool::Controls].isVisible();
}

bool CQVDrvCtrlsDlg::toolAcquiring() const {
    for (std::size_t i = 0; i < kToolCount; ++i)
        if (parts_.tools[static_cast<Tool>(i)].acquiring()) return true;
    return false;
}

void CQVDrvCtrlsDlg::hideAllTools() {
    for (std::size_t i = 0; i < kToolCount; ++i) {
        ToolWindow& w = parts_.tools[static_cast<Tool>(i)];
        w.hide();
        w.setEnabled(false);
    }
    showTelemetryWindowState(false);
    monitor_.setControlsVisible(false);
}

void CQVDrvCtrlsDlg::showTelemetryWindowState(bool shown) {
    TelemWindowModel& telem = monitor_.telemetryWindow();
    if (telem.shown() == shown) return;
    telem.setShown(shown, parts_.clock.localTime(), parts_.clock.nowMs());
}

void CQVDrvCtrlsDlg::enableToolMenus(bool enabled) {
    menus_.enableToolMenus(enabled, log_.logging());
}

void CQVDrvCtrlsDlg::openWindow(Tool tool, bool failed) {
    ToolWindow& w = parts_.tools[tool];
    if (failed || w.isEnabled()) return;
    hideAllTools();
    w.show();
    w.setEnabled(true);
    w.raise();
}

// Action 1. A Controls window already open is left as it is: opening it again would postpone
// its periodic check and forget another driver-controls node just seen.
void CQVDrvCtrlsDlg::openControls(bool failed) {
    ToolWindow& w = parts_.tools[Tool::Controls];
    if (failed || w.isEnabled()) return;
    hideAllTools();
    ControlsShowRequest request;
    const SelectedDevice& d = monitor_.selected();
    if (d.selected) request.device = DriveTarget{d.base, d.serial, d.bridgeAddress, d.type};
    request.speedLimit = parts_.store.publicConfig.speedLimit;
    request.driverControlsBase = parts_.store.publicConfig.driverControlsBaseAddress;
    request.connection = connection_;
    if (!parts_.drive.showControls(request)) return;
    w.show();
    w.setEnabled(true);
    w.raise();
    slowCountdown_ = kSlowTicks;
    monitor_.clearOtherDriverControlsSeen();
}

bool CQVDrvCtrlsDlg::allStructuresValid() const {
    const CConfigDataBank& s = parts_.store;
    return s.isValid(StructureKind::Public) && s.isValid(StructureKind::Private) &&
           s.isValid(StructureKind::Motor);
}

// ---- WM_TRANSFER_DONE and WM_CAN_TRANSFER ----

void CQVDrvCtrlsDlg::onTransferDone(std::int32_t action, bool failed) {
    if (shutDown_) return;
    // The job ended: the store is the windows' again (not when a tool opens at once while
    // another job still runs).
    if (!worker_.busy()) {
        parts_.transfer.finished();
        noteTransferEnd(failed);
    }
    switch (action) {
        case kActionOpenControls:
            openControls(failed);
            break;
        case kActionOpenConfiguration:
            openWindow(Tool::Configuration, failed);
            parts_.tools[Tool::Configuration].refresh();
            break;
        case kActionRefreshConfiguration:
            if (failed)
                hideAllTools();
            else
                parts_.tools[Tool::Configuration].refresh();
            break;
        case kActionSelectImTool:
            selectToolAfterUpload(kToolNumberImExtraction);
            break;
        case kActionOpenImExtraction:
            openWindow(Tool::ImExtraction, failed);
            break;
        case kActionSelectPmTool:
            selectToolAfterUpload(kToolNumberPmExtraction);
            break;
        case kActionOpenPmExtraction:
            openWindow(Tool::PmExtraction, failed);
            break;
        case kActionSelectDuvodaRezir:
            selectToolAfterUpload(kToolNumberDuvodaRezir);
            break;
        case kActionOpenDuvodaRezir:
            openWindow(Tool::DuvodaRezir, failed);
            break;
        case kActionLogStart:
            if (failed && monitor_.selected().base >= 0)
                monitor_.setFallbackDriverControlsBase(monitor_.selected().base + 0x100);
            break;
        default:  // 0 after uploads, and anything unknown
            break;
    }
    monitor_.setControlsVisible(controlsVisible());
    syncView();
}

// After a tool's upload the controller is told again which tool window is open. The second
// wait keeps the GUI thread free: the worker sends it, one second after the upload ended.
void CQVDrvCtrlsDlg::selectToolAfterUpload(int toolNumber) {
    const std::int32_t base = monitor_.selected().base;
    if (base < 0) return;
    CBcan& port = parts_.port;
    TransferThread& worker = worker_;
    worker_.startTask([&port, &worker, base, toolNumber] {
        if (!worker.sleepFor(1000)) return;
        const std::uint32_t id = static_cast<std::uint32_t>(base) + kToolCommandOffset;
        port.connectTcp(id, 3);
        port.queueFrame(id, toolCommandData(0.0f, static_cast<std::uint16_t>(toolNumber), 0));
        if (port.isOpen()) port.flush();
        port.closeTcp();
    });
}

void CQVDrvCtrlsDlg::onCanTransfer(int bytes) {
    ToolWindow& progress = parts_.tools[Tool::TransferProgress];
    if (progress.isEnabled()) progress.advanceProgress(bytes);
}

bool CQVDrvCtrlsDlg::startTransfer(const TransferJob& job) {
    job_ = job;
    // An upload or a reset changes or restarts the controller under the drive: it stops first.
    if (job.direction != TransferDirection::Download) parts_.drive.stop();
    if (!worker_.busy()) parts_.transfer.prepare();
    if (worker_.start(job, parts_.transfer, parts_.poster)) {
        noteTransferStart(job);
        return true;
    }
    message(kTransferBusyText);
    return false;
}

}  // namespace qv
