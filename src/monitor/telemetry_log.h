#pragma once
// The telemetry log: one CSV row of the latest TelemetryValues per period, under a header whose
// names depend on the device type and mode when logging starts.
//
// The window (or qvcli log) calls start() from Log > Start..., writeRow() when the log
// countdown runs out, flushIfDue() every tick and stop() from Log > Stop. start() and the
// writers return a message when something failed; the window shows it once and the log is then
// off (logging() false), so the menu goes back to "Start...".
//
// Files are ASCII text (so also valid Windows-1252 and UTF-8) with line-feed line ends;
// numbers use '.' whatever the locale.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "monitor/log_file.h"
#include "monitor/monitor_types.h"
#include "monitor/telemetry_values.h"

namespace qv {

// "QVlog_%Y-%m-%d_%H-%M-%S.csv" of the local time.
std::string telemetryLogFileName(const std::tm& local);
// A chosen path without an extension gets ".csv".
std::string withCsvExtension(const std::string& path);
// The header line (31 columns, line feed included) for the device type and active motor.
std::string telemetryLogHeader(std::int32_t deviceType, std::int32_t activeMotor);
// One row (31 columns, line feed included) at the local time of day `local`.
void appendTelemetryLogRow(std::string& out, const std::tm& local, const TelemetryValues& v);

class TelemetryLog {
  public:
    // Opens `path`: an existing file gets rows appended and no header, a new one the header.
    // On failure: "Unable to open file \"PATH\" for logging" and logging stays off.
    std::optional<std::string> start(const std::string& path, std::int32_t deviceType,
                                     std::int32_t activeMotor, double nowMs);
    // One row at local time `local`. On a failure the log stops and the message comes back.
    std::optional<std::string> writeRow(const TelemetryValues& values, const std::tm& local,
                                        double nowMs);
    std::optional<std::string> flushIfDue(double nowMs);
    // Closes the file (rows written to disk first). A failure to write them is returned.
    std::optional<std::string> stop();

    bool logging() const { return file_.isOpen(); }
    const std::string& path() const { return file_.path(); }
    std::uint64_t rowsWritten() const { return rows_; }

  private:
    std::optional<std::string> failure();

    LogFile file_;
    std::uint64_t rows_ = 0;
};

}  // namespace qv
