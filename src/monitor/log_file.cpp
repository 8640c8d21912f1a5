#include "monitor/log_file.h"

#include <sys/stat.h>

namespace qv {

LogFile::Opened LogFile::open(const std::string& path, double nowMs) {
    close();
    failed_ = false;
    buffer_.clear();
    struct stat before {};
    const bool existed = ::stat(path.c_str(), &before) == 0;
    // Append mode never truncates, so an existing log (a second start within the same second,
    // a chosen file) keeps what it holds.
    file_.reset(std::fopen(path.c_str(), "ab"));
    if (!file_) return Opened::kFailed;
    struct stat now {};
    if (::fstat(fileno(file_.get()), &now) != 0 || !S_ISREG(now.st_mode)) {
        file_.reset();
        return Opened::kFailed;
    }
    device_ = static_cast<std::uint64_t>(now.st_dev);
    inode_ = static_cast<std::uint64_t>(now.st_ino);
    path_ = path;
    lastFlushMs_ = nowMs;
    buffer_.reserve(kBufferLimit + 256);
    return existed && now.st_size > 0 ? Opened::kAppended : Opened::kCreated;
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
