#include "config/pages/calibration_page.h"

#include <cstring>

#include "config/calibration_text.h"
#include "config/config_dump.h"
#include "config/config_transfer.h"

namespace qv {

namespace {

std::size_t elementSize(const FieldInfo& f) {
    return f.type == FieldType::U16 || f.type == FieldType::Hex16 ? 2 : 4;
}

}  // namespace

bool CConfigCal::fillPage(std::int32_t deviceType) {
    if (transferRunning(store_)) return false;
    text_ = filledText_ = buildCalibrationReport(
        store_.privateConfig, usesIsolatedChargerLabels(static_cast<std::uint16_t>(deviceType)));
    return true;
}

bool CConfigCal::editText(std::string text) {
    if (transferRunning(store_)) return false;
    text_ = std::move(text);
    store_.markModified(StructureKind::Private);
    return true;
}

bool CConfigCal::storePage() {
    if (transferRunning(store_)) return false;
    if (text_ == filledText_) return true;
    const PrivateConfig original = store_.privateConfig;
    PrivateConfig edited = original;
    readCalibrationReport(text_, edited);
    // What an untouched report reads back as: the stored values as printed.
    PrivateConfig asPrinted = original;
    readCalibrationReport(filledText_, asPrinted);
    auto* out = reinterpret_cast<unsigned char*>(&edited);
    const auto* printed = reinterpret_cast<const unsigned char*>(&asPrinted);
    const auto* exact = reinterpret_cast<const unsigned char*>(&original);
    for (const FieldInfo& f : recordFields(StructureKind::Private)) {
        const std::size_t step = elementSize(f);
        for (std::size_t at = f.offset; at < f.offset + fieldSize(f); at += step)
            if (std::memcmp(out + at, printed + at, step) == 0)
                std::memcpy(out + at, exact + at, step);
    }
    store_.privateConfig = edited;
    return true;
}

}  // namespace qv
