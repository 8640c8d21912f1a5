#pragma once
// The raw data behind a commissioning result, as CSV files that the tool windows save and that
// qvcli analyses again. Line 1 names the settings, line 2 holds them, line 3 names the columns,
// then one line per sample (phase file) or per data frame (PM file). Lines end "\n" when written;
// "\r\n" is read as well.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "tools/phase_acquisition.h"
#include "tools/pm_acquisition.h"

namespace qv {

inline constexpr std::string_view kPhaseCsvSettings =
    "sensor_mode,halls_present,base_voltage,phaseA_gain,phaseA_offset,phaseB_gain,"
    "phaseB_offset,phaseC_gain,phaseC_offset";
inline constexpr std::string_view kPhaseCsvColumns = "hall,position,r1,r2,r3";
inline constexpr std::string_view kPmCsvSettings = "base_voltage,base_current,N1,N2,S";
inline constexpr std::string_view kPmCsvColumns = "word0,word1,word2,word3";

// Largest file either reader takes (a full phase file is about 15 KB).
inline constexpr std::size_t kMaxAcquisitionCsvBytes = 1 << 20;

std::string formatPhaseCsv(const PhaseRecording& recording);
std::string formatPmCsv(const PmRecording& recording);

// A file's contents, or what is wrong with them; `line` is 1-based, 0 for the file as a whole.
template <typename T>
struct CsvParse {
    std::optional<T> value;
    int line = 0;
    std::string error;  // "line 4: hall 9 is not between 0 and 7"
};

// At most 500 samples, at least one; every field a number in its range.
CsvParse<PhaseRecording> parsePhaseCsv(std::string_view text);
// Counts 1 to 30, a time base above 0, and exactly the frames the counts call for.
CsvParse<PmRecording> parsePmCsv(std::string_view text);

// Reads and parses a file; the error names the file ("cannot open F: ...", "F: line 4: ...").
CsvParse<PhaseRecording> loadPhaseCsv(const std::string& path);
CsvParse<PmRecording> loadPmCsv(const std::string& path);

// Reads a whole regular file of at most `maxBytes`; nothing, with the reason, when it cannot (a
// named pipe or a device is refused, never waited on).
std::optional<std::string> readTextFile(const std::string& path, std::size_t maxBytes,
                                        std::string* error);
// Writes the file as writeFileSafely does (through a temporary one beside it, so that a failed
// save leaves any file of that name as it was); a path that names a named pipe, a device or a
// folder is refused. False with the reason when it cannot.
bool writeTextFile(const std::string& path, std::string_view text, std::string* error);

}  // namespace qv
