#include "monitor/device_list.h"

#include <cstdio>
#include <cstring>

#include "link/stream_engine.h"

namespace qv {

namespace {

constexpr std::uint32_t kStreamControlOffset = 0x12;
constexpr std::uint32_t kStreamDataOffset = 0x14;

bool isAscii(const CanFrame::Data& d, const char* text) {
    return std::memcmp(d.data(), text, 4) == 0;
}

}  // namespace

std::optional<ProductInfo> recognizeProduct(const CanFrame::Data& d) {
    const std::uint32_t code = static_cast<std::uint32_t>(d[0]) | (std::uint32_t{d[1]} << 8) |
                               (std::uint32_t{d[2]} << 16) | (std::uint32_t{d[3]} << 24);
    if (isAscii(d, "KX01") || code == 0x4002) return ProductInfo{kTypeLargeController, "qvm40"};
    if (isAscii(d, "KX02") || code == 0x4003) return ProductInfo{kTypeSmallController, "qvm7 "};
    if (isAscii(d, "KX03")) return ProductInfo{kTypeChargerFamily, "ECHG "};
    if (code == 0x4000) return ProductInfo{kTypeIsolatedCharger, "ecISO"};
    if (code == 0x4001) return ProductInfo{kTypeGridTieCharger, "ecGT "};
    if (code == 0x6000) return ProductInfo{kTypeResearchUnit, "LAB01"};
    return std::nullopt;
}

std::string deviceRowText(const DeviceEntry& e) {
    char text[64];
    // Unsigned, so that serial numbers above 2^31 do not show as negative numbers.
    std::snprintf(text, sizeof text, "0x%03X   %s  %07u", static_cast<unsigned>(e.baseAddress),
                  e.displayName.data(), static_cast<unsigned>(e.serialNumber));
    return text;
}

std::string deviceDescription(const DeviceEntry& e) {
    std::string name(e.displayName.data());
    while (!name.empty() && name.back() == ' ') name.pop_back();
    char text[64];
    std::snprintf(text, sizeof text, "0x%03X %s serial %u", static_cast<unsigned>(e.baseAddress),
                  name.c_str(), static_cast<unsigned>(e.serialNumber));
    return text;
}

void DeviceListResult::mergeFrom(const DeviceListResult& later) {
    rowsChanged |= later.rowsChanged;
    hideAllTools |= later.hideAllTools;
    clearConfiguration |= later.clearConfiguration;
    if (later.configureStream) {
        configureStream = true;
        streamControlId = later.streamControlId;
        streamDataId = later.streamDataId;
    }
    if (later.menusChanged) {
        menusChanged = true;
        toolMenusEnabled = later.toolMenusEnabled;
    }
    telemetryReset |= later.telemetryReset;
    relabel |= later.relabel;
}

std::vector<std::string> DeviceList::rows() const {
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const DeviceEntry& e : entries_) out.push_back(deviceRowText(e));
    return out;
}

std::optional<DeviceEntry> DeviceList::selectedEntry() const {
    if (!selected_.selected || !selectedRow_ || *selectedRow_ >= entries_.size()) return {};
    return entries_[*selectedRow_];
}

DeviceListResult DeviceList::discover(std::uint32_t identifier, std::uint32_t bridgeAddress,
                                      const CanFrame::Data& data,
                                      std::optional<std::uint32_t> configSerial) {
    DeviceListResult result;
    const std::uint32_t base = identifier;
    const auto product = recognizeProduct(data);
    const std::uint32_t serial = static_cast<std::uint32_t>(data[4]) |
                                 (std::uint32_t{data[5]} << 8) | (std::uint32_t{data[6]} << 16) |
                                 (std::uint32_t{data[7]} << 24);
    if (!product) {
        // A device withdrawing itself: the selected one leaves the list at once.
        if (selected_.base >= 0 && static_cast<std::uint32_t>(selected_.base) == base &&
            data[3] == 0xFF) {
            for (DeviceEntry& e : entries_)
                if (e.baseAddress == base) {
                    e.seen = 0;
                    break;
                }
            result = purgeInternal();
        }
        return result;
    }
    for (DeviceEntry& e : entries_)
        if (e.serialNumber == serial && e.baseAddress == base) {
            e.seen = 1;
            return result;
        }
    std::size_t at = 0;
    while (at < entries_.size() && entries_[at].baseAddress <= base) ++at;
    DeviceEntry entry;
    entry.seen = 1;
    entry.baseAddress = base;
    entry.serialNumber = serial;
    entry.bridgeAddress = bridgeAddress;
    entry.deviceType = product->deviceType;
    std::memcpy(entry.displayName.data(), product->displayName, 5);
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(at), entry);
    if (selectedRow_ && *selectedRow_ >= at) ++*selectedRow_;
    result.rowsChanged = true;
    if (selected_.base == SelectedDevice::kNoDevice ||
        (selected_.base >= 0 && static_cast<std::uint32_t>(selected_.base) == base)) {
        selectedRow_ = at;
        result.mergeFrom(onDeviceSelected());
    } else if (configSerial && *configSerial == serial &&
               selected_.base != SelectedDevice::kAutoSelectOff) {
        // The configuration held belongs to this device: it becomes the selected device, with
        // everything a choice in the list sets, but the configuration is kept.
        selectedRow_ = at;
        DeviceListResult follow = onDeviceSelected();
        follow.clearConfiguration = false;
        result.mergeFrom(follow);
    }
    return result;
}

DeviceListResult DeviceList::onDeviceSelected() {
    DeviceListResult result;
    if (!selectedRow_ || *selectedRow_ >= entries_.size()) return result;
    const DeviceEntry& e = entries_[*selectedRow_];
    selected_.base = static_cast<std::int32_t>(e.baseAddress);
    selected_.serial = e.serialNumber;
    selected_.bridgeAddress = e.bridgeAddress;
    selected_.type = e.deviceType;
    selected_.selected = true;
    result.rowsChanged = true;
    result.clearConfiguration = true;
    result.configureStream = true;
    result.streamControlId = e.baseAddress + kStreamControlOffset;
    result.streamDataId = e.baseAddress + kStreamDataOffset;
    result.menusChanged = true;
    result.toolMenusEnabled = true;
    result.relabel = true;
    return result;
}

void DeviceList::removeAt(std::size_t index, DeviceListResult& result, bool& selectedRemoved) {
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
    result.rowsChanged = true;
    if (!selectedRow_) return;
    if (*selectedRow_ == index) {
        selectedRow_.reset();
        selectedRemoved = true;
        result.hideAllTools = true;
        selected_.selected = false;
    } else if (*selectedRow_ > index) {
        --*selectedRow_;
    }
}

DeviceListResult DeviceList::purgeInternal() {
    DeviceListResult result;
    bool selectedRemoved = false;
    for (std::size_t i = 0; i < entries_.size();) {
        if (entries_[i].seen == 1) {
            entries_[i].seen = 0;
            ++i;
        } else {
            removeAt(i, result, selectedRemoved);
        }
    }
    if (!entries_.empty() && !selectedRow_ && selected_.base == SelectedDevice::kNoDevice) {
        selectedRow_ = 0;
        result.mergeFrom(onDeviceSelected());
    }
    if (!selected_.selected) {
        result.menusChanged = true;
        result.toolMenusEnabled = false;
        result.telemetryReset = true;
    }
    return result;
}

DeviceListResult DeviceList::purge() {
    return purgeInternal();
}

DeviceListResult DeviceList::select(std::optional<std::size_t> row) {
    if (row && *row >= entries_.size()) return {};  // list and entries out of step: ignored
    selectedRow_ = row;
    return onDeviceSelected();
}

DeviceListResult DeviceList::clear() {
    DeviceListResult result;
    result.rowsChanged = !entries_.empty() || selectedRow_.has_value();
    entries_.clear();
    selectedRow_.reset();
    selected_.base = SelectedDevice::kNoDevice;
    selected_.selected = false;
    result.telemetryReset = true;
    result.mergeFrom(purgeInternal());
    return result;
}

DeviceListResult DeviceList::turnOffAutoSelect(bool clearSelection) {
    selected_.base = SelectedDevice::kAutoSelectOff;
    DeviceListResult result;
    if (clearSelection) {
        selected_.selected = false;
        if (selectedRow_) result.rowsChanged = true;
        selectedRow_.reset();
        result.mergeFrom(purgeInternal());
    }
    return result;
}

}  // namespace qv
