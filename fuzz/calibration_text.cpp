// Fuzzes the calibration report reader and the page's scan of it (the same values, each within
// the text; the lines it cannot read whole exist). Reading never goes past the text, and the
// rounding of print-then-read settles after one round: reading a report of values that were
// themselves read from a report gives back exactly those values.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "config/calibration_text.h"
#include "config/config_data_bank.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    qv::PrivateConfig config = qv::defaultPrivateConfig();
    const std::size_t read = qv::readCalibrationReport(text, config);
    if (read > 70) std::abort();
    // The page's scan reads the same values, each within the text, and names lines that exist.
    qv::PrivateConfig scanned = qv::defaultPrivateConfig();
    const qv::CalibrationScan scan = qv::scanCalibrationReport(text, scanned);
    if (scan.values.size() != read || std::memcmp(&scanned, &config, sizeof config) != 0)
        std::abort();
    for (const qv::CalibrationValue& v : scan.values)
        if (v.begin >= v.end || v.end > size) std::abort();
    for (const qv::UnreadLine& line : scan.unread)
        if (line.number == 0 || line.text.size() > size) std::abort();

    // The round trip costs a hundred formatted numbers; check it on one input size in eight.
    if (size % 8 != 0) return 0;
    const bool charger = size > 0 && (data[0] & 1);
    qv::PrivateConfig once = config;
    if (qv::readCalibrationReport(qv::buildCalibrationReport(config, charger), once) != 70)
        std::abort();
    qv::PrivateConfig twice = once;
    if (qv::readCalibrationReport(qv::buildCalibrationReport(once, !charger), twice) != 70)
        std::abort();
    if (std::memcmp(&once, &twice, sizeof once) != 0) std::abort();
    return 0;
}
