#include "monitor/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "link/platform/regular_file.h"

namespace qv {

LogFile::Opened LogFile::open(const std::string& path, double nowMs) {
    close();
    failed_ = false;
    buffer_.clear();
    // Append mode never truncates, so an existing log (a second start within the same second,
    // a chosen file) keeps what it holds. A named pipe or a device is refused, never waited on.
    int error = 0;
    net::Fd fd = openRegularFile(path, O_WRONLY | O_APPEND | O_CREAT, error);
    if (!fd.valid()) return Opened::kFailed;
    struct stat now {};
    if (::fstat(fd.get(), &now) != 0) return Opened::kFailed;
    file_.reset(::fdopen(fd.get(), "ab"));
    if (!file_) return Opened::kFailed;
    fd.release();
    device_ = static_cast<std::uint64_t>(now.st_dev);
    inode_ = static_cast<std::uint64_t>(now.st_ino);
    path_ = path;
    lastFlushMs_ = nowMs;
    buffer_.reserve(kBufferLimit + 256);
    return now.st_size > 0 ? Opened::kAppended : Opened::kCreated;
}

bool LogFile::append(std::string_view text) {
    if (!file_) return false;
    buffer_.append(text);
    return flushIfFull();
}

bool LogFile::stillOurs() const {
    // Rows written to a file that was removed or replaced would be lost without a word.
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0 && static_cast<std::uint64_t>(st.st_dev) == device_ &&
           static_cast<std::uint64_t>(st.st_ino) == inode_;
}

bool LogFile::fail() {
    failed_ = true;
    buffer_.clear();
    file_.reset();
    return false;
}

bool LogFile::flush() {
    if (!file_) return false;
    if (!buffer_.empty()) {
        if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_.get()) != buffer_.size())
            return fail();
        buffer_.clear();
    }
    if (std::fflush(file_.get()) != 0 || !stillOurs()) return fail();
    return true;
}

bool LogFile::flushIfDue(double nowMs, double periodMs) {
    if (!file_) return false;
    if (nowMs - lastFlushMs_ < periodMs) return true;
    lastFlushMs_ = nowMs;
    return flush();
}

bool LogFile::close() {
    if (!file_) return !failed_;
    const bool ok = flush();
    if (!file_) return false;
    std::FILE* f = file_.release();
    if (std::fclose(f) != 0) {
        failed_ = true;
        return false;
    }
    return ok;
}

}  // namespace qv
