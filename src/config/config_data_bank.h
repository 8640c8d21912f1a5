#pragma once
// The one in-memory copy of a controller's configuration: the identification block, the three
// structures, the bytes of longer records than this program knows, and the bookkeeping the
// transfer and the file code need (valid and modified flags, the highest version seen).
// There is no lock: during a transfer the worker is the only writer.
#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/auto_reset_event.h"
#include "config/config_records.h"

namespace qv {

// 16-bit wrapping sum of the record's bytes 2 to end, then of every byte of `extra`.
std::uint16_t computeChecksum(std::span<const std::uint8_t> record,
                              std::span<const std::uint8_t> extra = {});
// True when the record's stored checksum equals the sum of its bytes 2 to end. A record
// shorter than its own checksum field is never intact.
bool checksumMatches(std::span<const std::uint8_t> record);

// The motor description as text: the bytes up to the first NUL, at most 19 characters even
// when the 20-byte field carries no terminator.
std::string descriptionText(const MotorConfig& motor);
// Writes at most 19 characters and a terminator; bytes after the terminator keep their value.
void setDescription(MotorConfig& motor, std::string_view text);

// "%0.2f" of version / 100, e.g. 200 -> "2.00".
std::string formatVersion(std::uint16_t version);
// Below 200: shorter records, upgraded on the next save or upload.
constexpr bool isOlderVersion(std::uint16_t version) {
    return version < kConfigVersion;
}
// Above 200: longer records whose extra bytes are carried but not edited.
constexpr bool isNewerVersion(std::uint16_t version) {
    return version > kConfigVersion;
}

// Where the configuration held came from: what the Configuration window's title names.
struct ConfigOrigin {
    enum class Kind { None, Controller, File };
    Kind kind = Kind::None;
    std::uint32_t base = 0;  // controller: CAN base address, serial, name, time of the download
    std::uint32_t serial = 0;
    std::string deviceName;
    std::time_t time = 0;
    std::string fileName;  // file: its name without the folder
};

class CConfigDataBank {
  public:
    CConfigDataBank() = default;
    virtual ~CConfigDataBank() = default;
    CConfigDataBank(const CConfigDataBank&) = delete;
    CConfigDataBank& operator=(const CConfigDataBank&) = delete;

    // The records, read and written in place by the pages, the transfer, files and tools.
    ReadOnlyConfigInfo readOnly{};
    PublicConfig publicConfig{};
    PrivateConfig privateConfig{};
    std::array<MotorConfig, kMotorCount> motor{};

    // Highest configuration version seen since the selected device last changed.
    std::uint16_t heldVersion = 0;

    // Set by the progress window's Cancel, consumed by the transfer at its next stage.
    AutoResetEvent cancelEvent;

    // Set by a download and by a file load.
    ConfigOrigin origin;

    // Writes every default (identification block zero) and clears the three valid flags;
    // modified flags, heldVersion and extra blocks stay.
    void resetToDefaults();
    // Drops every extra block and sets the three extra lengths to 0.
    void clearExtraBlocks();
    // Selection of another device (or none): all flags cleared, heldVersion 0; records stay.
    void deviceChanged();

    bool isValid(StructureKind kind) const { return valid_[index(kind)]; }
    bool isModified(StructureKind kind) const { return modified_[index(kind)]; }
    void setValid(StructureKind kind, bool on) { valid_[index(kind)] = on; }
    void markModified(StructureKind kind) { modified_[index(kind)] = true; }
    void clearModified(StructureKind kind) { modified_[index(kind)] = false; }

    // The known-size bytes of one record; `record` is the motor index for the motor kind and
    // must be 0 otherwise.
    std::span<std::uint8_t> recordBytes(StructureKind kind, std::size_t record = 0);
    std::span<const std::uint8_t> recordBytes(StructureKind kind, std::size_t record = 0) const;

    // Bytes a longer record carried beyond the known size (empty when the length is 0).
    std::uint16_t extraLength(StructureKind kind) const { return extraLength_[index(kind)]; }
    std::span<const std::uint8_t> extraBlock(StructureKind kind, std::size_t record = 0) const;

    // Places `recordCount(kind)` downloaded records of `recordSize` bytes each, back to back in
    // `data`. Up to the known size a record overwrites the front of its slot and the rest of
    // the slot keeps its value; beyond it the surplus goes to the record's extra block. False,
    // with nothing changed, when `data` holds fewer bytes than the records need.
    bool placeRecords(StructureKind kind, std::span<const std::uint8_t> data,
                      std::uint16_t recordSize);

    // What the records hold now is on a controller or in a file (a download, a load, a save or a
    // verified upload): the reference of unsavedChanges().
    void markSaved();
    void markSaved(StructureKind kind);
    // The records differ from what was last downloaded, loaded, saved or written. Checksums do
    // not count, nor the Id range of a BLDC motor record (its page shows 0 there and stores it).
    bool unsavedChanges() const;

    // Stores the checksum of every record; upload includes the extra blocks, a file does not.
    void refreshChecksums(bool includeExtraBlocks);

    // heldVersion = max(heldVersion, version).
    void noteVersion(std::uint16_t version);
    // Version written into streams sent to the controller: max(heldVersion, 200).
    std::uint16_t streamVersion() const;

    std::string motorDescription(std::size_t record) const {
        return descriptionText(motor.at(record));
    }

  private:
    static std::size_t index(StructureKind kind) { return static_cast<std::size_t>(kind); }
    std::vector<std::uint8_t>& extraSlot(StructureKind kind, std::size_t record);

    // The records as unsavedChanges() compares them.
    std::vector<std::uint8_t> comparable() const;

    std::vector<std::uint8_t> saved_ = comparable();
    std::array<bool, 3> valid_{};
    std::array<bool, 3> modified_{};
    std::array<std::uint16_t, 3> extraLength_{};
    std::vector<std::uint8_t> extraPublic_;
    std::vector<std::uint8_t> extraPrivate_;
    std::array<std::vector<std::uint8_t>, kMotorCount> extraMotor_;
};

// The defaults of each record (checksums computed, identification block zero).
PublicConfig defaultPublicConfig();
PrivateConfig defaultPrivateConfig();
// Writes the motor defaults into `motor`; the description bytes after its terminator keep
// their value.
void applyMotorDefaults(MotorConfig& motor);

}  // namespace qv
