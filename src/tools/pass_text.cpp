#include "tools/pass_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "config/transfer_messages.h"

namespace qv {

std::string firstLine(std::string_view text) {
    const auto end = text.find_first_of("\r\n");
    return std::string(text.substr(0, end));
}

std::string plainText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\r') out += c;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::string failureText(const std::vector<PassBox>& boxes) {
    if (boxes.empty()) return "cancelled";
    const PassBox& last = boxes.back();
    const bool question = last.request.buttons != MessageButtons::Ok;
    if (question && (last.answer == MessageAnswer::No || last.answer == MessageAnswer::Cancel))
        return "declined \"" + firstLine(last.request.text) + "\"";
    return plainText(last.request.text);
}

std::string boxesText(const std::vector<PassBox>& boxes) {
    std::string out;
    for (const PassBox& b : boxes) {
        if (!out.empty()) out += "\n";
        out += b.request.caption + ": " + plainText(b.request.text);
    }
    return out;
}

std::string resetText(const std::vector<PassBox>& boxes) {
    const std::string failed = resetFailedMessage().text;
    for (const PassBox& b : boxes)
        if (b.request.text == failed) return plainText(failed);
    return "sent";
}

std::string baseAddressText(std::uint32_t base) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%03X", static_cast<unsigned>(base));
    return text;
}

std::string hexText(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

std::string numberText(double value, int significant) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char text[64];
    const auto r =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, significant);
    return std::string(text, r.ptr);
}

}  // namespace qv
