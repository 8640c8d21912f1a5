#pragma once
// The Configuration window (CConfigTabs' widgets): the menu "File" ("Load from PC", "Save to
// PC", "Exit") and "Transfer" ("Load from QV", "Save to QV"), the tabs "General",
// "Calibration" and "Motor", and "Close". It shows the pages' state and forwards the user's
// input; before a save and before closing the field being edited is checked. Escape and the
// close box close it as "Close" does; Enter does nothing.
#include <QDialog>
#include <map>
#include <memory>

#include "app/config_tabs.h"
#include "ui/qt_windows.h"

class QAction;
class QMenu;
class QMenuBar;
class QPushButton;
class QTabWidget;
class QTimer;

namespace qv::ui {

class ConfigCalibrationPage;
class ConfigGeneralPage;
class ConfigMotorTabsPage;
class ConfigPageWidget;

class ConfigWindow : public QDialog {
    Q_OBJECT

  public:
    ConfigWindow(CConfigDataBank& store, UserInteraction& ui, std::unique_ptr<ConfigTabsHost> host,
                 QWidget* parent = nullptr);
    ~ConfigWindow() override;

    // The pages from the store, shown anew.
    void refresh();
    // Shows page 0 General, 1 Calibration or 2 Motor.
    void selectPage(int page);
    // A menu command or "Close", as the user gives it.
    void runCommand(int commandId);

    CConfigTabs& logic() { return *logic_; }
    QAction* action(int commandId) const;
    QTabWidget* tabs() const { return tabs_; }
    ConfigGeneralPage* generalPage() const { return general_; }
    ConfigCalibrationPage* calibrationPage() const { return calibration_; }
    ConfigMotorTabsPage* motorPage() const { return motor_; }

  public slots:
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void buildMenu(QMenuBar* bar);
    void addRecentFiles(QMenu* file);
    void showRecentFiles();
    // The title names the configuration's origin and marks unsaved changes.
    void updateTitle();
    void showPages();
    void apply(const ConfigCommandResult& result);
    ConfigPageWidget* page(int index) const;

    std::unique_ptr<ConfigTabsHost> host_;
    std::unique_ptr<CConfigTabs> logic_;
    QTabWidget* tabs_ = nullptr;
    ConfigGeneralPage* general_ = nullptr;
    ConfigCalibrationPage* calibration_ = nullptr;
    ConfigMotorTabsPage* motor_ = nullptr;
    QPushButton* close_ = nullptr;
    std::map<int, QAction*> actions_;
    QAction* recentSeparator_ = nullptr;
    QTimer* titleTimer_ = nullptr;
};

// The window as the main window's tool: refresh and page selection reach it.
class ConfigToolWindow : public QtToolWindow {
  public:
    explicit ConfigToolWindow(ConfigWindow* window) : QtToolWindow(window, true) {}
    void refresh() override {
        if (auto* w = qobject_cast<ConfigWindow*>(widget())) w->refresh();
    }
    void selectPage(int page) override {
        if (auto* w = qobject_cast<ConfigWindow*>(widget())) w->selectPage(page);
    }
    bool hasUnsavedEdits() const override {
        auto* w = qobject_cast<ConfigWindow*>(widget());
        return w && w->isVisible() && w->logic().pendingEdits();
    }
};

}  // namespace qv::ui
