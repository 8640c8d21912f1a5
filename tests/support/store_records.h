#pragma once
// The records of one structure of a configuration store as bytes, back to back, for comparing
// what a store holds with what a controller or a file holds.
#include <cstdint>
#include <vector>

#include "config/config_data_bank.h"

namespace qv::test {

inline std::vector<std::uint8_t> recordsOf(const CConfigDataBank& store, StructureKind kind) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < recordCount(kind); ++i) {
        const auto bytes = store.recordBytes(kind, i);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

}  // namespace qv::test
