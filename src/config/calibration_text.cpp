#include "config/calibration_text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <span>
#include <vector>

#include "config/text_scanner.h"

namespace qv {

namespace {

enum class Form {
    Int32,    // "%-30s%14d"
    Uint16,   // "%-30s%14d" of a 16-bit field
    Fixed1,   // "%-30s%14.1f"
    Sci3,     // "%-30s%14.3e"
    Channel,  // "%-30s%14.5f,%14.5e": gain, offset
    Coeffs,   // "%14.5e,%14.5e,%14.5e,%14.5e", no label
    Heading,  // text only, no comma; the reader passes over it with the next label
};

struct Line {
    Form form;
    const char* label;         // heading text for Heading
    const char* chargerLabel;  // isolated-charger label, or nullptr
    std::size_t offset;        // of the field in PrivateConfig
};

#define QV_AT(field) offsetof(PrivateConfig, field)

// clang-format off
const Line kLines[] = {
    {Form::Int32, "Serial Nr,", nullptr, QV_AT(serialNumber)},
    {Form::Fixed1, "Base Voltage (V),", nullptr, QV_AT(baseVoltage)},
    {Form::Fixed1, "Base Current (A),", nullptr, QV_AT(baseCurrent)},
    {Form::Fixed1, "Base Frequency (Hz),", nullptr, QV_AT(baseFrequency)},
    {Form::Sci3, "Bus Capacitance (F),", nullptr, QV_AT(busCapacitance)},
    {Form::Fixed1, "Bus Over Voltage (V),", nullptr, QV_AT(busOverVoltage)},
    {Form::Fixed1, "SW Over Current (A),", nullptr, QV_AT(swOverCurrent)},
    {Form::Uint16, "Check observer against halls,", nullptr, QV_AT(checkObserverAgainstHalls)},
    {Form::Fixed1, "Engage motor speed (Hz),", nullptr, QV_AT(engageMotorSpeed)},
    {Form::Fixed1, "Disengage motor speed (Hz),", nullptr, QV_AT(disengageMotorSpeed)},
    {Form::Heading, "\r\nAll reference & rail voltage are relative to a base voltage of 15V\r\n", nullptr, 0},
    {Form::Channel, "15V rail,", nullptr, QV_AT(rail15V)},
    {Form::Channel, "1.9V rail,", nullptr, QV_AT(rail1V9)},
    {Form::Channel, "3.3V rail,", nullptr, QV_AT(rail3V3)},
    {Form::Heading, "\r\nAll bus dependant voltages are relative to base voltage\r\n", nullptr, 0},
    {Form::Channel, "Bus Voltage,", nullptr, QV_AT(busVoltage)},
    {Form::Channel, "PhaseC Voltage,", "Output Voltage,", QV_AT(phaseCVoltage)},
    {Form::Channel, "PhaseB Voltage,", "Snubber Voltage,", QV_AT(phaseBVoltage)},
    {Form::Channel, "PhaseA Voltage,", nullptr, QV_AT(phaseAVoltage)},
    {Form::Channel, "Hall Voltage,", nullptr, QV_AT(hallVoltage)},
    {Form::Channel, "ARCP rail,", nullptr, QV_AT(arcpRail)},
    {Form::Heading, "\r\nAll motor dependant currents are relative to base current\r\n", nullptr, 0},
    {Form::Channel, "Bus Current,", "Output Current,", QV_AT(busCurrent)},
    {Form::Channel, "PhaseC Current,", nullptr, QV_AT(phaseCCurrent)},
    {Form::Channel, "PhaseB Current,", nullptr, QV_AT(phaseBCurrent)},
    {Form::Channel, "PhaseA Current,", nullptr, QV_AT(phaseACurrent)},
    {Form::Channel, "Over Current Set Point,", nullptr, QV_AT(overCurrentSetPoint)},
    {Form::Heading, "\r\nAll temperatures are relative to a base temperature of 100C\r\n", nullptr, 0},
    {Form::Channel, "DSP temp,", nullptr, QV_AT(dspTemp)},
    {Form::Coeffs, nullptr, nullptr, QV_AT(dspTempCoeff)},
    {Form::Channel, "Phase C temp,", nullptr, QV_AT(phaseCTemp)},
    {Form::Coeffs, nullptr, nullptr, QV_AT(phaseCTempCoeff)},
    {Form::Channel, "Capacitor temp,", nullptr, QV_AT(capacitorTemp)},
    {Form::Coeffs, nullptr, nullptr, QV_AT(capacitorTempCoeff)},
    {Form::Channel, "Phase B temp,", nullptr, QV_AT(phaseBTemp)},
    {Form::Coeffs, nullptr, nullptr, QV_AT(phaseBTempCoeff)},
    {Form::Channel, "Phase A temp,", nullptr, QV_AT(phaseATemp)},
    {Form::Coeffs, nullptr, nullptr, QV_AT(phaseATempCoeff)},
    {Form::Heading, "\r\nController gain factors\r\n", nullptr, 0},
    {Form::Sci3, "Controller Kp Factor,", nullptr, QV_AT(controllerKpFactor)},
    {Form::Sci3, "Controller Ki Factor,", nullptr, QV_AT(controllerKiFactor)},
};
// clang-format on

#undef QV_AT

// Field access by byte offset: the record is packed, so no member is referenced in place.
template <typename T>
T load(const PrivateConfig& c, std::size_t offset) {
    T v;
    std::memcpy(&v, reinterpret_cast<const unsigned char*>(&c) + offset, sizeof v);
    return v;
}

template <typename T>
void store(PrivateConfig& c, std::size_t offset, T v) {
    std::memcpy(reinterpret_cast<unsigned char*>(&c) + offset, &v, sizeof v);
}

void appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

void appendf(std::string& out, const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) return;
    if (static_cast<std::size_t>(n) < sizeof buffer) {
        out.append(buffer, static_cast<std::size_t>(n));
        return;
    }
    std::vector<char> large(static_cast<std::size_t>(n) + 1);
    va_start(args, format);
    std::vsnprintf(large.data(), large.size(), format, args);
    va_end(args);
    out.append(large.data(), static_cast<std::size_t>(n));
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isSpaceChar(char c) {
    return isBlank(c) || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// One "%*[^,],%f" and its relatives, writing each value as soon as it is read and noting where
// its text stood.
class Reader {
  public:
    Reader(std::string_view text, PrivateConfig& config, CalibrationScan* scan = nullptr)
        : text_(text), scan_(text), config_(config), out_(scan) {}

    bool label() { return scan_.skipToComma() && scan_.literal(','); }
    bool comma() { return scan_.literal(','); }
    bool floatAt(std::size_t offset) {
        const std::size_t before = scan_.position();
        const auto v = scan_.scanFloat();
        if (!v) return false;
        store(config_, offset, *v);
        note(offset, 4, before);
        return true;
    }
    template <typename T>
    bool intAt(std::size_t offset) {
        const std::size_t before = scan_.position();
        const auto v = scan_.scanInt();
        if (!v) return false;
        store(config_, offset, static_cast<T>(*v));
        note(offset, sizeof(T), before);
        return true;
    }
    std::size_t count() const { return count_; }
    std::size_t position() const { return scan_.position(); }

  private:
    void note(std::size_t offset, std::size_t size, std::size_t before) {
        ++count_;
        if (!out_) return;
        std::size_t begin = before;
        while (begin < scan_.position() && isSpaceChar(text_[begin])) ++begin;
        out_->values.push_back({offset, size, begin, scan_.position()});
    }

    std::string_view text_;
    TextScanner scan_;
    PrivateConfig& config_;
    CalibrationScan* out_;
    std::size_t count_ = 0;
};

// The line around `at`: its number and its text without the line end.
UnreadLine lineAt(std::string_view text, std::size_t at) {
    const std::size_t start = text.rfind('\n', at == 0 ? 0 : at - 1);
    const std::size_t begin = (start == std::string_view::npos || at == 0) ? 0 : start + 1;
    std::size_t end = text.find_first_of("\r\n", begin);
    if (end == std::string_view::npos) end = text.size();
    const auto number =
        static_cast<std::size_t>(std::count(text.begin(), text.begin() + begin, '\n')) + 1;
    return {number, std::string(text.substr(begin, end - begin))};
}

void noteUnread(CalibrationScan& scan, std::string_view text, std::size_t at) {
    UnreadLine line = lineAt(text, at);
    for (const UnreadLine& seen : scan.unread)
        if (seen.number == line.number) return;
    scan.unread.push_back(std::move(line));
}

bool readLine(Reader& in, const Line& line) {
    switch (line.form) {
        case Form::Heading:
            return true;
        case Form::Int32:
            return in.label() && in.intAt<std::uint32_t>(line.offset);
        case Form::Uint16:
            return in.label() && in.intAt<std::uint16_t>(line.offset);
        case Form::Fixed1:
        case Form::Sci3:
            return in.label() && in.floatAt(line.offset);
        case Form::Channel:
            return in.label() && in.floatAt(line.offset) && in.comma() &&
                   in.floatAt(line.offset + 4);
        case Form::Coeffs:
            for (std::size_t i = 0; i < 4; ++i) {
                if (i > 0 && !in.comma()) return false;
                if (!in.floatAt(line.offset + 4 * i)) return false;
            }
            return true;
    }
    return false;
}

}  // namespace

bool usesIsolatedChargerLabels(std::uint16_t deviceType) {
    return deviceType == 0x4000;
}

std::string buildCalibrationReport(const PrivateConfig& config, bool isolatedCharger) {
    std::string out;
    for (const Line& line : kLines) {
        const char* label = isolatedCharger && line.chargerLabel ? line.chargerLabel : line.label;
        switch (line.form) {
            case Form::Heading:
                out += line.label;
                break;
            case Form::Int32:
                appendf(out, "%-30s%14d\r\n", label,
                        static_cast<int>(load<std::int32_t>(config, line.offset)));
                break;
            case Form::Uint16:
                appendf(out, "%-30s%14d\r\n", label,
                        static_cast<int>(load<std::uint16_t>(config, line.offset)));
                break;
            case Form::Fixed1:
                appendf(out, "%-30s%14.1f\r\n", label,
                        static_cast<double>(load<float>(config, line.offset)));
                break;
            case Form::Sci3:
                appendf(out, "%-30s%14.3e\r\n", label,
                        static_cast<double>(load<float>(config, line.offset)));
                break;
            case Form::Channel:
                appendf(out, "%-30s%14.5f,%14.5e\r\n", label,
                        static_cast<double>(load<float>(config, line.offset)),
                        static_cast<double>(load<float>(config, line.offset + 4)));
                break;
            case Form::Coeffs:
                appendf(out, "%14.5e,%14.5e,%14.5e,%14.5e\r\n",
                        static_cast<double>(load<float>(config, line.offset)),
                        static_cast<double>(load<float>(config, line.offset + 4)),
                        static_cast<double>(load<float>(config, line.offset + 8)),
                        static_cast<double>(load<float>(config, line.offset + 12)));
                break;
        }
    }
    return out;
}

std::size_t readCalibrationReport(std::string_view text, PrivateConfig& config) {
    Reader in(text, config);
    for (const Line& line : kLines)
        if (!readLine(in, line)) break;
    return in.count();
}

CalibrationScan scanCalibrationReport(std::string_view text, PrivateConfig& config) {
    CalibrationScan scan;
    // The scan's text ends at a NUL, as a C string does.
    text = text.substr(0, std::min(text.size(), text.find('\0')));
    Reader in(text, config, &scan);
    bool stopped = false;
    std::size_t stopAt = 0;
    for (const Line& line : kLines) {
        const std::size_t before = in.position();
        if (!readLine(in, line)) {
            stopped = true;
            stopAt = before;
            break;
        }
    }
    // After a number only blanks may come before the next comma or line end.
    for (const CalibrationValue& v : scan.values) {
        std::size_t at = v.end;
        while (at < text.size() && isBlank(text[at])) ++at;
        if (at < text.size() && text[at] != ',' && text[at] != '\r' && text[at] != '\n')
            noteUnread(scan, text, v.begin);
    }
    // Where the scan stopped, only blank text may remain (a report cut short after a line).
    if (stopped) {
        std::size_t at = stopAt;
        while (at < text.size() && isSpaceChar(text[at])) ++at;
        if (at < text.size()) noteUnread(scan, text, at);
    }
    std::sort(scan.unread.begin(), scan.unread.end(),
              [](const UnreadLine& a, const UnreadLine& b) { return a.number < b.number; });
    return scan;
}

}  // namespace qv
