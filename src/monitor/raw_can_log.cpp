#include "monitor/raw_can_log.h"

#include "monitor/number_text.h"

namespace qv {

std::string rawCanLogFileName(const std::tm& local) {
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "canlog_%Y-%m-%d_%H-%M-%S", &local);
    return std::string(text, n) + ".csv";
}

void appendRawCanLine(std::string& out, std::int64_t epochSeconds, std::uint32_t identifier,
                      const CanFrame::Data& data) {
    appendInt(out, epochSeconds);
    out += ", ";
    appendInt(out, identifier);
    for (std::uint8_t b : data) {
        out += ", ";
        appendInt(out, b);
    }
    out += " \n";
}

bool RawCanLog::open(const std::tm& local, double nowMs) {
    if (file_.isOpen()) return true;
    failure_.reset();
    lines_ = 0;
    std::string path = directory_;
    if (!path.empty() && path.back() != '/') path += '/';
    path += rawCanLogFileName(local);
    return file_.open(path, nowMs) != LogFile::Opened::kFailed;
}

void RawCanLog::noteFailure() {
    if (!failure_)
        failure_ = "Unable to write the raw CAN log \"" + file_.path() +
                   "\" (the disk may be full or the file removed); it has been closed";
}

void RawCanLog::flushIfDue(double nowMs) {
    if (file_.isOpen() && !file_.flushIfDue(nowMs, 900.0)) noteFailure();
}

void RawCanLog::close() {
    if (file_.isOpen() && !file_.close()) noteFailure();
}

std::optional<std::string> RawCanLog::takeFailure() {
    std::optional<std::string> f;
    f.swap(failure_);
    return f;
}

}  // namespace qv
