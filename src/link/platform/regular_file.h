#pragma once
// Opening the files a user names (logs, configuration and data files, the settings) so that no
// name can hang the program: opening a named pipe waits for its other end, and a device or a
// socket is no file to keep data in. Such a path is refused before it is opened; what is then
// opened (without blocking) is checked again to be a regular file, so a swap in between is
// refused too.
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>

#include "link/net/socket.h"

namespace qv {

// The error of a path that names something other than a regular file (a named pipe, a device,
// a socket or a folder). Never an errno value.
inline constexpr int kNotRegularFile = -1;

// Opens `path` with `flags` (O_RDONLY, O_RDWR, O_WRONLY | O_APPEND | O_CREAT, ...; O_NONBLOCK,
// O_NOCTTY and O_CLOEXEC are added, and O_NONBLOCK is taken off again once the file is known to
// be regular). On failure the descriptor is invalid and `error` holds the errno or
// kNotRegularFile.
net::Fd openRegularFile(const std::string& path, int flags, int& error, mode_t mode = 0666);

// False with kNotRegularFile when `path` exists and is not a regular file (symbolic links
// followed); true when it is one or does not exist.
bool regularOrMissing(const std::string& path, int& error);

// Reads at most `maxBytes` of a regular file. `more` (when given) tells whether the file holds
// more than that. Nothing, with `error` set, when it cannot be opened or read.
std::optional<std::string> readRegularFile(const std::string& path, std::size_t maxBytes,
                                           int& error, bool* more = nullptr);

// Writes all of `text` to `fd`; false with errno set when it could not.
bool writeAll(int fd, const std::string& text);

// What went wrong, for a message: the system's text of an errno, or "not a regular file (a
// named pipe, a device, a socket or a folder)".
std::string fileErrorDescription(int error);

}  // namespace qv
