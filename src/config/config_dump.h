#pragma once
// A stable text listing of a configuration: one "record.field = value" line per field (array
// elements and channel halves on lines of their own), then what the file header said. Floats
// print with nine significant digits so they read back exactly; identifiers print in hex.
// Two listings diff cleanly field by field.
#include <cstddef>
#include <span>
#include <string>

#include "config/config_data_bank.h"
#include "config/config_file.h"

namespace qv {

enum class FieldType { U16, U32, F32, Hex16, Hex32, Channel, Text };

struct FieldInfo {
    const char* name;
    std::size_t offset;
    FieldType type;
    std::size_t count = 1;  // array elements
    int hexDigits = 0;      // minimum digits of Hex16 / Hex32
};

// Every field of a record in byte order; together they cover the record exactly.
std::span<const FieldInfo> recordFields(StructureKind kind);
std::span<const FieldInfo> readOnlyFields();
// Bytes one field takes (all its elements).
std::size_t fieldSize(const FieldInfo& field);

// The listing of the store's records (public, private, motor[0..9], readOnly) and `header`.
// The header's record sizes and trailer length say which bytes came from the file: a value
// with bytes beyond them (an older file's shorter records, a missing or short trailer) shows
// what the store holds there followed by " (not in file)".
std::string dumpConfig(const CConfigDataBank& store, const ConfigFileInfo& header);

}  // namespace qv
