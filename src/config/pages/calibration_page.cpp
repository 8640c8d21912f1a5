#include "config/pages/calibration_page.h"

#include <cstring>

#include "config/calibration_text.h"
#include "config/config_transfer.h"

namespace qv {

namespace {

constexpr std::size_t kLinesListed = 10;

struct ReadBack {
    PrivateConfig record;
    CalibrationScan scan;
};

// The store's record with the text read into it as the report's scan reads it, and what the
// scan found where.
ReadBack readText(const PrivateConfig& from, const std::string& text) {
    ReadBack r{from, {}};
    r.scan = scanCalibrationReport(text, r.record);
    return r;
}

std::string_view token(const std::string& text, const CalibrationValue& v) {
    return std::string_view(text).substr(v.begin, v.end - v.begin);
}

// The store's record with every value whose text differs from what the store's value prints as
// taken from `text`; the others keep their exact bits.
PrivateConfig shownValues(const PrivateConfig& stored, const std::string& storedReport,
                          const std::string& text, const ReadBack& edited) {
    PrivateConfig dummy = stored;
    const CalibrationScan reference = scanCalibrationReport(storedReport, dummy);
    PrivateConfig out = stored;
    const auto* typed = reinterpret_cast<const unsigned char*>(&edited.record);
    auto* result = reinterpret_cast<unsigned char*>(&out);
    for (std::size_t i = 0; i < edited.scan.values.size(); ++i) {
        const CalibrationValue& v = edited.scan.values[i];
        const bool asStored = i < reference.values.size() &&
                              reference.values[i].offset == v.offset &&
                              token(storedReport, reference.values[i]) == token(text, v);
        if (!asStored) std::memcpy(result + v.offset, typed + v.offset, v.size);
    }
    return out;
}

}  // namespace

MessageBoxRequest unreadLinesQuestion(const std::vector<UnreadLine>& lines) {
    std::string text = "These lines of the calibration text cannot be read whole:\r\n";
    for (std::size_t i = 0; i < lines.size() && i < kLinesListed; ++i)
        text += "\r\nLine " + std::to_string(lines[i].number) + ": " + lines[i].text;
    if (lines.size() > kLinesListed)
        text += "\r\n(and " + std::to_string(lines.size() - kLinesListed) + " more)";
    text +=
        "\r\n\r\nOnly the part before the first character that does not belong to a number is "
        "read, and a scan that stops leaves the later values as they were.\r\n\r\nStore the "
        "values as read anyway?";
    MessageBoxRequest r;
    r.text = std::move(text);
    r.caption = "Calibration";
    r.icon = MessageIcon::Warning;
    r.buttons = MessageButtons::YesNo;
    r.defaultAnswer = MessageAnswer::No;
    return r;
}

std::string CConfigCal::report() const {
    return buildCalibrationReport(store_.privateConfig, isolatedCharger_);
}

bool CConfigCal::fillPage(std::int32_t deviceType) {
    if (transferRunning(store_)) return false;
    isolatedCharger_ = usesIsolatedChargerLabels(static_cast<std::uint16_t>(deviceType));
    text_ = report();
    confirmedText_.clear();
    return true;
}

bool CConfigCal::editText(std::string text) {
    if (transferRunning(store_)) return false;
    text_ = std::move(text);
    store_.markModified(StructureKind::Private);
    return true;
}

bool CConfigCal::differsFromStore() const {
    const std::string stored = report();
    if (text_ == stored) return false;
    const ReadBack edited = readText(store_.privateConfig, text_);
    const PrivateConfig shown = shownValues(store_.privateConfig, stored, text_, edited);
    return std::memcmp(&shown, &store_.privateConfig, sizeof shown) != 0;
}

FieldCheck CConfigCal::storePage() {
    if (transferRunning(store_)) return {true, kEditId};
    const std::string stored = report();
    if (text_ == stored) return {};
    const ReadBack edited = readText(store_.privateConfig, text_);
    if (!edited.scan.unread.empty() && text_ != confirmedText_) {
        if (ui_.messageBox(unreadLinesQuestion(edited.scan.unread)) != MessageAnswer::Yes)
            return {true, kEditId};
        confirmedText_ = text_;
    }
    store_.privateConfig = shownValues(store_.privateConfig, stored, text_, edited);
    return {};
}

}  // namespace qv
