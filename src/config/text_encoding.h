#pragma once
// Texts in the configuration and in its files are 8-bit Windows-1252, as the controllers and
// the original files hold them; the windows and the terminal show UTF-8. The conversion happens
// at the edge between the two, with the C library's iconv.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// Every byte as its character. A byte Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) shows as U+FFFD.
std::string windows1252ToUtf8(std::string_view bytes);

struct Windows1252Text {
    std::string bytes;                   // one byte per character
    std::optional<std::string> refused;  // the first character Windows-1252 cannot hold
};
// The UTF-8 text in Windows-1252. Text that is not valid UTF-8 is refused as a whole.
Windows1252Text utf8ToWindows1252(std::string_view utf8);

// Characters (code points) of UTF-8 text; each invalid byte counts as one.
std::size_t utf8Length(std::string_view utf8);

// The message for a character a text field cannot hold.
std::string notWindows1252Text(const std::string& character);

}  // namespace qv
