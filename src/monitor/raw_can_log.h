#pragma once
// The raw CAN log of the Telemetry window: every frame taken from the receive queue while the
// window is shown, one line "SECONDS, ID, B0, ..., B7 \n" per frame, in a file named after the
// local time when the window was shown.
//
// The window calls open() when it is shown and close() when it is hidden; the CAN port's raw
// log hook calls write() for every frame; the tick calls flushIfDue(). A second showing within
// the same second gets the same name and appends to that file, so the first log is kept. A
// failed write closes the log and returns its message once.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "link/can_frame.h"
#include "monitor/log_file.h"

namespace qv {

// "canlog_%Y-%m-%d_%H-%M-%S.csv" of the local time.
std::string rawCanLogFileName(const std::tm& local);
// One line: "%lld, %d, %d, %d, %d, %d, %d, %d, %d, %d \n".
void appendRawCanLine(std::string& out, std::int64_t epochSeconds, std::uint32_t identifier,
                      const CanFrame::Data& data);

class RawCanLog {
  public:
    // Directory the files go to ("" = the current directory).
    explicit RawCanLog(std::string directory = {}) : directory_(std::move(directory)) {}

    // Opens the log of this showing, unless one is open. False when the file could not be
    // created: then no raw log is kept for this showing.
    bool open(const std::tm& local, double nowMs);
    void write(std::int64_t epochSeconds, std::uint32_t identifier, const CanFrame::Data& data) {
        if (!file_.isOpen()) return;
        appendRawCanLine(file_.buffer(), epochSeconds, identifier, data);
        ++lines_;
        if (!file_.flushIfFull()) noteFailure();
    }
    // write() with the current time.
    void write(std::uint32_t identifier, const CanFrame::Data& data) {
        if (file_.isOpen()) write(static_cast<std::int64_t>(std::time(nullptr)), identifier, data);
    }
    void flushIfDue(double nowMs);
    void close();

    // A write failure not yet reported: the message to show once.
    std::optional<std::string> takeFailure();

    bool isOpen() const { return file_.isOpen(); }
    const std::string& path() const { return file_.path(); }
    std::uint64_t linesWritten() const { return lines_; }

  private:
    void noteFailure();

    std::string directory_;
    LogFile file_;
    std::optional<std::string> failure_;
    std::uint64_t lines_ = 0;
};

}  // namespace qv
