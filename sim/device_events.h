#pragma once
// Carries out the device events of the options (--withdraw, --silence) at their time after the
// world started.
#include <functional>
#include <vector>

#include "sim/bus.h"
#include "sim/controller.h"
#include "sim/options.h"

namespace qv::sim {

class DeviceEvents : public Node {
  public:
    // `find` gives every controller at a base.
    DeviceEvents(std::vector<DeviceEvent> events,
                 std::function<std::vector<Controller*>(std::uint32_t)> find)
        : events_(std::move(events)), find_(std::move(find)) {}
    void onFrame(const CanFrame&, double) override {}
    void tick(double nowMs) override;

    // Withdraw or silence now.
    static void apply(DeviceEvent::Action action, Controller& controller);

  private:
    std::vector<DeviceEvent> events_;
    std::function<std::vector<Controller*>(std::uint32_t)> find_;
    double startMs_ = -1;
};

}  // namespace qv::sim
