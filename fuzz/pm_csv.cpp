// Fuzzes the reader of the permanent-magnet extraction files ("Save Data..." of the Parameter
// Extraction window, read again by qvcli fit-pm) and the fits it feeds. Oracle: a file the
// reader accepts saves back to a file that reads as the same numbers, bit for bit, and that
// saves again to the same text; the log of its fits has every line whole. Seeds: files the tool
// saved after runs against the simulator.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "tools/acquisition_csv.h"
#include "tools/pm_analysis.h"

namespace {

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameNumbers(const qv::PmRecording& a, const qv::PmRecording& b) {
    return sameBits(a.baseVoltage, b.baseVoltage) && sameBits(a.baseCurrent, b.baseCurrent) &&
           a.n1 == b.n1 && a.n2 == b.n2 && a.s == b.s && a.frames == b.frames;
}

std::size_t count(std::string_view text, std::string_view what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != text.npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto read = qv::parsePmCsv(text);
    if (!read.value) {
        if (read.error.empty() || read.line < 0) std::abort();
        return 0;
    }
    const qv::PmRecording& r = *read.value;
    const std::string saved = qv::formatPmCsv(r);
    const auto back = qv::parsePmCsv(saved);
    if (!back.value || !sameNumbers(r, *back.value)) std::abort();
    if (qv::formatPmCsv(*back.value) != saved) std::abort();
    // What qvcli fit-pm then does with it: the counts, two headings, one line per point and
    // the two fits, each line ended.
    const qv::PmReport report = qv::analysePm(r);
    if (count(report.log, "\r\n") != static_cast<std::size_t>(12 + r.n1 + r.n2)) std::abort();
    if (report.usable != report.problem.empty()) std::abort();
    return 0;
}
