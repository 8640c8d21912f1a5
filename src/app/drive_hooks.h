#pragma once
// The tick's drive hooks on the drive controls' own classes: DriveCommand builds the frame on
// each tick, which goes out at once with the CAN port's sendFrame (never queued, so nothing
// computed before a stop leaves after it); the periodic check and the stops go to CControls.
#include "app/dialog_interfaces.h"
#include "drive/controls.h"
#include "drive/drive_command.h"

namespace qv {

class CBcan;

class DriveCommandHooks final : public DriveHooks {
  public:
    DriveCommandHooks(CControls& controls, CBcan& port)
        : controls_(controls), command_(controls), port_(port) {}

    void onDriveTick(const DriveContext& context) override;
    void periodicCheck(bool noOtherSource) override { controls_.periodicCheck(noOtherSource); }
    void stop() override { command_.stop(); }
    bool showControls(const ControlsShowRequest& request) override {
        return controls_.show(request);
    }

  private:
    CControls& controls_;
    DriveCommand command_;
    CBcan& port_;
};

}  // namespace qv
