#include "monitor/monitor.h"

#include <algorithm>

#include "config/config_data_bank.h"

namespace qv {

Monitor::Monitor(const CConfigDataBank& store, std::string rawLogDirectory)
    : store_(store), telem_(std::move(rawLogDirectory)) {
    busMonitor_.setHinter(
        [this](const CanFrame& frame) { return frameHint(frame, hintContext()); });
}

HintContext Monitor::hintContext() const {
    HintContext c;
    const SelectedDevice& sel = devices_.selected();
    if (sel.selected) c.selectedBase = sel.base;
    c.deviceType = sel.type;
    c.values = &values_;
    c.panel = &panel_;
    if (store_.isValid(StructureKind::Public))
        c.driverControlsBase = store_.publicConfig.driverControlsBaseAddress;
    else if (fallbackDriverControlsBase_ >= 0)
        c.driverControlsBase = static_cast<std::uint32_t>(fallbackDriverControlsBase_);
    return c;
}

void Monitor::follow(const DeviceListResult& result) {
    // The selected device left the list: remembered for the status bar.
    if (result.hideAllTools && selectedEntry_) lost_ = selectedEntry_;
    if (result.configureStream) {
        selectedSilentTicks_ = 0;
        receivedOffsets_ = 0;
        recorder_.clear();  // another device: its values are another recording
    }
    selectedEntry_ = devices_.selectedEntry();
    if (selectedEntry_) lost_.reset();
    if (result.telemetryReset) panel_.reset();
    if (result.relabel) panel_.markRelabel();
    pending_.mergeFrom(result);
}

void Monitor::handleFrame(std::uint32_t id, std::uint32_t bridgeAddress,
                          const CanFrame::Data& data) {
    if ((id & 0x1F) == 0) {
        std::optional<std::uint32_t> configSerial;
        if (store_.isValid(StructureKind::Private))
            configSerial = store_.privateConfig.serialNumber;
        const DeviceListResult r = devices_.discover(id, bridgeAddress, data, configSerial);
        if (r.any()) follow(r);
    }
    const SelectedDevice& sel = devices_.selected();
    if (telem_.shown()) telem_.update(id, data, sel.base);
    if (sel.selected && sel.base >= 0) {
        const std::uint32_t base = static_cast<std::uint32_t>(sel.base);
        const std::uint32_t offset = id - base;  // wraps for identifiers below the base
        if (id >= base && offset < 0x20) heard_ = true;
        if (id >= base && offset < 0x20 && decodeTelemetry(values_, offset, data)) {
            panel_.markMessage(offset);
            receivedOffsets_ |= 1u << offset;
            if (recording_) recorder_.record(frameTimeNs_, offset, values_, sel.type);
            if (offset == kStatusOffset) {
                ++statusMessages_;
                if (values_.activeMotor != values_.lastActiveMotor) {
                    values_.lastActiveMotor = values_.activeMotor;
                    panel_.markRelabel();
                }
            }
        }
    }
    driveCommands(id, data);
}

void Monitor::driveCommands(std::uint32_t id, const CanFrame::Data& data) {
    const bool publicValid = store_.isValid(StructureKind::Public);
    const std::uint32_t dc = store_.publicConfig.driverControlsBaseAddress;
    const std::int32_t f = fallbackDriverControlsBase_;
    auto is = [&](std::uint32_t offset) {
        return (publicValid && id == dc + offset) ||
               (f >= 0 && id == static_cast<std::uint32_t>(f) + offset);
    };
    if (devices_.selected().selected && (publicValid || f >= 0) && !controlsVisible_) {
        if (is(1)) {
            values_.velocitySetpoint = floatAt(data, 0);
            values_.currentSetpoint = floatAt(data, 4);
        } else if (is(2)) {
            values_.miscSetpoint = floatAt(data, 0);
            values_.busCurrentSetpoint = floatAt(data, 4);
        }
    }
    if (publicValid && (id == dc + 1 || id == dc + 2)) otherDriverControlsSeen_ = true;
}

DeviceListResult Monitor::takeDeviceResult() {
    DeviceListResult r = pending_;
    pending_ = {};
    return r;
}

DeviceListResult Monitor::selectRow(std::optional<std::size_t> row) {
    const DeviceListResult r = devices_.select(row);
    follow(r);
    pending_ = {};
    return r;
}

DeviceListResult Monitor::purgeDeviceList() {
    const DeviceListResult r = devices_.purge();
    follow(r);
    pending_ = {};
    return r;
}

DeviceListResult Monitor::reconnect() {
    const DeviceListResult r = devices_.clear();
    follow(r);
    pending_ = {};
    busLoad_.reset();
    busLoadPercent_.reset();
    bridgeSilentTicks_ = 0;
    return r;
}

DeviceListResult Monitor::turnOffAutoSelect(bool clearSelection) {
    const DeviceListResult r = devices_.turnOffAutoSelect(clearSelection);
    follow(r);
    pending_ = {};
    return r;
}

void Monitor::setSelectedDeviceType(std::int32_t type) {
    devices_.setSelectedDeviceType(type);
    panel_.markRelabel();
}

void Monitor::updateBusLoad(std::uint64_t frames, bool bridgeHeard, std::uint32_t bitRate) {
    if (const auto figure = busLoad_.tick(frames, bridgeHeard, bitRate, selected().selected)) {
        panel_.setStatus(figure->text, figure->colour);
        busLoadPercent_ = figure->percent;
    }
}

void Monitor::updateSilence(bool bridgeTraffic) {
    heardLastTick_ = std::exchange(heard_, false);
    selectedSilentTicks_ = heardLastTick_ ? 0 : std::min(selectedSilentTicks_ + 1, kSilentTicks);
    bridgeSilentTicks_ = bridgeTraffic ? 0 : std::min(bridgeSilentTicks_ + 1, kSilentTicks);
    panel_.setStale(!selected().selected || selectedSilent());
}

const PanelChanges& Monitor::refreshPanel() {
    return panel_.refresh(values_, selected().type, &store_);
}

std::optional<std::uint32_t> Monitor::remoteRequestFor(int cellId) const {
    const SelectedDevice& sel = selected();
    const auto offset = TelemetryPanel::requestOffset(cellId);
    if (!offset || !sel.selected || sel.base < 0) return std::nullopt;
    return static_cast<std::uint32_t>(sel.base) + *offset;
}

}  // namespace qv
