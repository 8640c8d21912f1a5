#pragma once
// Number formatting for screen texts and log files, the same in every locale (a '.' decimal
// point): the printf conversions "%0.Nf", "%d" and "%X" the texts are written with.
#include <cstdint>
#include <span>
#include <string>

namespace qv {

// printf("%.*f", decimals, value) in the C locale.
void appendFixed(std::string& out, double value, int decimals);
void appendInt(std::string& out, std::int64_t value);
// Upper-case hexadecimal, no padding ("%X").
void appendHex(std::string& out, std::uint32_t value);

// The names of the set bits, highest bit first, joined by ", " (bit i is names[i]).
void appendBitNames(std::string& out, std::uint32_t bits, std::span<const char* const> names);

// " °C" as shown on screen (UTF-8).
inline constexpr const char* kDegreesCelsius =
    " \xC2\xB0"
    "C";

inline std::string fixedText(double value, int decimals) {
    std::string s;
    appendFixed(s, value, decimals);
    return s;
}

}  // namespace qv
