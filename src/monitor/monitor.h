#pragma once
// Everything the main window learns from the bus, in one object: the device list and the
// selected device, the decoded telemetry with its panel, the drive commands of another
// driver-controls node, the bus load and the Telemetry window's model. The window and qvcli
// both run on this class, so they cannot disagree.
//
// How a window uses it (all on the GUI thread):
//  - CBcan decoder hook -> handleFrame(id, source, data) for every frame the queue drain takes.
//    Cheap: no allocation, no text formatting.
//  - CBcan raw log hook -> telemetryWindow().rawLog().write(id, data), and takePacket(packet)
//    before the decoder hook sees the frame (its time of arrival, the bus monitor).
//  - After each drain, and after selectRow/purgeDeviceList/reconnect/turnOffAutoSelect, apply
//    the DeviceListResult (takeDeviceResult() for the frames of the drain): see device_list.h.
//  - Tick: purgeDeviceList() every 12 ticks; updateBusLoad(...) as the last step; then
//    refreshPanel() and telemetryWindow().refresh(), repainting only the ids they return.
//  - A click on value cell id: if (auto id = remoteRequestFor(cell)) canSendRemoteRequest(*id).
//  - Controls window shown/hidden: setControlsVisible(); tick step 3 sends the drive command
//    only while !otherDriverControlsSeen().
#include <cstdint>
#include <optional>
#include <utility>

#include "link/can_frame.h"
#include "monitor/bus_load.h"
#include "monitor/bus_trace.h"
#include "monitor/device_list.h"
#include "monitor/frame_hint.h"
#include "monitor/monitor_types.h"
#include "monitor/telem_window.h"
#include "monitor/telemetry_panel.h"
#include "monitor/telemetry_recorder.h"
#include "monitor/telemetry_values.h"

namespace qv {

class CConfigDataBank;

class Monitor {
  public:
    // `store` is read for the driver-controls base, the motor names and the serial number of
    // the configuration held; the window clears it when a DeviceListResult says so.
    explicit Monitor(const CConfigDataBank& store, std::string rawLogDirectory = {});
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    // Every frame taken from the queue, before handleFrame: the bus monitor records it, and
    // the telemetry it carries is recorded at its time of arrival. Only while recording.
    void takePacket(const CanPacket& packet) {
        if (!recording_) return;
        frameTimeNs_ = packet.arrivalNs;
        if (!packet.status) busMonitor_.add(packet.arrivalNs, packet.frame);
    }
    // The window records for its plots and its bus monitor; qvcli does not.
    void setRecording(bool recording) { recording_ = recording; }

    // Discovery, the Telemetry window (while shown), decoding, drive commands on the bus.
    void handleFrame(std::uint32_t identifier, std::uint32_t bridgeAddress,
                     const CanFrame::Data& data);
    // What the frames since the last call asked the window to do (and the calls below return
    // their own result directly).
    DeviceListResult takeDeviceResult();

    DeviceListResult selectRow(std::optional<std::size_t> row);
    DeviceListResult purgeDeviceList();
    // Re-connect: list emptied, telemetry cells at zero, nothing selected, bus load restarted.
    DeviceListResult reconnect();
    // Configuration... with Shift (clearSelection) or without a device.
    DeviceListResult turnOffAutoSelect(bool clearSelection);
    void preselectBase(std::uint32_t base) { devices_.preselectBase(base); }
    // A configuration file load sets the device type the panel and the log follow.
    void setSelectedDeviceType(std::int32_t type);

    // The tick's last step: frames counted since the previous tick, canBridgeHeard(), bit rate.
    void updateBusLoad(std::uint64_t frames, bool bridgeHeard, std::uint32_t bitRate);
    // Once per tick: whether the bridges sent anything (bus frames or their own status) since
    // the previous call. The panel is greyed while no device is selected or the selected one
    // has not been heard for kSilentTicks.
    void updateSilence(bool bridgeTraffic);
    static constexpr int kSilentTicks = 15;  // 3 s
    // A frame of the selected device's range arrived before the last updateSilence.
    bool selectedHeardLastTick() const { return heardLastTick_; }
    bool selectedSilent() const {
        return selected().selected && selectedSilentTicks_ >= kSilentTicks;
    }
    bool bridgeSilent() const { return bridgeSilentTicks_ >= kSilentTicks; }
    // The selected device that left the list since the last call (nothing if none did).
    std::optional<DeviceEntry> takeLostDevice() { return std::exchange(lost_, std::nullopt); }

    // Formats the panel once per tick; the ids of what changed.
    const PanelChanges& refreshPanel();

    // Identifier of the remote request a click on `cellId` sends (nothing: no device or not a
    // value cell).
    std::optional<std::uint32_t> remoteRequestFor(int cellId) const;

    // Drive commands of another node.
    void setControlsVisible(bool visible) { controlsVisible_ = visible; }
    bool otherDriverControlsSeen() const { return otherDriverControlsSeen_; }
    void clearOtherDriverControlsSeen() { otherDriverControlsSeen_ = false; }
    // Below zero: none. Set by a failed download at log start (selected base + 0x100).
    void setFallbackDriverControlsBase(std::int32_t base) { fallbackDriverControlsBase_ = base; }
    std::int32_t fallbackDriverControlsBase() const { return fallbackDriverControlsBase_; }

    const SelectedDevice& selected() const { return devices_.selected(); }
    const DeviceList& devices() const { return devices_; }
    const TelemetryValues& values() const { return values_; }
    TelemetryValues& values() { return values_; }  // the Controls window writes the setpoints
    bool chargerMode() const { return isChargerMode(selected().type, values_.activeMotor); }
    // Bit N set: the telemetry message at offset N arrived since the device was selected.
    std::uint32_t receivedOffsets() const { return receivedOffsets_; }
    // The latest bus-load figure (nothing before the first one).
    std::optional<double> busLoadPercent() const { return busLoadPercent_; }
    // Frames of the selected device decoded so far (by offset 0x01: status messages).
    std::uint64_t statusMessages() const { return statusMessages_; }
    const TelemetryPanel& panel() const { return panel_; }
    TelemWindowModel& telemetryWindow() { return telem_; }
    const TelemetryRecorder& recorder() const { return recorder_; }
    BusMonitorModel& busMonitor() { return busMonitor_; }
    // What the bus monitor's hints know now.
    HintContext hintContext() const;

  private:
    void follow(const DeviceListResult& result);
    void driveCommands(std::uint32_t identifier, const CanFrame::Data& data);

    const CConfigDataBank& store_;
    DeviceList devices_;
    TelemetryValues values_;
    TelemetryPanel panel_;
    BusLoad busLoad_;
    TelemWindowModel telem_;
    TelemetryRecorder recorder_;
    BusMonitorModel busMonitor_;
    std::int64_t frameTimeNs_ = 0;
    bool recording_ = false;
    DeviceListResult pending_;
    bool controlsVisible_ = false;
    bool otherDriverControlsSeen_ = false;
    std::int32_t fallbackDriverControlsBase_ = -3;
    std::uint64_t statusMessages_ = 0;
    // Silence and loss of the selected device.
    bool heard_ = false;
    bool heardLastTick_ = false;
    int selectedSilentTicks_ = 0;
    int bridgeSilentTicks_ = 0;
    std::optional<DeviceEntry> selectedEntry_;
    std::optional<DeviceEntry> lost_;
    std::uint32_t receivedOffsets_ = 0;
    std::optional<double> busLoadPercent_;
};

}  // namespace qv
