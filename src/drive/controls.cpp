#include "drive/controls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "drive/drive_frames.h"
#include "monitor/number_text.h"
#include "monitor/telemetry_values.h"

namespace qv {

namespace {

struct Range {
    int minimum;
    int maximum;
    int page;
};

constexpr Range kMotorCurrentRange{0, 1000, 100};
constexpr Range kVelocityRange{-1000, 1000, 100};
constexpr Range kBusCurrentRange{0, 1000, 100};
constexpr std::int32_t kMaxDeviceBase = 0x7E0;

Range rangeOf(ControlsSlider slider) {
    switch (slider) {
        case ControlsSlider::MotorCurrent:
            return kMotorCurrentRange;
        case ControlsSlider::Velocity:
            return kVelocityRange;
        case ControlsSlider::BusCurrent:
            break;
    }
    return kBusCurrentRange;
}

SliderView sliderView(Range range, int position) {
    return {range.minimum, range.maximum, range.page, position};
}

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string hexText(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

// Chargers take the velocity slider as their output voltage and have no bus-current limit.
bool isCharger(std::int32_t deviceType) {
    return deviceType == 0x4000 || deviceType == 0x4001;
}

}  // namespace

ControlsActuals controlsActuals(const TelemetryValues& v, std::int32_t deviceType, bool live) {
    if (!live) return {"-", "-", "-"};
    ControlsActuals a;
    a.velocity = isCharger(deviceType) ? fixedText(v.busVoltage, 1) + " V"
                                       : fixedText(v.motorVelocity, 0) + " rpm";
    const float phase = std::max(std::fabs(v.phaseBCurrent), std::fabs(v.phaseCCurrent));
    a.motorCurrent = fixedText(phase, 1) + " A rms";
    a.busCurrent = fixedText(v.busCurrent, 1) + " A";
    return a;
}

CControls::CControls(UserInteraction& ui, FrameSender send, std::string applicationTitle)
    : ui_(ui), send_(std::move(send)), applicationTitle_(std::move(applicationTitle)) {}

void CControls::setSetpointsObserver(SetpointsObserver observer) {
    observer_ = std::move(observer);
}

bool CControls::refuse(const std::string& text) {
    ui_.messageBox(
        {text, applicationTitle_, MessageIcon::Warning, MessageButtons::Ok, MessageAnswer::Ok});
    return false;
}

bool CControls::show(const ControlsShowRequest& request) {
    if (visible_) close();
    if (request.device.base < 0 || request.device.base > kMaxDeviceBase)
        return refuse("No device is selected, so there is nothing to drive.");
    if (!std::isfinite(request.speedLimit) || request.speedLimit < 0.0f ||
        request.speedLimit > kMaxSpeedLimit)
        return refuse("The speed limit in the controller's configuration (" +
                      format("%g", request.speedLimit) +
                      ") is not a number between 0 and 12000, so the motor cannot be driven "
                      "from here.");
    if (request.driverControlsBase % 0x20 != 0 ||
        request.driverControlsBase > kMaxDriverControlsBase)
        return refuse("The driver controls CAN base ID in the controller's configuration (" +
                      hexText(request.driverControlsBase) +
                      ") is not a multiple of 0x20 up to 0x7C0, so the motor cannot be driven "
                      "from here.");
    shown_ = request;
    visible_ = true;
    enabled_ = false;
    holding_ = false;
    // Both setpoint sliders stand at zero since the last close; the values follow the new speed
    // limit, and whatever the main window captured while the window was hidden is replaced.
    updateMotorCurrent();
    updateVelocity();
    notify();
    return true;
}

void CControls::close() {
    motorCurrent_ = 0;
    velocity_ = 0;
    updateMotorCurrent();
    updateVelocity();
    enabled_ = false;
    holding_ = false;
    visible_ = false;
    notify();
}

void CControls::periodicCheck(bool noOtherSource) {
    if (!visible_) return;
    if (!noOtherSource || holding_) {
        // Closed first, so that nothing is driven while the message waits for the user.
        close();
        ui_.messageBox({kOtherSourceMessage, applicationTitle_, MessageIcon::Warning,
                        MessageButtons::Ok, MessageAnswer::Ok});
        return;
    }
    if (enabled_) {
        // Repeated, as the drive command is, so that one lost frame does not leave the
        // controller with another limit than the one on screen.
        sendBusCurrentCommand();
        return;
    }
    enabled_ = true;
    sendTakeOverNotice();
    sendBusCurrentCommand();
}

void CControls::holdForCheck() {
    if (visible_) holding_ = true;
}

void CControls::moveSlider(ControlsSlider slider, int position) {
    if (live()) setPosition(slider, position);
}

void CControls::press(ControlsButton button) {
    if (button == ControlsButton::Close) {
        close();
        return;
    }
    if (!live()) return;
    switch (button) {
        case ControlsButton::ZeroMotorCurrent:
            setPosition(ControlsSlider::MotorCurrent, 0);
            break;
        case ControlsButton::ZeroVelocity:
            setPosition(ControlsSlider::Velocity, 0);
            break;
        case ControlsButton::MotorCurrentUp:
            setPosition(ControlsSlider::MotorCurrent, motorCurrent_ + 1);
            break;
        case ControlsButton::MotorCurrentDown:
            setPosition(ControlsSlider::MotorCurrent, motorCurrent_ - 1);
            break;
        case ControlsButton::Close:
            break;
    }
}

bool CControls::keyDown(ControlsKey key, bool shift) {
    if (!visible_) return false;
    const int step = shift ? kShiftStep : 1;
    struct Move {
        ControlsSlider slider;
        int target;
    };
    std::optional<Move> move;
    switch (key) {
        case ControlsKey::Escape:
            close();
            return true;
        case ControlsKey::Home:
        case ControlsKey::End:
            return true;
        case ControlsKey::Other:
            return false;
        case ControlsKey::Enter:
            move = Move{ControlsSlider::Velocity, 0};
            break;
        case ControlsKey::Space:
            move = Move{ControlsSlider::MotorCurrent, 0};
            break;
        case ControlsKey::PageUp:
            move = Move{ControlsSlider::MotorCurrent, motorCurrent_ + kMotorCurrentRange.page};
            break;
        case ControlsKey::PageDown:
            move = Move{ControlsSlider::MotorCurrent, motorCurrent_ - kMotorCurrentRange.page};
            break;
        case ControlsKey::Up:
            move = Move{ControlsSlider::MotorCurrent, motorCurrent_ + step};
            break;
        case ControlsKey::Down:
            move = Move{ControlsSlider::MotorCurrent, motorCurrent_ - step};
            break;
        case ControlsKey::Right:
            move = Move{ControlsSlider::Velocity, velocity_ + step};
            break;
        case ControlsKey::Left:
            move = Move{ControlsSlider::Velocity, velocity_ - step};
            break;
        case ControlsKey::A:
            move = Move{ControlsSlider::BusCurrent, busCurrent_ + 1};
            break;
        case ControlsKey::Z:
            move = Move{ControlsSlider::BusCurrent, busCurrent_ - 1};
            break;
    }
    // Taken even while the controls wait for the check, so that no slider moves on its own.
    if (move && live()) setPosition(move->slider, move->target);
    return true;
}

void CControls::setPosition(ControlsSlider slider, int position) {
    const Range range = rangeOf(slider);
    position = std::clamp(position, range.minimum, range.maximum);
    switch (slider) {
        case ControlsSlider::MotorCurrent:
            if (position == motorCurrent_) return;
            motorCurrent_ = position;
            updateMotorCurrent();
            notify();
            break;
        case ControlsSlider::Velocity:
            if (position == velocity_) return;
            velocity_ = position;
            updateVelocity();
            notify();
            break;
        case ControlsSlider::BusCurrent:
            if (position == busCurrent_) return;
            busCurrent_ = position;
            if (live()) sendBusCurrentCommand();
            break;
    }
}

void CControls::updateMotorCurrent() {
    setpoints_.current = static_cast<float>(motorCurrent_) / 1000.0f;
}

void CControls::updateVelocity() {
    // + 0.0f turns a negative zero (a zero speed limit) into zero.
    setpoints_.velocity = static_cast<float>(velocity_) / 1000.0f * shown_.speedLimit + 0.0f;
}

std::uint32_t CControls::driveCommandId() const {
    return shown_.driverControlsBase + kDriveCommandOffset;
}

void CControls::sendBusCurrentCommand() {
    send(floatPairFrame(shown_.driverControlsBase + kBusCurrentCommandOffset, miscValue_,
                        static_cast<float>(busCurrent_) / 1000.0f));
}

void CControls::sendTakeOverNotice() {
    const auto id = static_cast<std::uint32_t>(shown_.device.base) + kTakeOverNoticeOffset;
    send(CanFrame(id, false, false, 8, CanFrame::Data{}));
}

void CControls::send(const std::optional<CanFrame>& frame) {
    if (send_ && frame) send_(*frame);
}

void CControls::notify() {
    if (observer_) observer_(setpoints_);
}

ControlsView CControls::view() const {
    ControlsView v;
    v.visible = visible_;
    v.title = enabled_ && visible_ ? kControlsTitle : kControlsWaitTitle;
    v.controlsEnabled = live();
    v.motorCurrent = sliderView(kMotorCurrentRange, motorCurrent_);
    v.velocity = sliderView(kVelocityRange, velocity_);
    v.busCurrent = sliderView(kBusCurrentRange, busCurrent_);
    v.motorCurrentText = format("%0.2f", motorCurrent_ / 10.0);
    v.velocityText = format("%0.1f", setpoints_.velocity);
    v.busCurrentText = format("%0.2f", busCurrent_ / 10.0);
    v.driverControlsBaseText = hexText(shown_.driverControlsBase);
    const bool charger = isCharger(shown_.device.deviceType);
    v.velocityLabel = charger ? "Output Voltage (V)" : "Velocity (RPM)";
    v.busCurrentLabel = charger ? "-NOT USED-" : "Bus Current (%)";
    return v;
}

}  // namespace qv
