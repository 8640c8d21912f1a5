#include "tools/port_tool_link.h"

namespace qv {

bool PortToolLink::connectTcp() {
    return port_.connectTcp(base_ + kToolCommandOffset, kToolIdentifierCount) == 1;
}

void PortToolLink::closeTcp() {
    port_.closeTcp();
}

bool PortToolLink::portOpen() const {
    return port_.isOpen();
}

bool PortToolLink::queueAndFlush(std::uint32_t identifier, const CanFrame::Data& data) {
    return port_.queueFrame(identifier, data) && port_.flush();
}

bool PortToolLink::sendNow(std::uint32_t identifier, const CanFrame::Data& data) {
    return port_.sendFrame(identifier, data) == 1;
}

void pumpFrames(CBcan& port, FrameConsumer& consumer, double nowMs) {
    // Bounded, so that a flood of frames cannot hold the caller; what is left waits for the
    // next call, and so do the time-outs, which are judged only once everything received has
    // been offered.
    constexpr int kMaxWaitsPerCall = 4096;
    for (int n = 0; port.queuedPackets() > 0; ++n) {
        const auto wanted = consumer.wantedIdentifier();
        if (!wanted) break;
        if (n == kMaxWaitsPerCall) return;
        CanFrame::Data data{};
        // With frames queued this returns at once with the wanted one, or after handing all
        // the others to the decoder.
        if (port.waitForFrame(*wanted, &data, 1) == 1) consumer.offerFrame(*wanted, data, nowMs);
    }
    consumer.poll(nowMs);
}

}  // namespace qv
