#include "link/platform/settings_store.h"

#include <fcntl.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "common/parse_number.h"
#include "link/platform/regular_file.h"

namespace qv {

namespace {

// A settings file is a few kilobytes; nothing past this is read.
constexpr std::size_t kMaxSettingsBytes = 1 << 20;

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

}  // namespace

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {
    // A named pipe or a device in its place reads as an empty store, never waited on.
    int error = 0;
    const auto text = readRegularFile(path_, kMaxSettingsBytes, error);
    std::istringstream in(text.value_or(std::string()));
    std::string line, section;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            keys_[section];
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || section.empty()) continue;
        keys_[section][trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
    }
}

std::string SettingsStore::defaultPath() {
    if (const char* p = std::getenv("QV_SETTINGS_FILE"); p && *p) return p;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
        return std::string(x) + "/qvconfig/settings.ini";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/.config/qvconfig/settings.ini";
}

bool SettingsStore::hasKey(const std::string& keyPath) const {
    return keys_.count(keyPath) > 0;
}

std::optional<std::string> SettingsStore::value(const std::string& keyPath,
                                                const std::string& name) const {
    const auto k = keys_.find(keyPath);
    if (k == keys_.end()) return std::nullopt;
    const auto v = k->second.find(name);
    if (v == k->second.end()) return std::nullopt;
    return v->second;
}

std::optional<std::uint32_t> SettingsStore::readUint32(const std::string& keyPath,
                                                       const std::string& name) const {
    const auto text = value(keyPath, name);
    if (!text) return std::nullopt;
    const auto v = parseUnsignedNumber(*text);
    if (!v || *v > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

std::optional<std::uint64_t> SettingsStore::readUint64(const std::string& keyPath,
                                                       const std::string& name) const {
    const auto text = value(keyPath, name);
    if (!text) return std::nullopt;
    return parseUnsignedNumber(*text);
}

void SettingsStore::setValue(const std::string& keyPath, const std::string& name,
                             const std::string& value) {
    keys_[keyPath][name] = value;
}

bool SettingsStore::save() const {
    std::error_code ec;
    const std::filesystem::path target(path_);
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
    const std::string temp = path_ + ".tmp";
    std::string text;
    for (const auto& [key, values] : keys_) {
        text += '[' + key + "]\n";
        for (const auto& [name, value] : values) text += name + '=' + value + '\n';
        text += '\n';
    }
    int error = 0;
    const net::Fd out = openRegularFile(temp, O_WRONLY | O_CREAT | O_TRUNC, error);
    if (!out.valid() || !writeAll(out.get(), text)) {
        if (out.valid()) std::filesystem::remove(temp, ec);
        return false;
    }
    std::filesystem::rename(temp, target, ec);
    return !ec;
}

}  // namespace qv
