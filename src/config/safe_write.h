#pragma once
// Writing a whole file so that a failure never costs the user the file that was there, and
// that refuses exactly what a plain write ("create or truncate, then write") would refuse.
#include <cstdint>
#include <span>
#include <string>

#include "config/file_errors.h"

namespace qv {

// Replaces the contents of `path` (following symbolic links) with `bytes`.
// - Refused, with nothing touched: an existing target that the caller may not open for
//   writing (a read-only file), a folder, or anything else that is not a regular file; a
//   folder that does not exist (BadPath).
// - Normally the bytes go to a temporary file in the same folder, which is renamed over the
//   target only when complete; it takes the mode and owner of the file it replaces.
// - Where that cannot work or would change what a plain write keeps (no temporary file may
//   be created in the folder, the old owner cannot be kept, the file has further hard links),
//   the target is overwritten in place; when that fails the overwritten bytes are written
//   back and the old length restored.
// Returns FileErrorCause::None on success, else the cause of the first failure.
FileErrorCause writeFileSafely(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace qv
