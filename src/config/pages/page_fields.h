#pragma once
// What the configuration pages share: number fields with their display format and range check
// (the framework's validation texts with the numbers filled in), and the rule by which a write
// back stores what a page shows: a field whose text is what the store's value displays as keeps
// the store's exact value (a fill followed by a store never rounds anything), any other text is
// stored as the number it reads. The decision is made per field against what the store holds
// at the write back, never against an older fill, so a value changed, written back and changed
// back is written back again.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/user_interaction.h"

namespace qv {

// Texts of the pages are UTF-8, as on screen; the degree sign is U+00B0.
inline constexpr const char* kDegreeSign = "\xC2\xB0";
inline constexpr const char* kDefaultPageCaption = "qvConfig";

// The framework's validation boxes: warning icon, OK, the application's caption.
MessageBoxRequest validationMessage(std::string text, const std::string& caption);
std::string numberRangeText(double min, double max);  // "Please enter a number between ..."
std::string integerRangeText(long long min, long long max);
inline constexpr const char* kNotANumberText = "Please enter a number.";
inline constexpr const char* kNotAnIntegerText = "Please enter an integer.";
std::string tooLongText(std::size_t limit);  // "Please enter no more than %1 characters."

// The whole text as a number (blanks around it allowed); nothing otherwise.
std::optional<double> parseNumber(const std::string& text);
std::optional<long long> parseInteger(const std::string& text);

enum class NumberFormat {
    Rounded2,  // rounded to two decimals, then shortest ("%.15g")
    Rounded4,  // rounded to four decimals, then shortest
    Fixed2,    // "%.2f"
    Fixed4,    // "%.4f"
    Float,     // as stored: "%.6g", the float's significant digits
    Exp4,      // "%0.4e"
    Integer,   // "%lld"
};
std::string formatNumber(double value, NumberFormat format);

struct NumberField {
    int id = 0;
    NumberFormat format = NumberFormat::Float;
    std::optional<double> min, max;  // the range check, when the field has one
    std::function<double()> read;    // the value shown, from the store
    std::function<void(double)> write;
    // The unit of the value as shown ("A", "°C"; "" for none); it may follow the device type.
    std::function<std::string()> unit = {};
};

// The unit a label names in its last brackets: "Speed Limit (RPM)" gives "RPM", a label
// without brackets "".
std::string unitInLabel(const std::string& label);
// A field's tool tip from its check and unit: "0 to 700 Arms", "An integer from 0 to 9",
// "A number, in mR", "A number".
std::string rangeHint(NumberFormat format, std::optional<double> min, std::optional<double> max,
                      const std::string& unit);

// The number fields of one page: their texts between a fill and a store. A store writes only
// the fields whose text is not what the store's value displays as.
class NumberFields {
  public:
    void add(NumberField field);
    bool has(int id) const { return fields_.count(id) != 0; }
    void setUnit(int id, std::function<std::string()> unit) {
        fields_.at(id).field.unit = std::move(unit);
    }

    // Every field's text from the store.
    void fill();
    // Replaces a field's text and keeps what it was filled with.
    void fillOne(int id);
    void setText(int id, std::string text);
    const std::string& text(int id) const;
    // The text the store's value displays as now.
    std::string display(int id) const;
    // The text is not the display of the store's value: a store would write it.
    bool differsFromStore(int id) const;
    // Any field but the `ignored` ones differs from the store.
    bool anyDiffersFromStore(const std::vector<int>& ignored = {}) const;

    // The field's tool tip: its range and unit, from the same table as its check.
    std::string hint(int id) const;

    // The check run when the field loses the focus (or on store): the message to show, if any.
    std::optional<std::string> check(int id) const;
    // Checks and writes every field in order. A field that fails keeps its value in the store;
    // the first failure is returned with its id.
    std::optional<std::pair<int, std::string>> store();

  private:
    struct Entry {
        NumberField field;
        std::string text;
    };
    std::vector<int> order_;
    std::map<int, Entry> fields_;
};

// A float32 field of a packed record, by its offset (never through a pointer to it).
template <typename Record>
double recordFloat(const Record& record, std::size_t offset) {
    float v;
    std::memcpy(&v, reinterpret_cast<const unsigned char*>(&record) + offset, sizeof v);
    return v;
}
template <typename Record>
void setRecordFloat(Record& record, std::size_t offset, double value) {
    const float v = static_cast<float>(value);
    std::memcpy(reinterpret_cast<unsigned char*>(&record) + offset, &v, sizeof v);
}

// The result of a field losing the focus or of a page's write back.
struct FieldCheck {
    bool keepFocus = false;  // the field stays focused (its value was refused)
    int focusId = 0;         // for a write back: the first refused field
    int record = -1;         // the motor page of that field (-1: not on a motor page)
};

}  // namespace qv
