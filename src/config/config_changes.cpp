#include "config/config_changes.h"

#include <cstdio>
#include <memory>
#include <string_view>

#include "config/config_dump.h"

namespace qv {

namespace {

struct DumpLine {
    std::string record;
    std::string field;
    std::string value;
};

// The dump's "record.field = value" lines, without the file header lines. Every byte of the
// store counts, as if it all came from a full file.
std::vector<DumpLine> dumpLines(const CConfigDataBank& store) {
    ConfigFileInfo whole;
    whole.version = kConfigVersion;
    whole.publicSize = kPublicSize;
    whole.privateSize = kPrivateSize;
    whole.motorSize = kMotorSize;
    whole.trailerLength = kReadOnlySize;
    const std::string text = dumpConfig(store, whole);
    std::vector<DumpLine> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        const std::size_t eq = line.find(" = ");
        const std::size_t dot = line.find('.');
        if (eq == std::string_view::npos || dot == std::string_view::npos || dot > eq) continue;
        DumpLine d{std::string(line.substr(0, dot)),
                   std::string(line.substr(dot + 1, eq - dot - 1)),
                   std::string(line.substr(eq + 3))};
        if (d.record == "file") continue;
        lines.push_back(std::move(d));
    }
    return lines;
}

bool inScope(const DumpLine& line, const DiffScope& scope) {
    if (!scope.checksums && line.field == "checksum") return false;
    if (line.record == "public") return scope.kinds[0];
    if (line.record == "private") return scope.kinds[1];
    if (line.record.starts_with("motor[")) return scope.kinds[2];
    if (line.record == "readOnly") return scope.readOnly;
    return false;
}

std::unique_ptr<CConfigDataBank> storeOf(const ConfigSnapshot& snapshot) {
    auto store = std::make_unique<CConfigDataBank>();
    copySnapshotRecords(snapshot, *store);
    return store;
}

}  // namespace

ConfigSnapshot takeSnapshot(const CConfigDataBank& store) {
    ConfigSnapshot s;
    s.readOnly = store.readOnly;
    s.publicConfig = store.publicConfig;
    s.privateConfig = store.privateConfig;
    s.motor = store.motor;
    for (StructureKind kind : {StructureKind::Public, StructureKind::Private, StructureKind::Motor})
        s.valid[static_cast<std::size_t>(kind)] = store.isValid(kind);
    return s;
}

void copySnapshotRecords(const ConfigSnapshot& snapshot, CConfigDataBank& store) {
    store.readOnly = snapshot.readOnly;
    store.publicConfig = snapshot.publicConfig;
    store.privateConfig = snapshot.privateConfig;
    store.motor = snapshot.motor;
}

std::vector<FieldDifference> diffConfigs(const CConfigDataBank& a, const CConfigDataBank& b,
                                         const DiffScope& scope) {
    const std::vector<DumpLine> left = dumpLines(a);
    const std::vector<DumpLine> right = dumpLines(b);
    std::vector<FieldDifference> out;
    // Both listings come from the same field tables, so line i names the same field in both.
    for (std::size_t i = 0; i < left.size() && i < right.size(); ++i) {
        if (!inScope(left[i], scope) || left[i].value == right[i].value) continue;
        out.push_back({left[i].record, left[i].field, left[i].value, right[i].value});
    }
    return out;
}

std::vector<FieldDifference> diffConfigs(const ConfigSnapshot& a, const CConfigDataBank& b,
                                         const DiffScope& scope) {
    return diffConfigs(*storeOf(a), b, scope);
}

std::string formatDiffLines(const std::vector<FieldDifference>& differences) {
    std::string out;
    for (const FieldDifference& d : differences)
        out += d.record + " " + d.field + " " + d.a + " " + d.b + "\n";
    return out;
}

std::string describeUploadChanges(const CConfigDataBank& toWrite,
                                  const ConfigSnapshot* lastDownload, std::uint32_t serial) {
    if (!lastDownload) return {};
    char heading[128];
    std::snprintf(heading, sizeof heading,
                  "Changes against the configuration last downloaded from controller %06lu:\n",
                  static_cast<unsigned long>(serial));
    std::string out = heading;
    DiffScope scope;
    scope.readOnly = false;
    static const char* const kNames[3] = {"public", "private", "motor"};
    bool unknown = false;
    for (std::size_t k = 0; k < 3; ++k) {
        const auto kind = static_cast<StructureKind>(k);
        scope.kinds[k] = toWrite.isModified(kind) && lastDownload->isValid(kind);
        if (toWrite.isModified(kind) && !lastDownload->isValid(kind)) {
            unknown = true;
            out += std::string(kNames[k]) + ": not downloaded before, every field is written\n";
        }
    }
    const auto changes = diffConfigs(*lastDownload, toWrite, scope);
    for (const FieldDifference& d : changes)
        out += d.record + "." + d.field + ": " + d.a + " -> " + d.b + "\n";
    if (changes.empty() && !unknown) out += "no field differs\n";
    return out;
}

}  // namespace qv
