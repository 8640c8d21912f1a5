#pragma once
// The fifteen file-system failure causes shown when a configuration file cannot be read or
// written, and the mapping of an errno value to the closest one.
#include <string>

#include "common/user_interaction.h"

namespace qv {

enum class FileErrorCause {
    None = 0,
    Unspecified = 1,
    FileNotFound = 2,
    BadPath = 3,
    TooManyOpenFiles = 4,
    AccessDenied = 5,
    InvalidFile = 6,
    RemoveCurrentDir = 7,
    DirectoryFull = 8,
    BadSeek = 9,
    HardIO = 10,
    SharingViolation = 11,
    LockViolation = 12,
    DiskFull = 13,
    EndOfFile = 14,
};

// The fixed text of a cause; out-of-range values give the unspecified text.
const char* fileErrorText(FileErrorCause cause);

// Closest cause of an errno value (0 is "No error occurred").
FileErrorCause fileErrorCause(int errnoValue);

inline constexpr const char* kFileReadErrorCaption = "File read error";
inline constexpr const char* kFileWriteErrorCaption = "File write error";

// The message box of a file-system failure: cause text, caption, error icon, OK button.
MessageBoxRequest fileErrorMessage(FileErrorCause cause, bool writing);

}  // namespace qv
