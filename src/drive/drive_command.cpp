#include "drive/drive_command.h"

#include "drive/drive_frames.h"

namespace qv {

std::optional<CanFrame> DriveCommand::onTick(const DriveContext& context) {
    if (!controls_.visible()) return std::nullopt;
    const ControlsShowRequest& shown = controls_.shown();
    const bool sameSession = context.portOpen && context.connection == shown.connection &&
                             context.selectedDevice == shown.device && context.publicConfigValid;
    if (!sameSession) {
        controls_.close();
        return std::nullopt;
    }
    if (context.otherSourceSeen) {
        controls_.holdForCheck();
        return std::nullopt;
    }
    if (!controls_.live()) return std::nullopt;
    const DriveSetpoints s = controls_.setpoints();
    auto frame = floatPairFrame(controls_.driveCommandId(), s.velocity, s.current);
    // A setpoint that is not a number cannot be what the sliders show: stop rather than guess.
    if (!frame) controls_.close();
    return frame;
}

}  // namespace qv
