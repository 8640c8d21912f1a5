#include "tools/im_sample_file.h"

#include <charconv>
#include <cmath>
#include <optional>

namespace qv {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// A whole field as a finite decimal number (an optional leading '+' allowed).
std::optional<double> parseReal(std::string_view field) {
    field = trim(field);
    if (!field.empty() && field.front() == '+') field.remove_prefix(1);
    if (field.empty()) return std::nullopt;
    double v = 0;
    const auto r = std::from_chars(field.data(), field.data() + field.size(), v);
    if (r.ec != std::errc() || r.ptr != field.data() + field.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// "# S=<n>" with optional blanks around the parts; nullopt when the line is not of that form.
std::optional<std::string_view> intervalField(std::string_view line) {
    line = trim(line);
    if (line.empty() || line.front() != '#') return std::nullopt;
    line = trim(line.substr(1));
    if (line.empty() || line.front() != 'S') return std::nullopt;
    line = trim(line.substr(1));
    if (line.empty() || line.front() != '=') return std::nullopt;
    return trim(line.substr(1));
}

void appendNumber(std::string& out, double v) {
    char buffer[32];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
    out.append(buffer, r.ptr);
}

std::string quoted(std::string_view s) {
    constexpr std::size_t kShown = 60;
    std::string q = "'" + std::string(s.substr(0, kShown));
    if (s.size() > kShown) q += "...";
    return q + "'";
}

}  // namespace

ImSampleFile parseImSampleFile(std::string_view text, ImModel model) {
    const bool sweep = model == ImModel::FrequencyResponse;
    if (!sweep && model != ImModel::StepResponse) throw ImSampleFileError(0, "unknown model");
    if (text.size() > kImSampleFileMaxBytes)
        throw ImSampleFileError(
            0, "file larger than " + std::to_string(kImSampleFileMaxBytes >> 20) + " MiB");
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 byte order mark

    ImSampleFile file;
    bool intervalSeen = false;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++number;
        const std::string_view line = trim(raw);
        if (line.empty()) continue;
        if (!sweep && !intervalSeen) {
            const auto field = intervalField(line);
            if (!field)
                throw ImSampleFileError(
                    number, "expected '# S=<sampling interval in 100 us units>' first, found " +
                                quoted(line));
            int s = 0;
            const auto r = std::from_chars(field->data(), field->data() + field->size(), s);
            if (r.ec != std::errc() || r.ptr != field->data() + field->size() || s < 1 || s > 32767)
                throw ImSampleFileError(
                    number, "S must be a whole number from 1 to 32767, not " + quoted(*field));
            file.samplingInterval = s;
            intervalSeen = true;
            continue;
        }
        if (line.front() == '#') continue;
        if (sweep) {
            const std::size_t comma = line.find(',');
            const auto v =
                comma == std::string_view::npos ? std::nullopt : parseReal(line.substr(0, comma));
            const auto i = v ? parseReal(line.substr(comma + 1)) : std::nullopt;
            if (!v || !i)
                throw ImSampleFileError(
                    number,
                    "expected 'voltage_mV,current_A' (two finite numbers), found " + quoted(line));
            file.amplitudeV.push_back(*v);
            file.currentA.push_back(*i);
        } else {
            const auto i = parseReal(line);
            if (!i)
                throw ImSampleFileError(
                    number,
                    "expected one current sample in A (a finite number), found " + quoted(line));
            file.currentA.push_back(*i);
        }
    }
    if (!sweep && !intervalSeen)
        throw ImSampleFileError(1, "the file is empty: '# S=<sampling interval>' is missing");
    const std::size_t points = sweep                   ? file.currentA.size()
                               : file.currentA.empty() ? 0
                                                       : file.currentA.size() - 1;
    if (file.currentA.empty()) throw ImSampleFileError(0, "no samples in the file");
    if (points < 2) {
        const std::string what = sweep         ? "only 1 point"
                                 : points == 0 ? "no sample after the zero reference"
                                               : "only 1 sample after the zero reference";
        throw ImSampleFileError(0, what + "; the fit needs at least 2");
    }
    return file;
}

std::string formatImSampleFile(const ImSampleFile& samples, ImModel model) {
    std::string out;
    if (model == ImModel::FrequencyResponse) {
        if (samples.amplitudeV.size() != samples.currentA.size())
            throw std::invalid_argument("a sweep needs one current per voltage amplitude");
        out = "# voltage_mV,current_A\n";
        for (std::size_t k = 0; k < samples.currentA.size(); ++k) {
            appendNumber(out, samples.amplitudeV[k]);
            out += ',';
            appendNumber(out, samples.currentA[k]);
            out += '\n';
        }
    } else if (model == ImModel::StepResponse) {
        out = "# S=" + std::to_string(samples.samplingInterval) + "\n# current_A\n";
        for (double i : samples.currentA) {
            appendNumber(out, i);
            out += '\n';
        }
    } else {
        throw std::invalid_argument("unknown model");
    }
    return out;
}

}  // namespace qv
