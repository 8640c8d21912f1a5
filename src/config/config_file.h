#pragma once
// The ".cfg" configuration file: header, version, record sizes, the public, private and ten
// motor records, and the identification block as a trailer. Saving writes the full current
// layout; loading accepts older files with shorter records and refuses newer ones.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/user_interaction.h"
#include "config/config_data_bank.h"

namespace qv {

// Size of a file written by saveConfigFile.
inline constexpr std::size_t kConfigFileSize =
    34 + kPublicSize + kPrivateSize + kMotorCount * kMotorSize + 2 + kReadOnlySize;
static_assert(kConfigFileSize == 1890);
// No byte beyond this many is ever looked at: largest records plus the longest trailer.
inline constexpr std::size_t kMaxConfigFileBytes =
    34 + kPublicSize + kPrivateSize + kMotorCount * kMotorSize + 2 + 0xFFFF;

// Device type codes the loader can select from a charger file's first motor description.
inline constexpr std::uint16_t kDeviceTypeGridTieCharger = 0x4001;
inline constexpr std::uint16_t kDeviceTypeIsolatedCharger = 0x4000;

// What a load does to the main window; both optional.
struct ConfigFileHooks {
    // The public record was replaced: forget the fallback driver-controls base.
    std::function<void()> clearFallbackDriverControlsBase;
    // A charger file was loaded with its trailer: select this device type.
    std::function<void(std::uint16_t deviceType)> setSelectedDeviceType;
};

// What the header of a file said (filled as far as the load got).
struct ConfigFileInfo {
    std::uint16_t version = 0;
    std::uint16_t publicSize = 0;
    std::uint16_t privateSize = 0;
    std::uint16_t motorSize = 0;
    std::optional<std::uint16_t> trailerLength;  // none when the file ends after the records
};

// Load errors, each with a fixed message box.
enum class filePassErr {
    BadHeader = 0,
    LaterVersion = 1,
    BadStructureLength = 2,
    ChecksumMismatch = 3,
    IncompleteNewerDownload = 4,
};

// The message box of a load error; `version` is the file's version (used by LaterVersion).
MessageBoxRequest filePassErrMessage(filePassErr error, std::uint16_t version);
// The question asked before an older file is upgraded.
MessageBoxRequest upgradeQuestion(std::uint16_t fileVersion);

// The bytes saveConfigFile writes; refreshes the record checksums (known sizes only) first.
std::vector<std::uint8_t> buildConfigFile(CConfigDataBank& store);

// Writes the file (see writeFileSafely): refuses what a plain write would refuse, and a failed
// save leaves an existing file as it was. Failures are shown with the caption "File write
// error"; returns true when the file was written. The valid and modified flags do not change.
bool saveConfigFile(CConfigDataBank& store, const std::string& path, UserInteraction& ui);

// Loads a file into the store. Returns true when the file was taken over, false when the user
// declined the upgrade or an error was shown. The whole file is read and checked before the
// store changes: a load that returns false leaves records, flags and heldVersion as they were.
// `loadPrivate` false keeps the store's private record; `loadTrailer` reads the identification
// block and detects a charger file.
bool loadConfigFile(CConfigDataBank& store, const std::string& path, UserInteraction& ui,
                    bool loadPrivate, bool loadTrailer, const ConfigFileHooks& hooks = {},
                    ConfigFileInfo* info = nullptr);

// The same load from the file's bytes in memory.
bool loadConfigData(CConfigDataBank& store, std::span<const std::uint8_t> data, UserInteraction& ui,
                    bool loadPrivate, bool loadTrailer, const ConfigFileHooks& hooks = {},
                    ConfigFileInfo* info = nullptr);

}  // namespace qv
