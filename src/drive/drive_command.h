#pragma once
// The main window's drive command: every 200 ms tick, while the Controls window is live, one
// frame at `driverControlsBaseAddress` + 1 with the velocity setpoint (rpm, bytes 0-3) and the
// current setpoint (0..1, bytes 4-7) as they stand on the sliders at that moment.
//
// Use (user-interface thread):
//   tick step 3:  if (auto f = drive.onTick(context)) canSendFrame(f->identifier(), f->data());
//   on every stop condition (the Controls window hides, the selected device is lost or another
//   is selected, File > Re-Connect, the CAN port closes, shutdown): drive.stop();
//
// Send the frame at once with canSendFrame (one datagram, never queued): a frame handed to
// canQueueFrame could leave with a later flush, after a stop.
//
// The tick checks the stop conditions itself as well, against what the window was shown for,
// and closes the window when one holds; so a stop the main window forgets to report still
// stops the drive before the next frame. Nothing computed before a stop is sent after it: every
// frame is built on its tick from the sliders, which every stop zeroes, and the controls are
// live again only after a new show and a new check.
#include <cstdint>
#include <optional>

#include "drive/controls.h"
#include "link/can_frame.h"

namespace qv {

// The main window's state on this tick.
struct DriveContext {
    bool portOpen = false;  // the CAN port is open
    // Changes every time the CAN port is opened (count the successful opens); the window was
    // shown for the value it had then, so a re-connect stops the drive.
    std::uint64_t connection = 0;
    std::optional<DriveTarget> selectedDevice;  // none: no device selected
    bool publicConfigValid = false;             // the public structure's valid flag
    bool otherSourceSeen = false;               // `otherDriverControlsSeen`
};

class DriveCommand {
  public:
    explicit DriveCommand(CControls& controls) : controls_(controls) {}

    // The frame to send on this tick, or nothing. Closes the Controls window when a stop
    // condition holds; holds the controls (nothing more is sent) once another driver-controls
    // source was seen, until the next check closes the window with its message.
    std::optional<CanFrame> onTick(const DriveContext& context);
    // Stops the drive at once: the Controls window closes with both setpoints zero.
    void stop() { controls_.close(); }

  private:
    CControls& controls_;
};

}  // namespace qv
