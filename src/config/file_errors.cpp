#include "config/file_errors.h"

#include <array>
#include <cerrno>

#include "link/platform/regular_file.h"

namespace qv {

namespace {

constexpr std::array<const char*, 15> kTexts = {
    "No error occurred",
    "An unspecified error occurred",
    "The file could not be located",
    "All or part of the path is invalid",
    "The permitted number of open files was exceeded",
    "The file could not be accessed",
    "There was an attempt to use an invalid file handle",
    "The current working directory cannot be removed",
    "There are no more directory entries",
    "There was an error trying to set the file pointer",
    "There was a hardware error",
    "SHARE.EXE was not loaded, or a shared region was locked",
    "There was an attempt to lock a region that was already locked",
    "The disk is full",
    "The end of file was reached",
};

}  // namespace

const char* fileErrorText(FileErrorCause cause) {
    const auto i = static_cast<std::size_t>(cause);
    return i < kTexts.size() ? kTexts[i] : kTexts[1];
}

FileErrorCause fileErrorCause(int e) {
    switch (e) {
        case 0:
            return FileErrorCause::None;
        case kNotRegularFile:  // a named pipe, a device, a socket or a folder
            return FileErrorCause::AccessDenied;
        case ENOENT:
            return FileErrorCause::FileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
        case EINVAL:
            return FileErrorCause::BadPath;
        case EMFILE:
        case ENFILE:
            return FileErrorCause::TooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case EEXIST:
        case ETXTBSY:
            return FileErrorCause::AccessDenied;
        case EBADF:
            return FileErrorCause::InvalidFile;
        case ESPIPE:
            return FileErrorCause::BadSeek;
        case EIO:
            return FileErrorCause::HardIO;
        case EAGAIN:
        case EBUSY:
            return FileErrorCause::SharingViolation;
        case EDEADLK:
        case ENOLCK:
            return FileErrorCause::LockViolation;
        case ENOSPC:
        case EFBIG:
#ifdef EDQUOT
        case EDQUOT:
#endif
            return FileErrorCause::DiskFull;
        default:
            return FileErrorCause::Unspecified;
    }
}

MessageBoxRequest fileErrorMessage(FileErrorCause cause, bool writing) {
    MessageBoxRequest r;
    r.text = fileErrorText(cause);
    r.caption = writing ? kFileWriteErrorCaption : kFileReadErrorCaption;
    r.icon = MessageIcon::Error;
    r.buttons = MessageButtons::Ok;
    r.defaultAnswer = MessageAnswer::Ok;
    return r;
}

}  // namespace qv
