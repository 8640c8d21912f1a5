#include "config_session.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "config/config_file.h"
#include "terminal_ui.h"

namespace qv::cli {

std::vector<std::string> withLongOptions(const std::vector<std::string>& argv) {
    std::vector<std::string> out = argv;
    for (std::string& a : out)
        if (a == "-o") a = "--output";
    return out;
}

std::optional<std::uint32_t> deviceOption(const Args& args) {
    if (!args.value("--device")) return std::nullopt;
    const auto base = static_cast<std::uint32_t>(args.number("--device", 0, 0x7E0));
    if (base % 0x20 != 0) throw UsageError("--device must be a multiple of 0x20");
    return base;
}

ConfigSession::ConfigSession(const BridgeSettings& settings, std::string command)
    : command_(std::move(command)),
      port_([settings] { return std::make_unique<CanUdpClient>(settings); }) {}

ConfigSession::~ConfigSession() {
    port_.close();
}

std::optional<std::vector<FoundDevice>> ConfigSession::find(const ScanRequest& request) {
    if (port_.open() != 1) {
        std::fprintf(stderr, "qvcli %s: cannot open the CAN port\n", command_.c_str());
        return std::nullopt;
    }
    auto devices = scanDevices(port_, request);
    if (devices.empty()) {
        if (request.base)
            std::fprintf(stderr, "qvcli %s: no device announces itself at %s\n", command_.c_str(),
                         baseText(*request.base).c_str());
        else
            std::fprintf(stderr, "qvcli %s: no device announces itself\n", command_.c_str());
        return std::nullopt;
    }
    return devices;
}

TransferContext ConfigSession::context(const FoundDevice& device, UserInteraction& ui) {
    TransferTarget target;
    target.base = device.base;
    target.serial = device.serial;
    target.bridgeAddress = device.bridgeAddress;
    target.configError = device.errorFlags && (*device.errorFlags & kConfigErrorFlag) != 0;
    return TransferContext(port_, store_, target, ui, progress_);
}

std::string baseText(std::uint32_t base) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%03X", static_cast<unsigned>(base));
    return text;
}

std::string deviceText(const FoundDevice& device) {
    return baseText(device.base) + " " + std::to_string(device.serial);
}

MessageAnswer QuietInteraction::messageBox(const MessageBoxRequest& request) {
    const bool yesNo =
        request.buttons == MessageButtons::YesNo || request.buttons == MessageButtons::YesNoCancel;
    if (print_)
        std::fprintf(stderr, "qvcli %s: %s: %s%s\n", command_.c_str(), request.caption.c_str(),
                     terminalText(request.text).c_str(), yesNo ? " [answered Yes]" : "");
    if (yesNo) return MessageAnswer::Yes;
    return MessageAnswer::Ok;
}

namespace {

std::filesystem::path cacheFolder() {
    if (const char* dir = std::getenv("QV_CACHE_DIR"); dir && *dir) return dir;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg)
        return std::filesystem::path(xdg) / "qvconfig" / "downloads";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".cache" / "qvconfig" / "downloads";
    return {};
}

}  // namespace

std::string lastDownloadPath(std::uint32_t base, std::uint32_t serial) {
    const auto folder = cacheFolder();
    if (folder.empty()) return {};
    return (folder / (baseText(base) + "_" + std::to_string(serial) + ".cfg")).string();
}

void rememberDownload(const CConfigDataBank& store, std::uint32_t base, std::uint32_t serial) {
    const std::string path = lastDownloadPath(base, serial);
    if (path.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    CConfigDataBank copy;
    copySnapshotRecords(takeSnapshot(store), copy);
    QuietInteraction silent("", false);
    saveConfigFile(copy, path, silent);
}

std::optional<ConfigSnapshot> lastDownload(std::uint32_t base, std::uint32_t serial) {
    const std::string path = lastDownloadPath(base, serial);
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    CConfigDataBank copy;
    copy.resetToDefaults();
    QuietInteraction silent("", false);
    if (!loadConfigFile(copy, path, silent, true, true)) return std::nullopt;
    return takeSnapshot(copy);
}

}  // namespace qv::cli
