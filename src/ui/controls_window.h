#pragma once
// The "Controls" window: three sliders (motor current, velocity, bus current) with their value
// texts, the Zero, U and D buttons and the driver-controls base. It shows CControls::view() and
// forwards the user's input; every way the window can leave the screen (Close, Escape, the
// close box, a hide by the program, minimising) goes through CControls::close(), which zeroes
// both setpoints, so a drive tool that cannot be seen never drives.
#include <QDialog>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "app/drive_hooks.h"
#include "drive/controls.h"
#include "ui/qt_windows.h"

class QLabel;
class QPushButton;
class QSlider;

namespace qv {
class CQVDrvCtrlsApp;
class UserInteraction;
}  // namespace qv

namespace qv::ui {

class ControlsWindow : public QDialog {
    Q_OBJECT

  public:
    ControlsWindow(CControls& controls, QWidget* parent = nullptr);

    // Shows what the controls say now; hides (and disables) the window once they closed.
    void sync();

    QSlider* slider(ControlsSlider which) const;
    // Where the controller's actual values come from (shown beside the setpoints on each sync).
    void setActualsSource(std::function<ControlsActuals()> source) {
        actualsSource_ = std::move(source);
    }

  protected:
    void reject() override;  // Escape
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QSlider* makeSlider(ControlsSlider which, int id);
    QPushButton* makeButton(const char* text, ControlsButton button);
    QLabel* makeValueText(int id, const QString& widest);
    // True when the key map took the key.
    bool mapKey(const QKeyEvent& event);
    void closeControls();

    CControls& controls_;
    std::array<QSlider*, 3> sliders_{};
    std::array<QLabel*, 3> values_{};
    std::array<QLabel*, 3> actuals_{};  // velocity, motor current, bus current
    std::function<ControlsActuals()> actualsSource_;
    std::array<QPushButton*, 4> driveButtons_{};  // Zero, Zero, U, D
    QLabel* velocityLabel_ = nullptr;
    QLabel* busCurrentLabel_ = nullptr;
    QLabel* driverControlsBase_ = nullptr;
    bool syncing_ = false;
};

// The drive controls the main window's tick drives, with the Controls window told of every
// change they make on their own (the periodic check, a stop, a tick that closes them).
class ControlsDriveHooks final : public DriveHooks {
  public:
    // Frames go out at once through `port` (the application's CAN port); the controls' messages
    // go to `ui` with `applicationTitle` as caption.
    ControlsDriveHooks(UserInteraction& ui, CBcan& port, std::string applicationTitle);

    CControls& controls() { return controls_; }
    // Runs after every change (the window's sync).
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }
    // Told the setpoints whenever they change (the main window's telemetry values).
    void setSetpointsSink(CControls::SetpointsObserver sink) { sink_ = std::move(sink); }

    void onDriveTick(const DriveContext& context) override;
    void periodicCheck(bool noOtherSource) override;
    void stop() override;
    bool showControls(const ControlsShowRequest& request) override;

  private:
    void changed() const;

    CControls controls_;
    DriveCommandHooks hooks_;
    std::function<void()> onChange_;
    CControls::SetpointsObserver sink_;
};

// The Controls window as the main window's logic sees it. It shows only controls that were
// shown first (ControlsDriveHooks::showControls), and a hide closes them.
class ControlsToolWindow final : public QtToolWindow {
  public:
    ControlsToolWindow(ControlsDriveHooks& hooks, QWidget* owner);
    ~ControlsToolWindow() override;

    void show() override;
    void hide() override;
    bool isVisible() const override;

    ControlsWindow* window() const;

  private:
    ControlsDriveHooks& hooks_;
};

// Builds the drive controls into `app` before app.start(): the Controls window for the
// factory, and the drive hooks of the tick, which send through the app's own CAN port and ask
// the user through `ui`. The setpoints go into the main window's telemetry values.
void installControlsWindow(QtWindowFactory& factory, CQVDrvCtrlsApp& app, UserInteraction& ui);

}  // namespace qv::ui
