#include "sim/device_events.h"

namespace qv::sim {

void DeviceEvents::apply(DeviceEvent::Action action, Controller& controller) {
    if (action == DeviceEvent::Action::kWithdraw)
        controller.withdraw();
    else
        controller.setSilent(true);
}

void DeviceEvents::tick(double nowMs) {
    if (startMs_ < 0) startMs_ = nowMs;
    for (auto it = events_.begin(); it != events_.end();) {
        if (nowMs - startMs_ < it->atSeconds * 1000.0) {
            ++it;
            continue;
        }
        for (Controller* c : find_(it->base)) apply(it->action, *c);
        it = events_.erase(it);
    }
}

}  // namespace qv::sim
