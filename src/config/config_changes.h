#pragma once
// Field-by-field differences between two configurations, from the dump's field tables: what
// `qvcli diff` lists, and what an upload is about to change on a controller compared with the
// configuration last downloaded from it.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config/config_data_bank.h"

namespace qv {

// A copy of the records of a store and which of them were valid, kept after a download so a
// later upload can say what it changes.
struct ConfigSnapshot {
    ReadOnlyConfigInfo readOnly{};
    PublicConfig publicConfig{};
    PrivateConfig privateConfig{};
    std::array<MotorConfig, kMotorCount> motor{};
    std::array<bool, 3> valid{};

    bool isValid(StructureKind kind) const { return valid[static_cast<std::size_t>(kind)]; }
};

ConfigSnapshot takeSnapshot(const CConfigDataBank& store);
// Writes the snapshot's records into `store` (flags untouched).
void copySnapshotRecords(const ConfigSnapshot& snapshot, CConfigDataBank& store);

struct FieldDifference {
    std::string record;  // "public", "private", "motor[3]", "readOnly"
    std::string field;   // as the dump names it: "sineCurrentLimit", "hallAngle[2]", "rail15V.gain"
    std::string a;       // the value in the first configuration, as the dump prints it
    std::string b;
};

struct DiffScope {
    std::array<bool, 3> kinds{true, true, true};  // public, private, motor
    bool readOnly = true;
    bool checksums = false;  // checksums follow the fields; left out unless asked
};

// The fields that differ, in the dump's order.
std::vector<FieldDifference> diffConfigs(const CConfigDataBank& a, const CConfigDataBank& b,
                                         const DiffScope& scope = {});
std::vector<FieldDifference> diffConfigs(const ConfigSnapshot& a, const CConfigDataBank& b,
                                         const DiffScope& scope = {});

// "record field valueA valueB", one line each (qvcli diff).
std::string formatDiffLines(const std::vector<FieldDifference>& differences);

// What uploading the modified structures of `toWrite` changes on the controller `serial`,
// against the configuration last downloaded from it: one "record.field: old -> new" line per
// field, or a line saying nothing differs. Structures not valid in the snapshot are named as
// unknown. Empty when there is no snapshot.
std::string describeUploadChanges(const CConfigDataBank& toWrite,
                                  const ConfigSnapshot* lastDownload, std::uint32_t serial);

}  // namespace qv
