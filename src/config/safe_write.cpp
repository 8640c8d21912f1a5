#include "config/safe_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "link/net/socket.h"
#include "link/platform/regular_file.h"

namespace qv {

namespace {

namespace fs = std::filesystem;
using net::Fd;

int lastError() {
    return errno != 0 ? errno : EIO;
}

// Follows symbolic links as opening the path would, so that the file they lead to is
// replaced and the link stays; a dangling link leads to the file a plain write would create.
fs::path followLinks(fs::path path) {
    for (int depth = 0; depth < 40; ++depth) {
        std::error_code ec;
        if (!fs::is_symlink(path, ec)) break;
        const fs::path next = fs::read_symlink(path, ec);
        if (ec) break;
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return path;
}

fs::path folderOf(const fs::path& target) {
    return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

// Returns the bytes written; fewer than asked means a failure, with errno set.
std::size_t writeAt(int fd, std::span<const std::uint8_t> bytes, off_t offset) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                   offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool readAt(int fd, std::span<std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A new file next to `target` under a short hidden name of its own, so that a long target
// name cannot make it too long. ENOENT: the folder does not exist.
Fd createTemporary(const fs::path& target, std::string& name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = (folderOf(target) /
                (".qvcfg-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp"))
                   .string();
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return Fd(fd);
        if (errno != EEXIST) return Fd();
    }
    errno = EEXIST;
    return Fd();
}

// Writes a temporary file and renames it over `target`. `old` describes the file it replaces
// (null when there is none); the new file takes its owner, group and mode. Returns 0 or the
// errno of the first failure; on failure the target is untouched and the temporary file gone.
int replaceThroughTemporary(const fs::path& target, std::span<const std::uint8_t> bytes,
                            const struct stat* old) {
    std::string temp;
    Fd file = createTemporary(target, temp);
    if (!file.valid()) return lastError();
    int error = 0;
    const auto check = [&](bool ok) {
        if (!ok && error == 0) error = lastError();
    };
    if (old) {
        check(::fchown(file.get(), old->st_uid, old->st_gid) == 0);
        if (error == 0) check(::fchmod(file.get(), old->st_mode & 07777) == 0);
    }
    if (error == 0) check(writeAt(file.get(), bytes, 0) == bytes.size());
    if (error == 0) check(::fsync(file.get()) == 0);
    check(::close(file.release()) == 0);
    if (error == 0) check(::rename(temp.c_str(), target.c_str()) == 0);
    if (error != 0) {
        ::unlink(temp.c_str());
        return error;
    }
    Fd folder(::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid()) ::fsync(folder.get());
    return 0;
}

// Overwrites the open file `fd` of `oldSize` bytes with `bytes`. The bytes it overwrites are
// read first; when a write fails they are written back and the old length restored, so the
// file ends as it was whenever the system lets the restoring writes through (they only
// rewrite what was there, needing no new room).
int overwriteInPlace(int fd, std::span<const std::uint8_t> bytes, off_t oldSize) {
    std::vector<std::uint8_t> saved(std::min<std::size_t>(bytes.size(), oldSize));
    if (!readAt(fd, saved)) return lastError();
    const std::size_t written = writeAt(fd, bytes, 0);
    int error = written == bytes.size() ? 0 : lastError();
    if (error == 0 && ::fsync(fd) != 0) error = lastError();
    // Shortening comes last: the old tail is dropped only once the new bytes are safe.
    if (error == 0 && static_cast<off_t>(bytes.size()) < oldSize &&
        ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0)
        error = lastError();
    if (error == 0) return 0;
    const std::span<const std::uint8_t> restore(saved.data(), std::min(written, saved.size()));
    writeAt(fd, restore, 0);
    if (static_cast<off_t>(written) > oldSize && ::ftruncate(fd, oldSize) != 0) {
        // Nothing more can be done here: the first error is the one reported.
    }
    ::fsync(fd);
    return error;
}

}  // namespace

FileErrorCause writeFileSafely(const std::string& path, std::span<const std::uint8_t> bytes) {
    const fs::path target = followLinks(path);

    // Whatever a plain write would refuse is refused here, before anything is touched.
    // Devices, pipes, sockets and folders are not configuration files: they are refused
    // without being written into or waited on.
    bool readable = true;
    int openError = 0;
    Fd existing = openRegularFile(target.string(), O_RDWR, openError);
    if (openError == EACCES) {
        readable = false;  // write-only: writable, but its old bytes cannot be kept
        existing = openRegularFile(target.string(), O_WRONLY, openError);
    }
    struct stat old {};
    if (existing.valid()) {
        if (::fstat(existing.get(), &old) != 0) return fileErrorCause(lastError());
    } else if (openError != ENOENT) {
        return fileErrorCause(openError != 0 ? openError : EIO);
    }

    // A rename would leave the file's other hard links with the old contents.
    int error = 0;
    if (!existing.valid() || old.st_nlink <= 1) {
        error = replaceThroughTemporary(target, bytes, existing.valid() ? &old : nullptr);
        if (error == 0) return FileErrorCause::None;
        // Nothing to overwrite: a missing folder is a fault of the path.
        if (!existing.valid())
            return error == ENOENT ? FileErrorCause::BadPath : fileErrorCause(error);
    }
    // The folder takes no new file, the owner cannot be kept, or there are other links:
    // write into the file itself, as a plain write does.
    if (!readable) return fileErrorCause(error != 0 ? error : EACCES);
    error = overwriteInPlace(existing.get(), bytes, old.st_size);
    return error == 0 ? FileErrorCause::None : fileErrorCause(error);
}

}  // namespace qv
