#pragma once
// A formatted-input scanner over a bounded piece of text that behaves like the C library's
// scanf for the directives the calibration report needs: "%*[^,]", a literal character, "%d"
// and "%f". It never reads past the end of its text; a NUL ends the text as it would a C
// string.
#include <cstddef>
#include <optional>
#include <string_view>

namespace qv {

class TextScanner {
  public:
    explicit TextScanner(std::string_view text);

    // "%*[^,]": skips one or more characters up to the next comma (not included). Fails when
    // the next character is a comma or the text has ended.
    bool skipToComma();
    // A literal character in the format: matches exactly the next character, no whitespace.
    bool literal(char c);
    // "%d": whitespace, optional sign, decimal digits. The value is taken modulo 2^32 as a
    // 32-bit two's complement int: "4294967295" and "-1" read alike, as do "2147483648" and
    // "-2147483648" (no undefined behaviour for any length of digits).
    std::optional<int> scanInt();
    // "%f": whitespace, then what strtof accepts: decimal and exponent forms, hexadecimal
    // floats, "inf", "infinity", "nan" and "nan(chars)", any case, with an optional sign. The
    // input item is the longest prefix of such a form; when that prefix is not a complete form
    // (for example "1e" or "-") the directive fails. Out-of-range values become infinity or
    // zero with the sign of the text, as strtof gives them.
    std::optional<float> scanFloat();

    std::size_t position() const { return pos_; }

  private:
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek(std::size_t ahead = 0) const;
    void skipSpace();
    bool matchWord(std::string_view word);

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace qv
