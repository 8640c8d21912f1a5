// The application object: windows created in order, hidden and disabled, and torn down.
#include <gtest/gtest.h>

#include "app/qv_drv_ctrls_app.h"
#include "app_rig.h"
#include "support/loopback.h"
#include "support/ports.h"

namespace qv {
namespace {

struct Events {
    std::vector<std::string> log;
};

class LoggedTool : public test::FakeWindow {
  public:
    LoggedTool(Events& e, std::string name) : FakeWindow(name), events_(e), name_(std::move(name)) {
        visible = enabled = true;  // as a window system might create it
        events_.log.push_back("create " + name_);
    }
    ~LoggedTool() override { events_.log.push_back("destroy " + name_); }

  private:
    Events& events_;
    std::string name_;
};

class FakeMainSide : public MainWindowSide {
  public:
    explicit FakeMainSide(Events& e) : events_(e) { events_.log.push_back("create main"); }
    ~FakeMainSide() override { events_.log.push_back("destroy main"); }
    void show() override {}
    void hide() override {}
    void setEnabled(bool) override {}
    bool isVisible() const override { return true; }
    bool isEnabled() const override { return true; }
    void raise() override {}
    ScreenPoint position() const override { return at; }
    void moveTo(ScreenPoint p) override { at = p; }
    void showDeviceList(const std::vector<std::string>&, std::optional<std::size_t>) override {}
    void showPanel(const PanelChanges&, const TelemetryPanel&) override {}
    void showTelemetryCells(const std::vector<int>&, const TelemWindowModel&) override {}
    void showMenus(const MenuModel&) override { ++menus; }
    void endDialog() override { ended = true; }
    void start(int ms) override { timerMs = ms; }
    void stop() override { timerMs = 0; }
    bool isActive() const override { return timerMs > 0; }
    void postTransferDone(std::int32_t, bool) override {}
    void postCanTransfer(int) override {}
    WorkArea workArea() const override { return {0, 0, 800, 600}; }
    void attach(CQVDrvCtrlsDlg* d) override { logic = d; }
    void runModal() override { logic->onCancel(); }

    ScreenPoint at{};
    int timerMs = 0;
    int menus = 0;
    bool ended = false;
    CQVDrvCtrlsDlg* logic = nullptr;

  private:
    Events& events_;
};

class FakeFactory : public WindowFactory {
  public:
    explicit FakeFactory(Events& e) : events_(e) {}
    std::unique_ptr<MainWindowSide> createMainWindow() override {
        auto m = std::make_unique<FakeMainSide>(events_);
        main = m.get();
        return m;
    }
    std::unique_ptr<ToolWindow> createTool(Tool tool, MainWindowSide&) override {
        return std::make_unique<LoggedTool>(events_, toolCaption(tool));
    }
    FakeMainSide* main = nullptr;

  private:
    Events& events_;
};

TEST(AppStartup, WindowsInOrderHiddenDisabledThenTornDown) {
    test::TempDir dir;
    Events events;
    FakeFactory factory(events);
    test::ScriptedUi ui;
    AppSettings settings;
    settings.bridge = test::loopbackSettings(test::freePort());
    settings.settingsPath = dir.file("settings.ini");
    settings.logDirectory = dir.path();
    {
        CQVDrvCtrlsApp app(settings, ui, factory);
        app.start();
        EXPECT_EQ(events.log, (std::vector<std::string>{
                                  "create main", "create Configuration", "create DuvodaRezir",
                                  "create Controls", "create Parameter Extraction",
                                  "create Induction Motor Extraction", "create Telemetry",
                                  "create Processing Configuration",
                                  "create Commissioning Assistant"}));
        for (std::size_t i = 0; i < kToolCount; ++i) {
            EXPECT_FALSE(app.tool(static_cast<Tool>(i))->isVisible());
            EXPECT_FALSE(app.tool(static_cast<Tool>(i))->isEnabled());
        }
        EXPECT_EQ(factory.main->logic, app.dialog());
        EXPECT_EQ(factory.main->at, (ScreenPoint{10, 10}));
        EXPECT_TRUE(app.port().isOpen());
        EXPECT_EQ(factory.main->timerMs, 200);
        EXPECT_GE(factory.main->menus, 1);
        events.log.clear();
        EXPECT_EQ(app.run(), 0);  // the fake's modal run ends the dialog at once
        EXPECT_FALSE(app.port().isOpen());
    }
    EXPECT_EQ(events.log,
              (std::vector<std::string>{"destroy Commissioning Assistant", "destroy DuvodaRezir",
                                        "destroy Configuration",
                                        "destroy Controls", "destroy Parameter Extraction",
                                        "destroy Induction Motor Extraction", "destroy Telemetry",
                                        "destroy Processing Configuration", "destroy main"}));
}

}  // namespace
}  // namespace qv
