#pragma once
// Frame texts shared by qvcli and the Bus Monitor window: "ID#DATA" (upper-case hex, a
// standard identifier in 3 digits and an extended one in 8, a remote frame "ID#R") and the
// candump log line "(SECONDS.MICROSECONDS) can0 ID#DATA\n" with the wall-clock time of arrival,
// which can-utils and other CAN tools replay. Both writers use these functions, so their logs
// agree byte for byte.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/can_frame.h"

namespace qv {

// "ID#DATA": min(length, 8) data bytes; "ID#R" for a remote frame.
void appendFrameText(std::string& out, const CanFrame& frame);
std::string frameText(const CanFrame& frame);
// Parses that text (an identifier of more than 3 digits is extended); nothing when malformed.
std::optional<CanFrame> parseFrameText(std::string_view text);

// "(%lld.%06ld) can0 ID#DATA\n" for a frame that arrived `timeNs` nanoseconds after 1970
// (microseconds cut, not rounded, as the clock's nanoseconds divided by 1000).
void appendCandumpLine(std::string& out, std::int64_t timeNs, const CanFrame& frame);

struct CandumpRecord {
    std::int64_t timeNs = 0;
    CanFrame frame;
};
// One line of a candump log ("(SECONDS.FRACTION) IFACE ID#DATA", the fraction 1 to 9 digits,
// any interface name). On a malformed line: nothing, and `error` says why.
std::optional<CandumpRecord> parseCandumpLine(std::string_view line, std::string& error);

// Reads a candump log file: a regular file of at most kMaxCandumpFileBytes, every non-empty
// line a frame. On failure: nothing, and `error` says why ("line 12: bad time"); nothing the
// caller holds is touched.
inline constexpr std::size_t kMaxCandumpFileBytes = std::size_t{512} << 20;
std::optional<std::vector<CandumpRecord>> readCandumpFile(const std::string& path,
                                                          std::string& error);

}  // namespace qv
