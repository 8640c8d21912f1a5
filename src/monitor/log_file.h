#pragma once
// An append-only text file with a write buffer, for the two CSV logs. Lines collect in memory
// and reach the disk when the buffer fills, when a flush is due (at least once a second when
// the owner calls flushIfDue) and at close. The first failure (disk full, the file removed or
// replaced under us) closes the file and is reported once through the return values.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace qv {

class LogFile {
  public:
    enum class Opened { kCreated, kAppended, kFailed };

    LogFile() = default;
    ~LogFile() { close(); }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens `path` for appending (created when missing); never truncates.
    Opened open(const std::string& path, double nowMs);
    // Adds text to the buffer. False when the file is not open or a write failed now (the
    // file is then closed).
    bool append(std::string_view text);
    // Writes the buffer when at least `periodMs` passed since the last write to disk. False on
    // a failure (the file is then closed).
    bool flushIfDue(double nowMs, double periodMs = 1000.0);
    bool flush();
    // Writes what is buffered and closes. False when that failed.
    bool close();

    bool isOpen() const { return file_ != nullptr; }
    bool failed() const { return failed_; }
    const std::string& path() const { return path_; }
    // Direct access for callers that format into the buffer in place.
    std::string& buffer() { return buffer_; }
    bool flushIfFull() { return buffer_.size() < kBufferLimit || flush(); }

    static constexpr std::size_t kBufferLimit = 64 * 1024;

  private:
    bool fail();
    bool stillOurs() const;

    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
    std::string path_;
    std::string buffer_;
    double lastFlushMs_ = 0;
    bool failed_ = false;
    std::uint64_t device_ = 0;
    std::uint64_t inode_ = 0;
};

}  // namespace qv
