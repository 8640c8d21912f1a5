#pragma once
// The tools on the program's CAN port: the link for the selected device, and the pump that a
// window's timer runs while an acquisition waits.
#include <cstdint>

#include "link/can_port.h"
#include "tools/commissioning_tool.h"
#include "tools/tool_exchange.h"

namespace qv {

class PortToolLink : public ToolLink {
  public:
    PortToolLink(CBcan& port, std::uint32_t base) : port_(port), base_(base) {}
    void setBase(std::uint32_t base) { base_ = base; }

    bool connectTcp() override;
    void closeTcp() override;
    bool portOpen() const override;
    bool queueAndFlush(std::uint32_t identifier, const CanFrame::Data& data) override;
    bool sendNow(std::uint32_t identifier, const CanFrame::Data& data) override;

  private:
    CBcan& port_;
    std::uint32_t base_;
};

// Takes every frame the port has received so far: the frame the consumer waits for goes to it,
// every other one to the port's decoder hook (the telemetry decoder), in the order received.
// Then the consumer judges its time-outs (not when a flood of frames left some unread). Never
// blocks for more than about a millisecond.
// Call it on the thread that owns the decoder (the user-interface thread).
void pumpFrames(CBcan& port, FrameConsumer& consumer, double nowMs);

}  // namespace qv
