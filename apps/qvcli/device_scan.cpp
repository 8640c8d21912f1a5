#include "device_scan.h"

#include <algorithm>
#include <chrono>
#include <mutex>

namespace qv::cli {

namespace {

using Clock = std::chrono::steady_clock;

// A device announces itself at least every 2.4 s; its status comes every 200 ms or so.
constexpr auto kFirstDeviceWait = std::chrono::milliseconds(3000);
constexpr auto kAllDevicesWait = std::chrono::milliseconds(2500);
constexpr auto kStatusWait = std::chrono::milliseconds(700);

std::uint32_t le32(const CanFrame::Data& d, std::size_t at) {
    return static_cast<std::uint32_t>(d[at]) | (static_cast<std::uint32_t>(d[at + 1]) << 8) |
           (static_cast<std::uint32_t>(d[at + 2]) << 16) |
           (static_cast<std::uint32_t>(d[at + 3]) << 24);
}

// The products of the identification message: four characters or a type code.
bool recognisedProduct(const CanFrame::Data& d) {
    const std::uint32_t code = le32(d, 0);
    const auto text = [&](const char* p) { return std::equal(p, p + 4, d.begin()); };
    return text("KX01") || text("KX02") || text("KX03") || code == 0x4000 || code == 0x4001 ||
           code == 0x4002 || code == 0x4003 || code == 0x6000;
}

}  // namespace

std::vector<FoundDevice> scanDevices(CBcan& port, const ScanRequest& request) {
    std::mutex mutex;
    std::vector<FoundDevice> found;
    port.setRawLogHook([&](const CanPacket& p) {
        const CanFrame& f = p.frame;
        if (p.status || f.remote() || f.extended() || f.length() < 8) return;
        const std::uint32_t id = f.identifier();
        std::lock_guard lock(mutex);
        if (id % 0x20 == 0 && recognisedProduct(f.data())) {
            const std::uint32_t serial = le32(f.data(), 4);
            const bool known = std::any_of(found.begin(), found.end(), [&](const FoundDevice& d) {
                return d.base == id && d.serial == serial;
            });
            if (!known) found.push_back({id, serial, p.sourceAddress, std::nullopt});
        } else if (id % 0x20 == 1) {
            const auto flags = static_cast<std::uint16_t>(f.data()[2] | (f.data()[3] << 8));
            for (FoundDevice& d : found)
                if (d.base == id - 1) d.errorFlags = flags;
        }
    });

    auto wanted = [&](const FoundDevice& d) { return !request.base || d.base == *request.base; };
    const auto start = Clock::now();
    std::optional<Clock::time_point> foundAt;
    for (;;) {
        port.waitForFrame(0xFFFFFFFFu, nullptr, 10);
        std::lock_guard lock(mutex);
        const auto now = Clock::now();
        const bool any = std::any_of(found.begin(), found.end(), wanted);
        if (any && !foundAt) foundAt = now;
        const bool statusKnown = std::all_of(found.begin(), found.end(), [&](const FoundDevice& d) {
            return !wanted(d) || d.errorFlags.has_value();
        });
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

    std::vector<FoundDevice> result;
    for (const FoundDevice& d : found)
        if (wanted(d)) result.push_back(d);
    if (!request.all && result.size() > 1) result.resize(1);  // the first one heard
    std::stable_sort(result.begin(), result.end(),
                     [](const FoundDevice& a, const FoundDevice& b) { return a.base < b.base; });
    return result;
}

}  // namespace qv::cli
