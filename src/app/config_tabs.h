#pragma once
// The Configuration window's logic (CConfigTabs without its widgets): the three pages
// "General", "Calibration" and "Motor" over the configuration store, refresh and write back,
// and the menu: "Load from PC", "Save to PC", "Exit", "Load from QV", "Save to QV". The window
// shows the pages' state and forwards the user's input; before "Save to PC", "Save to QV" and
// closing it checks the field being edited (the focus leaves it) and only then calls in here.
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "app/transfer_job.h"
#include "config/config_file.h"
#include "config/pages/calibration_page.h"
#include "config/pages/general_page.h"
#include "config/pages/motor_page.h"

namespace qv {

class CQVDrvCtrlsApp;

namespace config_window_id {
inline constexpr int kTabControl = 1080;
inline constexpr int kClose = 2;
inline constexpr int kLoadFromPc = 57601;
inline constexpr int kSaveToPc = 57603;
inline constexpr int kExit = 32801;
inline constexpr int kLoadFromQv = 32779;
inline constexpr int kSaveToQv = 32780;
// The File menu's recent files, newest first (kRecentFileCount of them).
inline constexpr int kRecentFile1 = 57616;
}  // namespace config_window_id

// What the window needs from the main window.
class ConfigTabsHost {
  public:
    virtual ~ConfigTabsHost() = default;
    virtual bool deviceSelected() const = 0;
    virtual std::int32_t deviceType() const = 0;
    // Runs `job` on the main window's worker; false when nothing started (the user was told).
    virtual bool startJob(const TransferJob& job) = 0;
    // What a file load does to the main window.
    virtual ConfigFileHooks fileHooks() = 0;
    // The settings file that keeps the recent files ("": none are kept).
    virtual std::string settingsPath() const { return {}; }
};

// The main window's state of `app`.
std::unique_ptr<ConfigTabsHost> applicationConfigTabsHost(CQVDrvCtrlsApp& app);

// The window's title: "Configuration", then where the configuration came from (the controller
// with its base address, name, serial number and the time of the download, or the file's
// name), then " *" while changes are neither written to a controller nor saved to a file.
std::string configWindowTitle(const ConfigOrigin& origin, bool unsaved);

// The outcome of a command for the window.
struct ConfigCommandResult {
    bool close = false;      // disable and hide the window
    bool refreshed = false;  // the pages were filled again: show them anew
    // A field refused its value: the window shows its page and gives it the focus.
    bool keepFocus = false;
    int page = -1;    // 0 General, 1 Calibration, 2 Motor
    int record = -1;  // the motor record, for a field of a motor page
    int focusId = 0;
};

class CConfigTabs {
  public:
    static constexpr const char* kCaption = "Configuration";
    static constexpr int kPageCount = 3;
    static constexpr const char* kPageNames[kPageCount] = {"General", "Calibration", "Motor"};

    CConfigTabs(CConfigDataBank& store, UserInteraction& ui, ConfigTabsHost& host);

    CConfig& general() { return general_; }
    CConfigCal& calibration() { return calibration_; }
    CConfigMotorTabs& motor() { return motor_; }

    // Every page from the store (nothing while a transfer runs). True when the pages filled.
    bool refresh();
    // Every page into the store, in page order; stops at the first page that refuses a field.
    ConfigCommandResult writeBack();

    // A menu command, "Close" (2) or Escape (as "Exit").
    ConfigCommandResult onCommand(int commandId);
    // The File menu's recent files, newest first (kRecentFile1 + i loads number i).
    std::vector<std::string> recentFiles() const;
    // The name "Save to PC" proposes: the configuration's device and today's date.
    std::string proposedFileName(const std::tm& local) const;
    // The pages hold edits a write back would store (false until the first refresh).
    bool pendingEdits() const;
    // configWindowTitle for what the store and the pages hold now; while a transfer runs, the
    // title last given.
    std::string title();

    // "Load from QV" and "Save to QV" are offered only while a device is selected.
    bool transferItemsEnabled() const { return host_.deviceSelected(); }
    std::int32_t deviceType() const { return host_.deviceType(); }

  private:
    bool transferBusy();
    ConfigCommandResult loadFromPc();
    ConfigCommandResult loadFile(const std::string& path);
    ConfigCommandResult loadRecentFile(std::size_t index);
    ConfigCommandResult saveToPc();

    CConfigDataBank& store_;
    UserInteraction& ui_;
    ConfigTabsHost& host_;
    CConfig general_;
    CConfigCal calibration_;
    CConfigMotorTabs motor_;
    bool filled_ = false;
    std::string title_ = kCaption;
};

}  // namespace qv
