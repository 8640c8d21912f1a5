#pragma once
// The application object: owns the CAN port, the configuration store and the services, creates
// the main window and the seven tool windows at start-up (hidden and disabled), runs the main
// window until it closes, then tears everything down in order. The window system provides the
// windows through WindowFactory.
#include <array>
#include <memory>
#include <string>

#include "app/dialog_interfaces.h"
#include "app/main_dialog.h"
#include "app/tool_windows.h"
#include "app/transfer_job.h"
#include "config/config_data_bank.h"
#include "link/can_port.h"
#include "link/can_udp_client.h"

namespace qv {

// The main window as the window system builds it.
class MainWindowSide : public AppWindow,
                       public MainView,
                       public TickTimer,
                       public MainWindowPoster {
  public:
    // The screen's available area, for the stored positions.
    virtual WorkArea workArea() const = 0;
    // The logic the window forwards its input to (nullptr: none any more).
    virtual void attach(CQVDrvCtrlsDlg* logic) = 0;
    // Shows the window and returns when the logic ended the dialog.
    virtual void runModal() = 0;
};

class WindowFactory {
  public:
    virtual ~WindowFactory() = default;
    virtual std::unique_ptr<MainWindowSide> createMainWindow() = 0;
    // Called after createMainWindow, once per tool in construction order.
    virtual std::unique_ptr<ToolWindow> createTool(Tool tool, MainWindowSide& owner) = 0;
};

struct AppSettings {
    BridgeSettings bridge;     // the settings store's values with the command line's overrides
    std::string settingsPath;  // window positions go into the same file
    std::string logDirectory;  // "" the current directory
    // Builds the bridge client; empty: a CanUdpClient with `bridge` (tests put fakes here).
    CBcan::ClientFactory clientFactory;
};

class CQVDrvCtrlsApp {
  public:
    CQVDrvCtrlsApp(AppSettings settings, UserInteraction& ui, WindowFactory& windows);
    ~CQVDrvCtrlsApp();
    CQVDrvCtrlsApp(const CQVDrvCtrlsApp&) = delete;
    CQVDrvCtrlsApp& operator=(const CQVDrvCtrlsApp&) = delete;

    // Where later parts plug in; call before start(). Defaults: no transfer, no drive hooks.
    void setTransferService(std::unique_ptr<ConfigTransferService> service);
    void setDriveHooks(std::unique_ptr<DriveHooks> hooks);

    // Creates the windows (main, then Configuration, DuvodaRezir, Controls, PM extraction,
    // IM extraction, Telemetry, Transfer progress), disables and hides the tools, and runs the
    // main window's initialisation.
    void start();
    // start(), the main window until it closes, finish(). Returns the exit code (0).
    int run();
    // Destroys the tool windows (DuvodaRezir, Configuration, Controls, PM extraction, IM
    // extraction, Telemetry, Transfer progress), the logic and the main window.
    void finish();

    CBcan& port() { return port_; }
    CConfigDataBank& store() { return store_; }
    // The settings file (window positions, remembered folders and files).
    const std::string& settingsPath() const { return settings_.settingsPath; }
    CQVDrvCtrlsDlg* dialog() { return dialog_.get(); }
    MainWindowSide* mainWindow() { return main_.get(); }
    ToolWindow* tool(Tool t) { return tools_[static_cast<std::size_t>(t)].get(); }

  private:
    AppSettings settings_;
    UserInteraction& ui_;
    WindowFactory& windows_;
    CBcan port_;
    CConfigDataBank store_;
    SystemClock clock_;
    std::unique_ptr<ConfigTransferService> transfer_;
    std::unique_ptr<DriveHooks> drive_;
    std::unique_ptr<MainWindowSide> main_;
    std::array<std::unique_ptr<ToolWindow>, kToolCount> tools_;
    std::unique_ptr<CQVDrvCtrlsDlg> dialog_;
};

}  // namespace qv
