// The main window's status bar: what the program is doing, gathered from the CAN port, the
// logs, the transfer worker and the monitor, and worded by statusBarText().
#include <filesystem>

#include "app/main_dialog.h"
#include "link/can_port.h"

namespace qv {

namespace {

// The log's size so far (what the last flush wrote; rows reach the disk at least once a
// second).
std::uint64_t sizeOnDisk(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<std::uint64_t>(size);
}

std::string absolutePath(const std::string& path) {
    std::error_code error;
    const auto absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

LogFacts logFacts(const std::string& path) {
    return LogFacts{absolutePath(path), sizeOnDisk(path)};
}

TransferKind kindOf(TransferDirection direction) {
    switch (direction) {
        case TransferDirection::Upload:
            return TransferKind::Upload;
        case TransferDirection::Download:
            return TransferKind::Download;
        case TransferDirection::Reset:
            return TransferKind::Reset;
    }
    return TransferKind::Download;
}

std::optional<DeviceNote> noteOf(const std::optional<DeviceEntry>& entry, const std::tm& at) {
    if (!entry) return std::nullopt;
    return DeviceNote{deviceDescription(*entry), at};
}

}  // namespace

// Tick step 6, after the bus load: what arrived during this tick.
void CQVDrvCtrlsDlg::noteTraffic(std::uint64_t busFrames) {
    const std::tm now = parts_.clock.localTime();
    const std::uint64_t status = parts_.port.statusFramesReceived();
    const bool traffic = busFrames != 0 || status != statusFramesSeen_;
    statusFramesSeen_ = status;
    monitor_.updateSilence(traffic);
    // Silence is counted from the opening of the port and from the choice of a device.
    if (traffic || trafficConnection_ != connection_) lastTraffic_ = now;
    trafficConnection_ = connection_;
    const std::optional<DeviceEntry> selected = monitor_.devices().selectedEntry();
    const auto key = selected ? std::make_pair(selected->baseAddress, selected->serialNumber)
                              : std::make_pair(0u, 0u);
    if (monitor_.selectedHeardLastTick() || key != heardDevice_) lastSelectedHeard_ = now;
    heardDevice_ = key;
    if (const auto lost = monitor_.takeLostDevice()) statusFacts_.lostDevice = noteOf(lost, now);
}

void CQVDrvCtrlsDlg::noteTransferStart(const TransferJob& job) {
    TransferOutcome o;
    o.kind = kindOf(job.direction);
    const SelectedDevice& device = monitor_.selected();
    o.base = device.selected ? device.base : -1;
    runningTransfer_ = o;
}

// WM_TRANSFER_DONE of a job of the worker.
void CQVDrvCtrlsDlg::noteTransferEnd(bool failed) {
    if (!runningTransfer_) return;
    TransferOutcome o = *runningTransfer_;
    runningTransfer_.reset();
    o.ok = !failed;
    const TransferReport report = parts_.transfer.lastReport();
    if (failed) {
        o.message = report.message;
        o.declined = report.declined;
    }
    o.verified = !failed && report.verified;
    o.at = parts_.clock.localTime();
    statusFacts_.lastTransfer = o;
}

void CQVDrvCtrlsDlg::syncStatus() {
    StatusFacts& f = statusFacts_;
    f.interfaceAddress = bridge_.interfaceAddress;
    f.udpPort = bridge_.port;
    f.busId = bridge_.busId;
    f.portOpen = parts_.port.isOpen();
    f.tcpPeer.reset();
    if (f.portOpen && parts_.port.isTcpOpen()) f.tcpPeer = parts_.port.bridgeAddress();

    f.telemetryLog.reset();
    if (log_.logging()) f.telemetryLog = logFacts(log_.path());
    f.logPeriodTicks = logPeriodTicks_;
    const RawCanLog& raw = monitor_.telemetryWindow().rawLog();
    f.rawLog.reset();
    if (raw.isOpen()) f.rawLog = logFacts(raw.path());

    f.bridgeSilentSince.reset();
    if (f.portOpen && monitor_.bridgeSilent()) f.bridgeSilentSince = lastTraffic_;
    if (monitor_.selected().selected) f.lostDevice.reset();
    f.silentDevice.reset();
    if (monitor_.selectedSilent() && !f.bridgeSilentSince)
        f.silentDevice = noteOf(monitor_.devices().selectedEntry(), lastSelectedHeard_);

    const StatusBarText text = statusBarText(f);
    if (statusShown_ && text == shownStatus_) return;
    shownStatus_ = text;
    statusShown_ = true;
    parts_.view.showStatus(shownStatus_);
}

}  // namespace qv
