#include "link/platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qv {

bool regularOrMissing(const std::string& path, int& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = kNotRegularFile;
        return false;
    }
    return true;
}

net::Fd openRegularFile(const std::string& path, int flags, int& error, mode_t mode) {
    error = 0;
    if (!regularOrMissing(path, error)) return net::Fd();
    net::Fd fd(::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode));
    if (!fd.valid()) {
        // A pipe put in place since the check: opened for writing without a reader.
        error = errno == ENXIO ? kNotRegularFile : errno;
        return fd;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        error = errno;
        return net::Fd();
    }
    if (!S_ISREG(st.st_mode)) {
        error = kNotRegularFile;
        return net::Fd();
    }
    const int status = ::fcntl(fd.get(), F_GETFL);
    if (status != -1) ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK);
    return fd;
}

std::optional<std::string> readRegularFile(const std::string& path, std::size_t maxBytes,
                                           int& error, bool* more) {
    const net::Fd fd = openRegularFile(path, O_RDONLY, error);
    if (!fd.valid()) return std::nullopt;
    std::string text;
    char buffer[16384];
    // One byte past the limit tells whether there is more.
    while (text.size() <= maxBytes) {
        const std::size_t want = std::min(sizeof buffer, maxBytes + 1 - text.size());
        const ssize_t n = ::read(fd.get(), buffer, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno;
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    const bool cut = text.size() > maxBytes;
    if (cut) text.resize(maxBytes);
    if (more) *more = cut;
    return text;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string fileErrorDescription(int error) {
    if (error == kNotRegularFile)
        return "not a regular file (a named pipe, a device, a socket or a folder)";
    return std::strerror(error);
}

}  // namespace qv
