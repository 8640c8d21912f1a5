#pragma once
// Finds the controllers on the bus for the configuration commands with the program's device
// list (the device selected first is the one the main window would select), and the error
// flags of each one's latest status message (the configuration error "CFG" decides recovery
// mode).
#include <cstdint>
#include <optional>
#include <vector>

#include "link/can_port.h"

namespace qv::cli {

struct FoundDevice {
    std::uint32_t base = 0;
    std::uint32_t serial = 0;
    std::uint32_t bridgeAddress = 0;
    std::optional<std::uint16_t> errorFlags;  // none until a status message was heard
    std::int32_t deviceType = 0;              // as the identification announced it
};

struct ScanRequest {
    std::optional<std::uint32_t> base;  // only this device; otherwise the first one heard
    bool all = false;                   // every device announcing within one purge period
};

// Listens on the open port. Devices are ordered by base address, as the device list shows them.
std::vector<FoundDevice> scanDevices(CBcan& port, const ScanRequest& request);

}  // namespace qv::cli
