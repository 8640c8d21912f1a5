#pragma once
// The Controls window's logic: the PC acts as the vehicle's driver-controls node. Three sliders
// set a motor-current demand, a velocity demand and a bus-current limit. The window sends the
// bus-current command itself; the main window sends the drive command (DriveCommand,
// drive_command.h) from setpoints() every tick while the controls are live.
//
// A controller must obey one driver-controls source only, so every show starts disabled
// ("Please wait...") and nothing is sent until the main window's periodic check finds no other
// source on the bus; a check that finds one closes the window with a message. Every way out of
// the window goes through close(), which zeroes both setpoints.
//
// The widget shows view() and forwards the user's input; everything runs on the user-interface
// thread.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/user_interaction.h"
#include "link/can_frame.h"

namespace qv {

// The selected device the controls drive, as the main window holds it.
struct DriveTarget {
    std::int32_t base = -1;           // CAN base address; below 0: none selected
    std::uint32_t serial = 0;         // serial number
    std::uint32_t bridgeAddress = 0;  // IPv4 address of the bridge that carries it
    std::int32_t deviceType = 0;      // type code (0x4000 isolated charger, 0x4001 grid-tie...)
    friend bool operator==(const DriveTarget&, const DriveTarget&) = default;
};

// What a show needs. Taken when the window is shown and kept until it closes, so that what is
// sent always matches what the window shows.
struct ControlsShowRequest {
    DriveTarget device;
    float speedLimit = 0;                  // `speedLimit` of the public configuration, rpm
    std::uint32_t driverControlsBase = 0;  // `driverControlsBaseAddress` of the same
    std::uint64_t connection = 0;          // the CAN port's open count (DriveContext)
};

// The two setpoints of the drive command.
struct DriveSetpoints {
    float current = 0;   // motor current, fraction 0..1
    float velocity = 0;  // rpm
    friend bool operator==(const DriveSetpoints&, const DriveSetpoints&) = default;
};

enum class ControlsSlider { MotorCurrent, Velocity, BusCurrent };

// Buttons by control id.
enum class ControlsButton {
    ZeroMotorCurrent = 1024,
    ZeroVelocity = 1025,
    MotorCurrentUp = 1136,
    MotorCurrentDown = 1137,
    Close = 2,
};

// The keys the window examines before its normal handling.
enum class ControlsKey {
    Enter,
    Space,
    PageUp,
    PageDown,
    Up,
    Down,
    Right,
    Left,
    A,
    Z,
    Home,
    End,
    Escape,
    Other
};

struct SliderView {
    int minimum = 0;
    int maximum = 0;
    int page = 0;
    int position = 0;
};

// Everything the widget shows. Control ids in brackets.
struct ControlsView {
    bool visible = false;          // shown (and the window enabled)
    std::string title;             // "Please wait..." until the controls are live, then "Controls"
    bool controlsEnabled = false;  // the three sliders and the four buttons
    SliderView motorCurrent;       // [1108]
    SliderView velocity;           // [1132]
    SliderView busCurrent;         // [1166]
    std::string motorCurrentText;  // [1044] percent
    std::string velocityText;      // [1045] rpm (output voltage for chargers)
    std::string busCurrentText;    // [1046] percent
    std::string driverControlsBaseText;  // [1207]
    std::string velocityLabel;           // [1231]
    std::string busCurrentLabel;         // [1232]
};

// What the controller reports beside each setpoint, from the telemetry decoded last (the
// velocity, or for a charger its bus voltage; the larger RMS phase current; the bus current).
struct ControlsActuals {
    std::string velocity;
    std::string motorCurrent;
    std::string busCurrent;
    bool operator==(const ControlsActuals&) const = default;
};
struct TelemetryValues;
// `live`: the values come from the selected device and it is heard; otherwise "-" each.
ControlsActuals controlsActuals(const TelemetryValues& values, std::int32_t deviceType, bool live);
// The arrow keys' step with Shift held, in slider positions.
inline constexpr int kShiftStep = 10;

inline constexpr const char* kControlsTitle = "Controls";
inline constexpr const char* kControlsWaitTitle = "Please wait...";
inline constexpr const char* kOtherSourceMessage =
    "Another driver controls has been detected!\r\n\r\nThe Quelvane can only be controlled from "
    "one source.";
// The configuration's speed limit must lie in the range the configuration allows.
inline constexpr float kMaxSpeedLimit = 12000.0f;
inline constexpr std::uint32_t kMaxDriverControlsBase = 0x7C0;

class CControls {
  public:
    // Sends one frame at once (the main window passes the CAN port's sendFrame). Failures are
    // not reported: the next slider event or check repeats the values.
    using FrameSender = std::function<void(const CanFrame&)>;
    // Told every time the setpoints change, so that the main window can mirror them into its
    // telemetry values (for the telemetry log).
    using SetpointsObserver = std::function<void(const DriveSetpoints&)>;

    // `applicationTitle` is the caption of the window's message boxes.
    CControls(UserInteraction& ui, FrameSender send, std::string applicationTitle);

    void setSetpointsObserver(SetpointsObserver observer);

    // Tools > Controls after the public configuration is loaded: shows the window disabled
    // ("Please wait..."). Refuses, with a message and the window left hidden, when the
    // configuration or the device cannot be driven (a speed limit that is not a number in
    // 0..12000, a driver-controls base that breaks the CAN identifier rule, no device). A show
    // while shown starts over.
    bool show(const ControlsShowRequest& request);
    // Close button, Escape, the close box, hiding the window for any reason and every stop of
    // the drive command: both setpoints to zero, disabled, hidden. Harmless when hidden.
    void close();
    // The main window's check every 1.2 s while the window is shown: enables the controls when
    // no other source was seen (take-over notice, bus-current command), else closes the window
    // and then tells the user. While live, each check repeats the bus-current command.
    void periodicCheck(bool noOtherSource);
    // Another source was seen: nothing more is sent until the next check closes the window.
    // (DriveCommand calls it on the tick that learns of it.)
    void holdForCheck();

    // User input. Ignored unless the controls are live; positions are clamped to the ranges.
    void moveSlider(ControlsSlider slider, int position);
    void press(ControlsButton button);
    // True when the key was taken (the window's normal handling must not see it). With Shift
    // the arrow keys move ten times as far.
    bool keyDown(ControlsKey key, bool shift = false);

    bool visible() const { return visible_; }
    // Shown, checked, and no other source pending: the drive command may be sent.
    bool live() const { return visible_ && enabled_ && !holding_; }
    DriveSetpoints setpoints() const { return setpoints_; }
    const ControlsShowRequest& shown() const { return shown_; }
    std::uint32_t driveCommandId() const;
    ControlsView view() const;

  private:
    void setPosition(ControlsSlider slider, int position);
    void updateMotorCurrent();
    void updateVelocity();
    void sendBusCurrentCommand();
    void sendTakeOverNotice();
    void send(const std::optional<CanFrame>& frame);
    void notify();
    bool refuse(const std::string& text);

    UserInteraction& ui_;
    FrameSender send_;
    std::string applicationTitle_;
    SetpointsObserver observer_;

    ControlsShowRequest shown_;
    bool visible_ = false;
    bool enabled_ = false;
    bool holding_ = false;
    int motorCurrent_ = 0;  // 0..1000, tenths of a percent
    int velocity_ = 0;      // -1000..1000, thousandths of the speed limit
    int busCurrent_ = 1000;
    float miscValue_ = 0.0f;
    DriveSetpoints setpoints_;
};

}  // namespace qv
