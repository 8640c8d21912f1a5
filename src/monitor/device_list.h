#pragma once
// The devices that announce themselves on the bus, sorted by base address, and the list box
// selection that picks the selected device.
//
// A window keeps one DeviceList next to its list box. Identification frames go to discover();
// the tick calls purge() every 2.4 s; the list box's selection change calls select(). Each of
// these returns a DeviceListResult that says what the window must do (refill the list box from
// rows() and selectedRow(), clear the configuration store, configure the stream identifiers,
// grey or enable the tool menus, hide the tool windows). The telemetry panel follows through
// Monitor, which wraps this class.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/can_frame.h"
#include "monitor/monitor_types.h"

namespace qv {

struct DeviceEntry {
    std::uint32_t baseAddress = 0;
    std::uint32_t serialNumber = 0;
    std::uint32_t bridgeAddress = 0;  // IPv4 as received
    std::int32_t deviceType = 0;
    std::array<char, 6> displayName{};  // five characters and a terminating zero
    std::uint8_t seen = 0;
};

struct ProductInfo {
    std::int32_t deviceType;
    const char* displayName;  // five characters
};

// The product named by bytes 0-3 of an identification message (four ASCII characters or a
// little-endian type code); nothing for an unknown product.
std::optional<ProductInfo> recognizeProduct(const CanFrame::Data& data);

// "0x%03X   %s  %07u": base address, display name, serial number.
std::string deviceRowText(const DeviceEntry& entry);
// "0x400 qvm40 serial 123456": the device named for the user, in messages and the status bar.
std::string deviceDescription(const DeviceEntry& entry);
inline constexpr const char* kDeviceListHeading = "CAN Base |  Device  |  SerNum";

// What the window does after a call. Several calls may be merged with mergeFrom (a whole queue
// drain); the window then applies them in the order of the fields:
struct DeviceListResult {
    bool rowsChanged = false;           // rows or the selected row changed: refill the list box
    bool hideAllTools = false;          // the selected device left the list: hideAllTools
    bool clearConfiguration = false;    // a device was chosen: CConfigDataBank::deviceChanged()
    bool configureStream = false;       // canConfigureStream(kDefaultBlockSize, control, data)
    std::uint32_t streamControlId = 0;  // selected base + 0x12
    std::uint32_t streamDataId = 0;     // selected base + 0x14
    bool menusChanged = false;          // enableToolMenus(toolMenusEnabled)
    bool toolMenusEnabled = false;
    bool telemetryReset = false;  // the panel went back to its zero texts (Monitor did it)
    bool relabel = false;         // the panel's captions follow the new device (Monitor did it)

    void mergeFrom(const DeviceListResult& later);
    bool any() const {
        return rowsChanged || hideAllTools || clearConfiguration || configureStream ||
               menusChanged || telemetryReset || relabel;
    }
};

class DeviceList {
  public:
    DeviceList() = default;

    // Identification frame (identifier with its five low bits zero). `configSerial` is the
    // serial number of the configuration held (private structure), when one is held.
    DeviceListResult discover(std::uint32_t identifier, std::uint32_t bridgeAddress,
                              const CanFrame::Data& data,
                              std::optional<std::uint32_t> configSerial = std::nullopt);
    // Drops the devices not heard since the previous purge, ages the others.
    DeviceListResult purge();
    // The user chose `row` in the list box (nothing: no selection).
    DeviceListResult select(std::optional<std::size_t> row);
    // Re-connect: the list is emptied and the next device found is selected.
    DeviceListResult clear();
    // Configuration... with Shift held, or without a device: the device is deselected and
    // nothing is selected automatically until re-connect.
    DeviceListResult turnOffAutoSelect(bool clearSelection);
    // Fixes the selected base address before any device is heard (qvcli --device).
    void preselectBase(std::uint32_t base) { selected_.base = static_cast<std::int32_t>(base); }
    void setSelectedDeviceType(std::int32_t type) { selected_.type = type; }

    const std::vector<DeviceEntry>& entries() const { return entries_; }
    std::vector<std::string> rows() const;
    std::optional<std::size_t> selectedRow() const { return selectedRow_; }
    // The list's entry of the selected device (nothing while none is selected).
    std::optional<DeviceEntry> selectedEntry() const;
    const SelectedDevice& selected() const { return selected_; }

  private:
    DeviceListResult onDeviceSelected();
    void removeAt(std::size_t index, DeviceListResult& result, bool& selectedRemoved);
    DeviceListResult purgeInternal();

    std::vector<DeviceEntry> entries_;
    std::optional<std::size_t> selectedRow_;
    SelectedDevice selected_;
};

}  // namespace qv
