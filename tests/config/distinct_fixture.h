#pragma once
// A configuration with a distinct value in every field of every record, stated twice: once by
// field name into a store, once as bytes laid out field after field in the order of the file
// format, without the store's types or our file writer. A swapped field, a wrong offset or a
// mistake shared by writer and loader shows as a difference between the two.
//
// The private values survive the calibration report exactly: each prints within the digits
// of its format ("%14.1f", "%14.3e", "%14.5f", "%14.5e").
#include <cstdint>
#include <optional>
#include <vector>

#include "config/config_data_bank.h"

namespace qv::test {

using Bytes = std::vector<std::uint8_t>;

// Writes every fixture value into the records and the identification block by field name.
// Flags, heldVersion and extra blocks are left alone.
void fillDistinct(CConfigDataBank& store);

// The same values as bytes, little-endian, in the order of the format: full-size records with
// their checksums, and the identification block.
Bytes laidOutPublic();
Bytes laidOutPrivate();
Bytes laidOutMotor(std::size_t index);
Bytes laidOutReadOnly();

// A ".cfg" file of the fixture assembled byte by byte: header text, version, the sizes, each
// record cut to its size with the checksum of what is left, and the trailer (none: the file
// ends after the motor records).
struct FileShape {
    std::uint16_t version = 200;
    std::uint16_t publicSize = 66;
    std::uint16_t privateSize = 280;
    std::uint16_t motorSize = 150;
    std::optional<std::uint16_t> trailerLength = 8;
};
Bytes handBuiltFile(const FileShape& shape = {});

// Offset of motor record `index` in a file of `shape`.
std::size_t motorRecordOffset(const FileShape& shape, std::size_t index);

}  // namespace qv::test
