#include "config/pages/hex_edit.h"

#include <cctype>
#include <cstdio>

namespace qv {

namespace {

constexpr std::uint64_t kBeyond32Bits = 0x100000000ull;

bool isHexLetter(char c) {
    return (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int digitValue(char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads leading digits of `radix` as sscanf would; a value past 32 bits saturates above them.
std::uint64_t readDigits(const std::string& text, std::size_t from, int radix) {
    std::uint64_t v = 0;
    for (std::size_t i = from; i < text.size(); ++i) {
        const int d = digitValue(text[i]);
        if (d < 0 || d >= radix) break;
        v = v * static_cast<std::uint64_t>(radix) + static_cast<std::uint64_t>(d);
        if (v >= kBeyond32Bits) return kBeyond32Bits;
    }
    return v;
}

}  // namespace

void CHexEdit::setText(std::string text) {
    text_ = std::move(text);
    hex_ = (text_.size() >= 2 && text_[0] == '0' && (text_[1] == 'x' || text_[1] == 'X'));
    for (char c : text_) hex_ = hex_ || isHexLetter(c);
}

std::uint64_t CHexEdit::getValue() const {
    if (!hex_) return readDigits(text_, 0, 10);
    const bool prefix =
        text_.size() >= 2 && text_[0] == '0' && (text_[1] == 'x' || text_[1] == 'X');
    return readDigits(text_, prefix ? 2 : 0, 16);
}

void CHexEdit::setValue(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    setText(text);
}

void CHexEdit::convert() {
    if (text_.empty() || text_ == "0x") return;
    const std::uint64_t v = getValue();
    if (v >= kBeyond32Bits) return;  // no 32-bit number to show the other way
    char text[24];
    if (hex_)
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(v));
    else
        std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(v));
    setText(text);
}

std::optional<char> CHexEdit::filterChar(char typed, std::size_t start, std::size_t end) const {
    // Nothing goes inside (or in front of) a "0x" prefix that stays.
    if (hasPrefix() && start < 2 && !(start == 0 && end >= 2)) return std::nullopt;
    if (isDigit(typed)) return typed;
    if (isHexLetter(typed))
        return static_cast<char>(std::toupper(static_cast<unsigned char>(typed)));
    if (typed == 'x' || typed == 'X') {
        // Only as the second character, right after a leading "0", and only once.
        if (start != 1 || end > text_.size() || text_.empty() || text_[0] != '0')
            return std::nullopt;
        const std::string result = text_.substr(0, start) + 'x' + text_.substr(end);
        if (result.find('x', 2) == std::string::npos) return 'x';
    }
    return std::nullopt;
}

bool CHexEdit::mayRemove(std::size_t start, std::size_t end, bool backspace) const {
    if (start == end) {
        if (backspace) {
            if (start == 0) return true;
            --start;
        } else {
            ++end;
        }
    }
    // The "0" of the prefix never goes alone.
    return !(hasPrefix() && start == 0 && end == 1);
}

std::string CHexEdit::normaliseClipboard(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == 'X' || c == 'x')
            out += 'x';
        else
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

bool CHexEdit::isValidNumberText(const std::string& text) {
    std::size_t from = 0;
    if (text.size() >= 2 && text[0] == '0' && text[1] == 'x') from = 2;
    for (std::size_t i = from; i < text.size(); ++i)
        if (!isDigit(text[i]) && !isHexLetter(text[i])) return false;
    return true;
}

bool CHexEdit::canPaste(const std::string& clipboard, std::size_t start, std::size_t end) const {
    const std::string pasted = normaliseClipboard(clipboard);
    if (pasted.empty() || start > end || end > text_.size()) return false;
    return isValidNumberText(text_.substr(0, start) + pasted + text_.substr(end));
}

std::vector<HexEditMenuItem> CHexEdit::contextMenu(
    bool canUndo, bool readOnly, std::size_t start, std::size_t end,
    const std::optional<std::string>& clipboard) const {
    const bool selection = end > start;
    const bool onlyPrefixZero = hasPrefix() && start == 0 && end == 1;
    const bool cut = selection && !readOnly && !onlyPrefixZero;
    const bool wholeSelected = start == 0 && end >= text_.size();
    return {
        {"&Undo", canUndo && !readOnly},
        {"", false},
        {"Cu&t", cut},
        {"&Copy", selection},
        {"&Paste", !readOnly && clipboard && canPaste(*clipboard, start, end)},
        {"&Delete", cut},
        {"", false},
        {"Select &All", !text_.empty() && !wholeSelected},
        {"", false},
        {"Con&vert", !text_.empty() && text_ != "0x"},
    };
}

}  // namespace qv
