#pragma once
// CHexEdit: the edit control for CAN identifiers, in decimal or hexadecimal with a "0x" prefix.
// Its text, the hexadecimal flag and colours that follow the text, the keyboard filter that
// keeps the text a number, the clipboard rules and the context menu with "Con&vert". The
// widget forwards keys and menu commands and shows text() in colours().
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct HexEditColours {
    Rgb text;
    Rgb background;
    friend bool operator==(const HexEditColours&, const HexEditColours&) = default;
};

inline constexpr HexEditColours kHexColours{{74, 115, 132}, {219, 247, 220}};
inline constexpr HexEditColours kDecimalColours{{192, 97, 10}, {251, 244, 170}};
inline constexpr const char* kCannotOpenClipboardText = "Cannot open clipboard!";

// A context menu entry; an empty text is a separator.
struct HexEditMenuItem {
    std::string text;
    bool enabled = false;
};

enum class HexEditCommand { Undo, Cut, Copy, Paste, Delete, SelectAll, Convert };

class CHexEdit {
  public:
    void setText(std::string text);
    const std::string& text() const { return text_; }
    // Set when the text starts with "0x" or holds one of the letters A to F.
    bool isHex() const { return hex_; }
    HexEditColours colours() const { return hex_ ? kHexColours : kDecimalColours; }

    // Hexadecimal: after the "0x", read as hex; else as unsigned decimal. Unreadable text gives
    // 0; digits beyond 32 bits make a value above 0xFFFFFFFF (so that no check mistakes it for
    // a small one).
    std::uint64_t getValue() const;
    // "0x%X".
    void setValue(std::uint32_t value);
    // "Con&vert": hexadecimal text becomes decimal and decimal text "0x" hexadecimal.
    void convert();

    // Keyboard filter. A printable character typed over the selection [start, end): the
    // character to insert (a to f in upper case, X as x), or nothing when it is refused.
    std::optional<char> filterChar(char typed, std::size_t start, std::size_t end) const;
    // Backspace, Delete or Ctrl+X over [start, end) (an empty selection takes the character
    // before the caret for Backspace, after it for Delete): false when it would leave the "x"
    // of a "0x" prefix without its "0".
    bool mayRemove(std::size_t start, std::size_t end, bool backspace) const;
    // Whether `clipboard` pasted over [start, end) leaves a valid number.
    bool canPaste(const std::string& clipboard, std::size_t start, std::size_t end) const;
    // Clipboard text as the control puts it back before an edit command: upper case, except
    // that "X" and "x" both become "x".
    static std::string normaliseClipboard(const std::string& text);
    // Decimal digits, or "0x" and hexadecimal digits (upper case), or hexadecimal digits.
    static bool isValidNumberText(const std::string& text);

    // The context menu, top to bottom, with the enable rules.
    std::vector<HexEditMenuItem> contextMenu(bool canUndo, bool readOnly, std::size_t start,
                                             std::size_t end,
                                             const std::optional<std::string>& clipboard) const;

  private:
    bool hasPrefix() const { return text_.size() >= 2 && text_[0] == '0' && text_[1] == 'x'; }

    std::string text_;
    bool hex_ = false;
};

}  // namespace qv
