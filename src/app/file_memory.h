#pragma once
// Files as people expect: each kind of file dialog (configuration files, logs, acquisition
// data) starts in the folder its last file was chosen in, the configuration files last loaded
// or saved are offered again, and a saved configuration is named after its device and date.
// All of it is kept in the settings file, beside the window positions.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "common/user_interaction.h"

namespace qv {

inline constexpr const char* kRecentFoldersKey =
    "SOFTWARE\\Brenlow\\CAN QVM40 Interface\\Recent Folders";
inline constexpr const char* kRecentFilesKey =
    "SOFTWARE\\Brenlow\\CAN QVM40 Interface\\Recent Files";
inline constexpr std::size_t kRecentFileCount = 5;

// The value name of a kind's folder ("Configuration", "Logs", "Acquisition"; none for Other).
const char* folderValueName(FileKind kind);
// The folder remembered for `kind` in the settings file at `settingsPath`, if any.
std::optional<std::string> rememberedFolder(const std::string& settingsPath, FileKind kind);
// Remembers the folder of `path` for `kind`; false when the file could not be written.
bool rememberFolder(const std::string& settingsPath, FileKind kind, const std::string& path);

// Passes every box and dialog on to `inner`. A file dialog of a kind other than Other whose
// initial path names no folder starts in the folder remembered for its kind; the folder of the
// file chosen is remembered.
class RememberingFileDialogs final : public UserInteraction {
  public:
    RememberingFileDialogs(UserInteraction& inner, std::string settingsPath)
        : inner_(inner), settingsPath_(std::move(settingsPath)) {}

    MessageAnswer messageBox(const MessageBoxRequest& request) override {
        return inner_.messageBox(request);
    }
    MessageAnswer messageBoxWithDetails(const MessageBoxRequest& request,
                                        const std::string& details) override {
        return inner_.messageBoxWithDetails(request, details);
    }
    std::optional<std::string> fileDialog(const FileDialogRequest& request) override;
    void progress(int percent) override { inner_.progress(percent); }

  private:
    UserInteraction& inner_;
    std::string settingsPath_;
};

// The configuration files last loaded or saved, newest first, at most kRecentFileCount, each
// once ("File1" to "File5" in the settings file).
std::vector<std::string> recentFiles(const std::string& settingsPath);
// Puts `path` (made absolute) first; false when the settings file could not be written.
bool addRecentFile(const std::string& settingsPath, const std::string& path);
bool removeRecentFile(const std::string& settingsPath, const std::string& path);

// "0x400_123456_2026-12-08.cfg": the configuration's CAN base address and serial number (each
// left out when unknown) and the local date.
std::string proposedConfigFileName(std::optional<std::uint32_t> base,
                                   std::optional<std::uint32_t> serial, const std::tm& local);

}  // namespace qv
