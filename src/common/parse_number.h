#pragma once
// Unsigned numbers typed by people or kept in settings: decimal, or hexadecimal with "0x".
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace qv {

// The whole text must be the number; nothing on signs, spaces, garbage or overflow.
inline std::optional<std::uint64_t> parseUnsignedNumber(const std::string& text) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return std::nullopt;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
    return v;
}

}  // namespace qv
