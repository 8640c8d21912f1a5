#pragma once
// The program's settings store: named values under key paths, as the registry holds them on
// Windows. Kept as an INI file: "[key path]" sections with "name=value" lines. The file is
// $QV_SETTINGS_FILE when set, else $XDG_CONFIG_HOME/qvconfig/settings.ini, else
// ~/.config/qvconfig/settings.ini.
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace qv {

inline constexpr const char* kBridgeSettingsKey = "SOFTWARE\\Brenlow\\CanBridgeConfig";

class SettingsStore {
  public:
    // Reads the file at `path` (a missing or unreadable file, or one that is not a regular file,
    // is an empty store).
    explicit SettingsStore(std::string path);
    static std::string defaultPath();

    const std::string& path() const { return path_; }
    bool hasKey(const std::string& keyPath) const;
    std::optional<std::string> value(const std::string& keyPath, const std::string& name) const;
    // Decimal or 0x hexadecimal; nothing when missing, malformed or out of range.
    std::optional<std::uint32_t> readUint32(const std::string& keyPath,
                                            const std::string& name) const;
    std::optional<std::uint64_t> readUint64(const std::string& keyPath,
                                            const std::string& name) const;

    void setValue(const std::string& keyPath, const std::string& name, const std::string& value);
    // Writes the whole store to a temporary file and renames it over the old one.
    bool save() const;

  private:
    std::string path_;
    std::map<std::string, std::map<std::string, std::string>> keys_;
};

}  // namespace qv
