#include "monitor/candump.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "link/exceptions.h"

namespace qv {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

void appendFrameText(std::string& out, const CanFrame& frame) {
    const int digits = frame.extended() ? 8 : 3;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out += kHexDigits[(frame.identifier() >> shift) & 0xF];
    out += '#';
    if (frame.remote()) {
        out += 'R';
        return;
    }
    const std::size_t bytes = frame.length() < 8 ? frame.length() : 8;
    for (std::size_t i = 0; i < bytes; ++i) {
        out += kHexDigits[frame.data()[i] >> 4];
        out += kHexDigits[frame.data()[i] & 0xF];
    }
}

std::string frameText(const CanFrame& frame) {
    std::string s;
    appendFrameText(s, frame);
    return s;
}

std::optional<CanFrame> parseFrameText(std::string_view text) {
    const auto hash = text.find('#');
    if (hash == std::string_view::npos || hash == 0 || hash > 8) return std::nullopt;
    std::uint32_t id = 0;
    for (std::size_t i = 0; i < hash; ++i) {
        const int d = hexDigit(text[i]);
        if (d < 0) return std::nullopt;
        id = id * 16 + static_cast<std::uint32_t>(d);
    }
    const bool extended = hash > 3;
    const std::string_view data = text.substr(hash + 1);
    try {
        if (data == "R" || data == "r") return CanFrame(id, extended, true, 0);
        if (data.size() % 2 != 0 || data.size() > 16) return std::nullopt;
        CanFrame::Data bytes{};
        for (std::size_t i = 0; i < data.size(); i += 2) {
            const int hi = hexDigit(data[i]), lo = hexDigit(data[i + 1]);
            if (hi < 0 || lo < 0) return std::nullopt;
            bytes[i / 2] = static_cast<std::uint8_t>(hi * 16 + lo);
        }
        return CanFrame(id, extended, false, static_cast<std::uint8_t>(data.size() / 2), bytes);
    } catch (const OverflowException&) {
        return std::nullopt;
    }
}

void appendCandumpLine(std::string& out, std::int64_t timeNs, const CanFrame& frame) {
    std::int64_t seconds = timeNs / 1000000000;
    std::int64_t nanoseconds = timeNs % 1000000000;
    if (nanoseconds < 0) {
        nanoseconds += 1000000000;
        --seconds;
    }
    char head[48];
    const int n =
        std::snprintf(head, sizeof head, "(%lld.%06ld) can0 ", static_cast<long long>(seconds),
                      static_cast<long>(nanoseconds / 1000));
    out.append(head, static_cast<std::size_t>(n));
    appendFrameText(out, frame);
    out += '\n';
}

std::optional<CandumpRecord> parseCandumpLine(std::string_view line, std::string& error) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    auto fail = [&](const char* why) -> std::optional<CandumpRecord> {
        error = why;
        return std::nullopt;
    };
    if (line.size() < 4 || line.front() != '(') return fail("expected \"(SECONDS.FRACTION)\"");
    const std::size_t close = line.find(')');
    const std::size_t dot = line.find('.');
    if (close == std::string_view::npos || dot == std::string_view::npos || dot > close)
        return fail("expected \"(SECONDS.FRACTION)\"");
    std::int64_t seconds = 0;
    if (dot == 1 || dot > 1 + 12) return fail("bad time");
    for (std::size_t i = 1; i < dot; ++i) {
        if (line[i] < '0' || line[i] > '9') return fail("bad time");
        seconds = seconds * 10 + (line[i] - '0');
    }
    const std::size_t fractionDigits = close - dot - 1;
    if (fractionDigits == 0 || fractionDigits > 9) return fail("bad time");
    std::int64_t fraction = 0;
    for (std::size_t i = dot + 1; i < close; ++i) {
        if (line[i] < '0' || line[i] > '9') return fail("bad time");
        fraction = fraction * 10 + (line[i] - '0');
    }
    for (std::size_t i = fractionDigits; i < 9; ++i) fraction *= 10;
    std::string_view rest = line.substr(close + 1);
    if (rest.empty() || rest.front() != ' ') return fail("expected an interface name");
    rest.remove_prefix(1);
    const std::size_t space = rest.find(' ');
    if (space == 0 || space == std::string_view::npos) return fail("expected an interface name");
    std::string_view frame = rest.substr(space + 1);
    // candump -L may add a flag after the frame (" T", " R"); it is not part of the frame.
    if (const std::size_t blank = frame.find(' '); blank != std::string_view::npos)
        frame = frame.substr(0, blank);
    if (frame.find("##") != std::string_view::npos) return fail("CAN FD frames are not supported");
    const auto parsed = parseFrameText(frame);
    if (!parsed) return fail("malformed frame ID#DATA");
    return CandumpRecord{seconds * 1000000000 + fraction, *parsed};
}

std::optional<std::vector<CandumpRecord>> readCandumpFile(const std::string& path,
                                                          std::string& error) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        error = "The file does not exist.";
        return std::nullopt;
    }
    // A FIFO or a device would block or never end.
    if (!std::filesystem::is_regular_file(status)) {
        error = "This is not a regular file.";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "The file cannot be opened.";
        return std::nullopt;
    }
    std::vector<CandumpRecord> records;
    std::string line;
    std::size_t number = 0, bytes = 0;
    while (std::getline(in, line)) {
        ++number;
        bytes += line.size() + 1;
        if (bytes > kMaxCandumpFileBytes) {
            error = "The file is larger than 512 MiB.";
            return std::nullopt;
        }
        if (line.empty() || line == "\r") continue;
        std::string why;
        const auto record = parseCandumpLine(line, why);
        if (!record) {
            error = "line " + std::to_string(number) + ": " + why;
            return std::nullopt;
        }
        records.push_back(*record);
    }
    if (in.bad()) {
        error = "The file cannot be read.";
        return std::nullopt;
    }
    return records;
}

}  // namespace qv
