#include "device_scan.h"

#include <algorithm>
#include <chrono>
#include <map>

#include "monitor/device_list.h"

namespace qv::cli {

namespace {

using Clock = std::chrono::steady_clock;

// A device announces itself at least every 2.4 s; its status comes every 200 ms or so.
constexpr auto kFirstDeviceWait = std::chrono::milliseconds(3000);
constexpr auto kAllDevicesWait = std::chrono::milliseconds(2500);
constexpr auto kStatusWait = std::chrono::milliseconds(700);

}  // namespace

std::vector<FoundDevice> scanDevices(CBcan& port, const ScanRequest& request) {
    DeviceList list;
    if (request.base) list.preselectBase(*request.base);
    std::map<std::uint32_t, std::uint16_t> errorFlags;  // by base, from the status messages
    port.setRawLogHook([&](const CanPacket& p) {
        const CanFrame& f = p.frame;
        if (p.status || f.remote() || f.extended()) return;
        const std::uint32_t id = f.identifier();
        if (id % 0x20 == 0)
            list.discover(id, p.sourceAddress, f.data());
        else if (id % 0x20 == 1)
            errorFlags[id - 1] = static_cast<std::uint16_t>(f.data()[2] | (f.data()[3] << 8));
    });

    // The devices asked for: every one listed, or the selected one.
    auto wanted = [&] {
        std::vector<FoundDevice> out;
        const SelectedDevice& chosen = list.selected();
        for (const DeviceEntry& e : list.entries()) {
            if (!request.all &&
                !(chosen.selected && e.baseAddress == static_cast<std::uint32_t>(chosen.base) &&
                  e.serialNumber == chosen.serial))
                continue;
            FoundDevice d{e.baseAddress, e.serialNumber, e.bridgeAddress, std::nullopt,
                          e.deviceType};
            if (const auto it = errorFlags.find(e.baseAddress); it != errorFlags.end())
                d.errorFlags = it->second;
            out.push_back(d);
        }
        return out;
    };
    const auto start = Clock::now();
    std::optional<Clock::time_point> foundAt;
    std::vector<FoundDevice> found;
    for (;;) {
        // The raw log hook runs on this thread, inside the wait.
        port.waitForFrame(0xFFFFFFFFu, nullptr, 10);
        const auto now = Clock::now();
        found = wanted();
        if (!found.empty() && !foundAt) foundAt = now;
        const bool statusKnown = std::all_of(found.begin(), found.end(),
                                             [](const FoundDevice& d) { return d.errorFlags; });
        if (request.all) {
            if (now - start >= kAllDevicesWait &&
                (statusKnown || now - start >= kAllDevicesWait + kStatusWait))
                break;
        } else if (foundAt) {
            if (statusKnown || now - *foundAt >= kStatusWait) break;
        } else if (now - start >= kFirstDeviceWait) {
            break;
        }
    }
    port.setRawLogHook({});
    return found;
}

}  // namespace qv::cli
