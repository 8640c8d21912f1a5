#include "app/file_memory.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "link/platform/settings_store.h"

namespace qv {

namespace {

std::string absolute(const std::string& path) {
    std::error_code error;
    const auto p = std::filesystem::absolute(path, error);
    return error ? path : p.lexically_normal().string();
}

bool saveRecent(const std::string& settingsPath, const std::vector<std::string>& files) {
    SettingsStore store(settingsPath);
    for (std::size_t i = 0; i < kRecentFileCount; ++i)
        store.setValue(kRecentFilesKey, "File" + std::to_string(i + 1),
                       i < files.size() ? files[i] : std::string());
    return store.save();
}

}  // namespace

const char* folderValueName(FileKind kind) {
    switch (kind) {
        case FileKind::Configuration:
            return "Configuration";
        case FileKind::Log:
            return "Logs";
        case FileKind::Acquisition:
            return "Acquisition";
        case FileKind::Other:
            break;
    }
    return nullptr;
}

std::optional<std::string> rememberedFolder(const std::string& settingsPath, FileKind kind) {
    const char* name = folderValueName(kind);
    if (!name || settingsPath.empty()) return std::nullopt;
    auto folder = SettingsStore(settingsPath).value(kRecentFoldersKey, name);
    std::error_code error;
    if (!folder || folder->empty() || !std::filesystem::is_directory(*folder, error))
        return std::nullopt;  // gone since: the dialog's own default
    return folder;
}

bool rememberFolder(const std::string& settingsPath, FileKind kind, const std::string& path) {
    const char* name = folderValueName(kind);
    if (!name || settingsPath.empty()) return false;
    const std::string folder = std::filesystem::path(absolute(path)).parent_path().string();
    SettingsStore store(settingsPath);
    if (store.value(kRecentFoldersKey, name) == folder) return true;
    store.setValue(kRecentFoldersKey, name, folder);
    return store.save();
}

std::optional<std::string> RememberingFileDialogs::fileDialog(const FileDialogRequest& request) {
    FileDialogRequest r = request;
    const std::filesystem::path initial(r.initialPath);
    if (!initial.has_parent_path())
        if (const auto folder = rememberedFolder(settingsPath_, r.kind))
            r.initialPath = r.initialPath.empty()
                                ? *folder + "/"  // the folder alone
                                : (std::filesystem::path(*folder) / initial).string();
    auto chosen = inner_.fileDialog(r);
    if (chosen && !chosen->empty()) rememberFolder(settingsPath_, r.kind, *chosen);
    return chosen;
}

std::vector<std::string> recentFiles(const std::string& settingsPath) {
    std::vector<std::string> files;
    if (settingsPath.empty()) return files;
    const SettingsStore store(settingsPath);
    for (std::size_t i = 0; i < kRecentFileCount; ++i) {
        const auto f = store.value(kRecentFilesKey, "File" + std::to_string(i + 1));
        if (f && !f->empty() && std::find(files.begin(), files.end(), *f) == files.end())
            files.push_back(*f);
    }
    return files;
}

bool addRecentFile(const std::string& settingsPath, const std::string& path) {
    if (settingsPath.empty()) return false;
    const std::string file = absolute(path);
    std::vector<std::string> files = recentFiles(settingsPath);
    if (!files.empty() && files.front() == file) return true;
    std::erase(files, file);
    files.insert(files.begin(), file);
    if (files.size() > kRecentFileCount) files.resize(kRecentFileCount);
    return saveRecent(settingsPath, files);
}

bool removeRecentFile(const std::string& settingsPath, const std::string& path) {
    std::vector<std::string> files = recentFiles(settingsPath);
    if (std::erase(files, path) == 0) return true;
    return saveRecent(settingsPath, files);
}

std::string proposedConfigFileName(std::optional<std::uint32_t> base,
                                   std::optional<std::uint32_t> serial, const std::tm& local) {
    std::string name;
    char text[32];
    if (base) {
        std::snprintf(text, sizeof text, "0x%03X_", static_cast<unsigned>(*base));
        name += text;
    }
    if (serial) name += std::to_string(*serial) + "_";
    if (std::strftime(text, sizeof text, "%Y-%m-%d", &local) == 0) text[0] = '\0';
    return (name.empty() ? std::string("config_") : name) + text + ".cfg";
}

}  // namespace qv
