#include "drive/error_log.h"

#include <cctype>

namespace qv {

const std::array<std::string_view, kErrorLogEventCount> kErrorLogEventNames = {
    "Hardware Phase A Over Current",
    "Hardware Phase B Over Current",
    "Software Phase A Over Current",
    "Software Phase B Over Current",
    "Software Bus Over Current",
    "Bus Over Voltage",
    "Bad Hall Sequence (Halls)",
    "Bad Hall Sequence (Volt-Curr)",
    "Configuration File Missing",
    "Bad Config Public Struct CheckSum",
    "Bad Config Private Struct CheckSum",
    "Bad Config Motor Struct CheckSum",
    "Bad Config Public Struct Size",
    "Bad Config Private Struct Size",
    "Bad Config Motor Struct Size",
    "Watch Dog Reset",
    "15V Under Voltage",
};

namespace {

// Surrounding blanks are forgiven; what remains must be decimal digits.
std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

}  // namespace

CelogRead::CelogRead(UserInteraction& ui, std::string applicationTitle)
    : ui_(ui), applicationTitle_(std::move(applicationTitle)) {}

bool CelogRead::ok() {
    const std::string_view digits = trimmed(countText_);
    bool allDigits = !digits.empty();
    for (char c : digits) allDigits = allDigits && c >= '0' && c <= '9';
    std::string prompt;
    std::uint64_t value = 0;
    if (!allDigits) {
        prompt = "Please enter a positive integer.";
    } else {
        // Any number of digits: a value too large for 32 bits is out of range, not garbage.
        for (char c : digits) {
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
            if (value > kMaxErrorLogCount) break;
        }
        if (value > kMaxErrorLogCount)
            prompt =
                "Please enter an integer between 0 and " + std::to_string(kMaxErrorLogCount) + ".";
    }
    if (!prompt.empty()) {
        focusOnCount_ = true;
        ui_.messageBox({prompt, applicationTitle_, MessageIcon::Warning, MessageButtons::Ok,
                        MessageAnswer::Ok});
        return false;
    }
    count_ = static_cast<std::uint32_t>(value);
    focusOnCount_ = false;
    return true;
}

}  // namespace qv
