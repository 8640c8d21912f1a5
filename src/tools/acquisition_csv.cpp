#include "tools/acquisition_csv.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "config/safe_write.h"
#include "link/platform/regular_file.h"

namespace qv {

namespace {

// The lines of a text, without their ends; a final line end adds no empty line.
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    // Blank lines at the end are no data.
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = line.find(',', start);
        fields.push_back(
            line.substr(start, comma == std::string_view::npos ? comma : comma - start));
        if (comma == std::string_view::npos) return fields;
        start = comma + 1;
    }
}

struct Failure {
    int line;
    std::string message;
};

[[noreturn]] void fail(int line, std::string message) {
    throw Failure{line, std::move(message)};
}

std::string quoted(std::string_view s) {
    constexpr std::size_t kShown = 40;
    std::string text(s.substr(0, kShown));
    if (s.size() > kShown) text += "...";
    return "\"" + text + "\"";
}

long long integer(std::string_view field, long long min, long long max, int line,
                  std::string_view name) {
    long long v = 0;
    const auto [ptr, ec] = std::from_chars(field.data(), field.data() + field.size(), v);
    if (field.empty() || ec == std::errc::invalid_argument || ptr != field.data() + field.size())
        fail(line, std::string(name) + " " + quoted(field) + " is not a whole number");
    if (ec == std::errc::result_out_of_range || v < min || v > max)
        fail(line, std::string(name) + " " + std::string(field) + " is not between " +
                       std::to_string(min) + " and " + std::to_string(max));
    return v;
}

double real(std::string_view field, int line, std::string_view name) {
    double v = 0;
    const auto [ptr, ec] = std::from_chars(field.data(), field.data() + field.size(), v);
    if (field.empty() || ec != std::errc() || ptr != field.data() + field.size() ||
        !std::isfinite(v))
        fail(line, std::string(name) + " " + quoted(field) + " is not a finite number");
    return v;
}

float realFloat(std::string_view field, int line, std::string_view name) {
    const double v = real(field, line, name);
    const auto f = static_cast<float>(v);
    if (!std::isfinite(f))
        fail(line, std::string(name) + " " + std::string(field) + " is too large");
    return f;
}

std::vector<std::string_view> fieldsOf(const std::vector<std::string_view>& lines,
                                       std::size_t index, std::size_t count,
                                       std::string_view what) {
    const int number = static_cast<int>(index) + 1;
    if (index >= lines.size())
        fail(number, "missing: the file ends before its " + std::string(what));
    auto fields = splitFields(lines[index]);
    if (fields.size() != count)
        fail(number, std::to_string(fields.size()) + " fields where the " + std::string(what) +
                         " has " + std::to_string(count));
    return fields;
}

void expectHeader(const std::vector<std::string_view>& lines, std::size_t index,
                  std::string_view header) {
    const int number = static_cast<int>(index) + 1;
    if (index >= lines.size()) fail(number, "missing: expected \"" + std::string(header) + "\"");
    if (lines[index] != header)
        fail(number, "expected \"" + std::string(header) + "\", found " + quoted(lines[index]));
}

template <typename T, typename Parse>
CsvParse<T> guarded(std::string_view text, Parse parse) {
    CsvParse<T> result;
    try {
        if (text.size() > kMaxAcquisitionCsvBytes)
            fail(0,
                 "the file is larger than " + std::to_string(kMaxAcquisitionCsvBytes) + " bytes");
        result.value = parse(splitLines(text));
    } catch (const Failure& f) {
        result.line = f.line;
        result.error = f.line > 0 ? "line " + std::to_string(f.line) + ": " + f.message : f.message;
    }
    return result;
}

std::string realText(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

std::string floatText(float v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(v));
    return text;
}

}  // namespace

std::string formatPhaseCsv(const PhaseRecording& r) {
    const PhaseCalibration& c = r.calibration;
    std::string out(kPhaseCsvSettings);
    out += "\n" + std::to_string(r.sensorMode) + "," + std::to_string(r.hallsPresent) + "," +
           realText(c.baseVoltage);
    for (const CalibrationChannel& ch : {c.phaseA, c.phaseB, c.phaseC})
        out += "," + floatText(ch.gain) + "," + floatText(ch.offset);
    out += "\n";
    out += kPhaseCsvColumns;
    out += "\n";
    for (const RawPhaseSample& s : r.samples)
        out += std::to_string(s.hall) + "," + std::to_string(s.position) + "," +
               std::to_string(s.r1) + "," + std::to_string(s.r2) + "," + std::to_string(s.r3) +
               "\n";
    return out;
}

std::string formatPmCsv(const PmRecording& r) {
    std::string out(kPmCsvSettings);
    out += "\n" + realText(r.baseVoltage) + "," + realText(r.baseCurrent) + "," +
           std::to_string(r.n1) + "," + std::to_string(r.n2) + "," + std::to_string(r.s) + "\n";
    out += kPmCsvColumns;
    out += "\n";
    for (const PmFrame& f : r.frames)
        out += std::to_string(f[0]) + "," + std::to_string(f[1]) + "," + std::to_string(f[2]) +
               "," + std::to_string(f[3]) + "\n";
    return out;
}

CsvParse<PhaseRecording> parsePhaseCsv(std::string_view text) {
    return guarded<PhaseRecording>(text, [](const std::vector<std::string_view>& lines) {
        PhaseRecording r;
        expectHeader(lines, 0, kPhaseCsvSettings);
        const auto f = fieldsOf(lines, 1, 9, "settings line");
        r.sensorMode = static_cast<int>(integer(f[0], 0, 255, 2, "sensor_mode"));
        r.hallsPresent = static_cast<int>(integer(f[1], 0, 255, 2, "halls_present"));
        r.calibration.baseVoltage = real(f[2], 2, "base_voltage");
        r.calibration.phaseA = {realFloat(f[3], 2, "phaseA_gain"),
                                realFloat(f[4], 2, "phaseA_offset")};
        r.calibration.phaseB = {realFloat(f[5], 2, "phaseB_gain"),
                                realFloat(f[6], 2, "phaseB_offset")};
        r.calibration.phaseC = {realFloat(f[7], 2, "phaseC_gain"),
                                realFloat(f[8], 2, "phaseC_offset")};
        expectHeader(lines, 2, kPhaseCsvColumns);
        if (lines.size() <= 3) fail(4, "missing: the file holds no samples");
        for (std::size_t i = 3; i < lines.size(); ++i) {
            const int number = static_cast<int>(i) + 1;
            if (r.samples.size() == static_cast<std::size_t>(kPhaseSampleCount))
                fail(number, "more than " + std::to_string(kPhaseSampleCount) + " samples");
            const auto s = fieldsOf(lines, i, 5, "sample line");
            RawPhaseSample sample;
            sample.hall = static_cast<std::uint16_t>(integer(s[0], 0, 7, number, "hall"));
            sample.position =
                static_cast<std::uint16_t>(integer(s[1], 0, 65528, number, "position"));
            if (sample.position % 8 != 0)
                fail(number, "position " + std::string(s[1]) + " is not a multiple of 8");
            sample.r1 = static_cast<std::uint16_t>(integer(s[2], 0, 65535, number, "r1"));
            sample.r2 = static_cast<std::uint16_t>(integer(s[3], 0, 65535, number, "r2"));
            sample.r3 = static_cast<std::uint16_t>(integer(s[4], 0, 65535, number, "r3"));
            r.samples.push_back(sample);
        }
        return r;
    });
}

CsvParse<PmRecording> parsePmCsv(std::string_view text) {
    return guarded<PmRecording>(text, [](const std::vector<std::string_view>& lines) {
        PmRecording r;
        expectHeader(lines, 0, kPmCsvSettings);
        const auto f = fieldsOf(lines, 1, 5, "settings line");
        r.baseVoltage = real(f[0], 2, "base_voltage");
        r.baseCurrent = real(f[1], 2, "base_current");
        r.n1 = static_cast<int>(integer(f[2], 1, kPmMaxPoints, 2, "N1"));
        r.n2 = static_cast<int>(integer(f[3], 1, kPmMaxPoints, 2, "N2"));
        r.s = static_cast<int>(integer(f[4], 1, 32767, 2, "S"));
        expectHeader(lines, 2, kPmCsvColumns);
        const auto wanted = static_cast<std::size_t>(pmFrameCount(r.n1) + pmFrameCount(r.n2));
        const std::size_t present = lines.size() - 3;
        if (present < wanted)
            fail(static_cast<int>(lines.size()) + 1,
                 "missing: N1 " + std::to_string(r.n1) + " and N2 " + std::to_string(r.n2) +
                     " call for " + std::to_string(wanted) + " data lines, the file has " +
                     std::to_string(present));
        if (present > wanted)
            fail(static_cast<int>(wanted) + 4, "more data lines than N1 " + std::to_string(r.n1) +
                                                   " and N2 " + std::to_string(r.n2) +
                                                   " call for (" + std::to_string(wanted) + ")");
        for (std::size_t i = 3; i < lines.size(); ++i) {
            const int number = static_cast<int>(i) + 1;
            const auto w = fieldsOf(lines, i, 4, "data line");
            PmFrame frame{};
            for (std::size_t k = 0; k < 4; ++k)
                frame[k] = static_cast<std::int16_t>(
                    integer(w[k], -32768, 32767, number, "word" + std::to_string(k)));
            r.frames.push_back(frame);
        }
        return r;
    });
}

namespace {

template <typename T>
CsvParse<T> load(const std::string& path, CsvParse<T> (*parse)(std::string_view)) {
    std::string error;
    const auto text = readTextFile(path, kMaxAcquisitionCsvBytes, &error);
    if (!text) {
        CsvParse<T> failed;
        failed.error = error;
        return failed;
    }
    CsvParse<T> parsed = parse(*text);
    if (!parsed.value) parsed.error = path + ": " + parsed.error;
    return parsed;
}

}  // namespace

CsvParse<PhaseRecording> loadPhaseCsv(const std::string& path) {
    return load(path, &parsePhaseCsv);
}

CsvParse<PmRecording> loadPmCsv(const std::string& path) {
    return load(path, &parsePmCsv);
}

std::optional<std::string> readTextFile(const std::string& path, std::size_t maxBytes,
                                        std::string* error) {
    int failure = 0;
    bool more = false;
    auto text = readRegularFile(path, maxBytes, failure, &more);
    if (!text) {
        if (error) *error = "cannot open " + path + ": " + fileErrorDescription(failure);
        return std::nullopt;
    }
    if (more) {
        if (error) *error = path + " is larger than " + std::to_string(maxBytes) + " bytes";
        return std::nullopt;
    }
    return text;
}

bool writeTextFile(const std::string& path, std::string_view text, std::string* error) {
    // A named pipe or a device is no place for the data; it is neither written nor replaced.
    int failure = 0;
    if (!regularOrMissing(path, failure)) {
        if (error) *error = "cannot write " + path + ": " + fileErrorDescription(failure);
        return false;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const FileErrorCause cause = writeFileSafely(path, {bytes, text.size()});
    if (cause != FileErrorCause::None) {
        if (error) *error = "cannot write " + path + ": " + fileErrorText(cause);
        return false;
    }
    return true;
}

}  // namespace qv
