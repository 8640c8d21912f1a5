#include "config/pages/page_fields.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace qv {

namespace {

std::string shortest(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", v);
    return text;
}

bool onlyBlanks(const char* p) {
    while (*p == ' ' || *p == '\t') ++p;
    return *p == '\0';
}

}  // namespace

MessageBoxRequest validationMessage(std::string text, const std::string& caption) {
    MessageBoxRequest r;
    r.text = std::move(text);
    r.caption = caption;
    r.icon = MessageIcon::Warning;
    r.buttons = MessageButtons::Ok;
    r.defaultAnswer = MessageAnswer::Ok;
    return r;
}

std::string numberRangeText(double min, double max) {
    return "Please enter a number between " + shortest(min) + " and " + shortest(max) + ".";
}

std::string integerRangeText(long long min, long long max) {
    return "Please enter an integer between " + std::to_string(min) + " and " +
           std::to_string(max) + ".";
}

std::string tooLongText(std::size_t limit) {
    return "Please enter no more than " + std::to_string(limit) + " characters.";
}

std::optional<double> parseNumber(const std::string& text) {
    const char* start = text.c_str();
    while (*start == ' ' || *start == '\t') ++start;
    if (*start == '\0') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(start, &end);
    if (end == start || !onlyBlanks(end) || errno == ERANGE || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<long long> parseInteger(const std::string& text) {
    const char* start = text.c_str();
    while (*start == ' ' || *start == '\t') ++start;
    if (*start == '\0') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(start, &end, 10);
    if (end == start || !onlyBlanks(end) || errno == ERANGE) return std::nullopt;
    return v;
}

std::string formatNumber(double value, NumberFormat format) {
    char text[64];
    switch (format) {
        case NumberFormat::Rounded2:
            return shortest(std::floor(value * 100 + 0.5) / 100);
        case NumberFormat::Rounded4:
            return shortest(std::floor(value * 10000 + 0.5) / 10000);
        case NumberFormat::Fixed2:
            std::snprintf(text, sizeof text, "%.2f", value);
            break;
        case NumberFormat::Fixed4:
            std::snprintf(text, sizeof text, "%.4f", value);
            break;
        case NumberFormat::Float:
            std::snprintf(text, sizeof text, "%.6g", value);
            break;
        case NumberFormat::Exp4:
            std::snprintf(text, sizeof text, "%0.4e", value);
            break;
        case NumberFormat::Integer:
            std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
            break;
    }
    return text;
}

void NumberFields::add(NumberField field) {
    const int id = field.id;
    order_.push_back(id);
    fields_[id] = Entry{std::move(field), {}};
}

void NumberFields::fill() {
    for (int id : order_) fillOne(id);
}

void NumberFields::fillOne(int id) {
    Entry& e = fields_.at(id);
    e.text = formatNumber(e.field.read(), e.field.format);
}

void NumberFields::setText(int id, std::string text) {
    fields_.at(id).text = std::move(text);
}

const std::string& NumberFields::text(int id) const {
    return fields_.at(id).text;
}

std::string NumberFields::display(int id) const {
    const Entry& e = fields_.at(id);
    return formatNumber(e.field.read(), e.field.format);
}

bool NumberFields::differsFromStore(int id) const {
    return text(id) != display(id);
}

bool NumberFields::anyDiffersFromStore(const std::vector<int>& ignored) const {
    for (int id : order_)
        if (std::find(ignored.begin(), ignored.end(), id) == ignored.end() && differsFromStore(id))
            return true;
    return false;
}

std::optional<std::string> NumberFields::check(int id) const {
    const Entry& e = fields_.at(id);
    const NumberField& f = e.field;
    if (f.format == NumberFormat::Integer) {
        const auto v = parseInteger(e.text);
        if (!v) return kNotAnIntegerText;
        if ((f.min && *v < *f.min) || (f.max && *v > *f.max))
            return integerRangeText(static_cast<long long>(f.min.value_or(0)),
                                    static_cast<long long>(f.max.value_or(0)));
        return std::nullopt;
    }
    const auto v = parseNumber(e.text);
    if (!v) return kNotANumberText;
    if ((f.min && *v < *f.min) || (f.max && *v > *f.max))
        return numberRangeText(f.min.value_or(0), f.max.value_or(0));
    return std::nullopt;
}

std::optional<std::pair<int, std::string>> NumberFields::store() {
    std::optional<std::pair<int, std::string>> first;
    for (int id : order_) {
        const Entry& e = fields_.at(id);
        // Shown as the store's value displays: the store keeps it exactly, never rounded.
        if (!differsFromStore(id)) continue;
        if (const auto problem = check(id)) {
            if (!first) first = std::make_pair(id, *problem);
            continue;
        }
        e.field.write(e.field.format == NumberFormat::Integer
                          ? static_cast<double>(*parseInteger(e.text))
                          : *parseNumber(e.text));
    }
    return first;
}

std::string unitInLabel(const std::string& label) {
    const auto close = label.rfind(')');
    if (close == std::string::npos) return {};
    const auto open = label.rfind('(', close);
    if (open == std::string::npos) return {};
    return label.substr(open + 1, close - open - 1);
}

std::string rangeHint(NumberFormat format, std::optional<double> min, std::optional<double> max,
                      const std::string& unit) {
    auto number = [](double v) {
        char text[32];
        std::snprintf(text, sizeof text, "%.15g", v);
        return std::string(text);
    };
    const bool integer = format == NumberFormat::Integer;
    if (min && max) {
        std::string s = (integer ? "An integer from " : "") + number(*min) + " to " + number(*max);
        return unit.empty() ? s : s + " " + unit;
    }
    const std::string kind = integer ? "An integer" : "A number";
    return unit.empty() ? kind : kind + ", in " + unit;
}

std::string NumberFields::hint(int id) const {
    const NumberField& f = fields_.at(id).field;
    return rangeHint(f.format, f.min, f.max, f.unit ? f.unit() : std::string());
}

}  // namespace qv
