#include "app/drive_hooks.h"

#include "link/can_port.h"

namespace qv {

void DriveCommandHooks::onDriveTick(const DriveContext& context) {
    if (const auto frame = command_.onTick(context))
        port_.sendFrame(frame->identifier(), frame->data());
}

}  // namespace qv
