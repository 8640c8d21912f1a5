#pragma once
// What the stream transfer engine reports to its owner, and the listener interface through
// which received frames and stream events leave the bridge client.
#include <cstdint>

#include "link/can_frame.h"

namespace qv {

// Four 16-bit words handed with each stream event; built from a received command frame they
// are that frame's four words.
struct TransferInfo {
    std::uint16_t word0 = 0;
    std::uint16_t word1 = 0;
    std::uint16_t word2 = 0;
    std::uint16_t word3 = 0;
};

enum StreamEventType : int {
    kStreamDone = 0,
    kStreamAborted = 1,
    kStreamRequest = 2,
    kStreamChunk = 3,
};

// Abort codes carried in word0 of an aborted event.
inline constexpr std::uint16_t kAbortTimeout = 0;
inline constexpr std::uint16_t kAbortUser = 255;

class PacketReceivedListener {
  public:
    virtual ~PacketReceivedListener() = default;
    // A received frame that the stream engine did not take.
    virtual void onPacketReceived(const CanPacket& packet) = 0;
    // A stream event (StreamEventType). For a chunk event the listener may write word1 (the new
    // length when it returns 2). Called with the client's queue lock held.
    virtual int onStreamEvent(int type, TransferInfo& info) = 0;
};

}  // namespace qv
