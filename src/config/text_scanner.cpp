#include "config/text_scanner.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace qv {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
bool isNanChar(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

float withSign(float v, bool negative) {
    return negative ? -v : v;
}

// Adds a digit to a saturating exponent.
long long addDigit(long long value, char digit) {
    constexpr long long kLimit = 1'000'000'000;
    return value >= kLimit ? value : value * 10 + (digit - '0');
}

}  // namespace

TextScanner::TextScanner(std::string_view text) : text_(text) {
    // The text is a C string: a NUL ends it.
    const std::size_t nul = text_.find('\0');
    if (nul != std::string_view::npos) text_ = text_.substr(0, nul);
}

char TextScanner::peek(std::size_t ahead) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
}

void TextScanner::skipSpace() {
    while (!atEnd() && isSpace(text_[pos_])) ++pos_;
}

bool TextScanner::matchWord(std::string_view word) {
    for (char w : word) {
        if (atEnd() || lower(text_[pos_]) != w) return false;
        ++pos_;
    }
    return true;
}

bool TextScanner::skipToComma() {
    const std::size_t start = pos_;
    while (!atEnd() && text_[pos_] != ',') ++pos_;
    return pos_ > start;
}

bool TextScanner::literal(char c) {
    if (atEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
}

std::optional<int> TextScanner::scanInt() {
    skipSpace();
    bool negative = false;
    if (peek() == '+' || peek() == '-') {
        negative = peek() == '-';
        ++pos_;
    }
    if (!isDigit(peek())) return std::nullopt;
    // The value modulo 2^32, so that an unsigned 32-bit number (a serial number printed
    // without sign) comes back with the same bits as the signed print of it.
    std::uint32_t magnitude = 0;
    while (isDigit(peek())) {
        magnitude = magnitude * 10u + static_cast<std::uint32_t>(peek() - '0');
        ++pos_;
    }
    const std::uint32_t bits = negative ? 0u - magnitude : magnitude;
    return static_cast<int>(static_cast<std::int32_t>(bits));
}

std::optional<float> TextScanner::scanFloat() {
    skipSpace();
    bool negative = false;
    if (peek() == '+' || peek() == '-') {
        negative = peek() == '-';
        ++pos_;
    }
    const char first = lower(peek());
    if (first == 'i') {
        if (!matchWord("inf")) return std::nullopt;
        if (lower(peek()) == 'i' && !matchWord("inity")) return std::nullopt;
        return withSign(std::numeric_limits<float>::infinity(), negative);
    }
    if (first == 'n') {
        if (!matchWord("nan")) return std::nullopt;
        if (peek() == '(') {
            ++pos_;
            while (isNanChar(peek())) ++pos_;
            if (!literal(')')) return std::nullopt;
        }
        return std::copysign(std::numeric_limits<float>::quiet_NaN(), negative ? -1.0f : 1.0f);
    }

    const bool hex = peek() == '0' && lower(peek(1)) == 'x';
    const auto digit = hex ? isHexDigit : isDigit;
    if (hex) pos_ += 2;
    const std::size_t start = pos_;
    // Order of magnitude of the first significant digit, in digits of the base, for telling
    // an overflow from an underflow.
    long long leadIntDigits = 0;
    long long leadZeroFraction = 0;
    bool anyDigit = false;
    bool significant = false;
    while (digit(peek())) {
        anyDigit = true;
        if (peek() != '0') significant = true;
        if (significant) ++leadIntDigits;
        ++pos_;
    }
    if (peek() == '.') {
        ++pos_;
        while (digit(peek())) {
            anyDigit = true;
            if (peek() != '0') significant = true;
            if (!significant) ++leadZeroFraction;
            ++pos_;
        }
    }
    if (!anyDigit) return std::nullopt;
    long long exponent = 0;
    const char mark = lower(peek());
    if ((!hex && mark == 'e') || (hex && mark == 'p')) {
        ++pos_;
        bool negativeExp = false;
        if (peek() == '+' || peek() == '-') {
            negativeExp = peek() == '-';
            ++pos_;
        }
        if (!isDigit(peek())) return std::nullopt;
        while (isDigit(peek())) {
            exponent = addDigit(exponent, peek());
            ++pos_;
        }
        if (negativeExp) exponent = -exponent;
    }

    const char* begin = text_.data() + start;
    const char* end = text_.data() + pos_;
    float value = 0.0f;
    const auto result = std::from_chars(begin, end, value,
                                        hex ? std::chars_format::hex : std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        const long long digitsPerUnit = hex ? 4 : 1;
        const long long magnitude =
            (leadIntDigits > 0 ? leadIntDigits : -leadZeroFraction) * digitsPerUnit + exponent;
        value = magnitude > 0 ? std::numeric_limits<float>::infinity() : 0.0f;
    } else if (result.ec != std::errc{} || result.ptr != end) {
        return std::nullopt;
    }
    return withSign(value, negative);
}

}  // namespace qv
