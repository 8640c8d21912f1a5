#include "monitor/number_text.h"

#include <charconv>

namespace qv {

void appendFixed(std::string& out, double value, int decimals) {
    // Room for the largest double in fixed notation (309 digits) and its decimals.
    char text[400];
    const auto r =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    out.append(text, r.ec == std::errc() ? r.ptr : text);
}

void appendInt(std::string& out, std::int64_t value) {
    char text[24];
    const auto r = std::to_chars(text, text + sizeof text, value);
    out.append(text, r.ptr);
}

void appendHex(std::string& out, std::uint32_t value) {
    char text[12];
    auto r = std::to_chars(text, text + sizeof text, value, 16);
    for (char* p = text; p != r.ptr; ++p)
        if (*p >= 'a' && *p <= 'f') *p = static_cast<char>(*p - 'a' + 'A');
    out.append(text, r.ptr);
}

void appendBitNames(std::string& out, std::uint32_t bits, std::span<const char* const> names) {
    const std::size_t start = out.size();
    for (std::size_t i = names.size(); i-- > 0;) {
        if ((bits & (1u << i)) == 0) continue;
        if (out.size() != start) out += ", ";
        out += names[i];
    }
}

}  // namespace qv
