#pragma once
// What the configuration commands share: the CAN port on the command's bridge settings, the
// devices found on the bus, a store, the progress window's state and the transfer context, and
// the copy of the configuration last downloaded from each controller (kept in the user's cache
// folder) against which an upload lists its changes.
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "args.h"
#include "config/config_progress.h"
#include "config/config_transfer.h"
#include "device_scan.h"
#include "link/can_udp_client.h"

namespace qv::cli {

// Options of every configuration command besides the bus options; "-o" is "--output".
std::vector<std::string> withLongOptions(const std::vector<std::string>& argv);
std::optional<std::uint32_t> deviceOption(const Args& args);

class ConfigSession {
  public:
    ConfigSession(const BridgeSettings& settings, std::string command);
    ~ConfigSession();

    // Opens the port and finds the devices; prints why and returns nothing on failure.
    std::optional<std::vector<FoundDevice>> find(const ScanRequest& request);

    TransferContext context(const FoundDevice& device, UserInteraction& ui);
    CBcan& port() { return port_; }
    CConfigDataBank& store() { return store_; }
    CConfigProg& progress() { return progress_; }

  private:
    std::string command_;
    CBcan port_;
    CConfigDataBank store_;
    CConfigProg progress_;
};

// "0x%03X".
std::string baseText(std::uint32_t base);
// "BASE SERIAL", the start of every result line.
std::string deviceText(const FoundDevice& device);

// The copy of the configuration last downloaded from (or uploaded to) a controller:
// $QV_CACHE_DIR, else $XDG_CACHE_HOME/qvconfig/downloads, else ~/.cache/qvconfig/downloads,
// file "BASE_SERIAL.cfg". Failures to keep it are not errors.
std::string lastDownloadPath(std::uint32_t base, std::uint32_t serial);
void rememberDownload(const CConfigDataBank& store, std::uint32_t base, std::uint32_t serial);
std::optional<ConfigSnapshot> lastDownload(std::uint32_t base, std::uint32_t serial);

// Messages of loads the command does on its own: to stderr, questions answered Yes.
class QuietInteraction : public UserInteraction {
  public:
    explicit QuietInteraction(std::string command, bool print = true)
        : command_(std::move(command)), print_(print) {}
    MessageAnswer messageBox(const MessageBoxRequest& request) override;
    std::optional<std::string> fileDialog(const FileDialogRequest&) override {
        return std::nullopt;
    }

  private:
    std::string command_;
    bool print_;
};

}  // namespace qv::cli
