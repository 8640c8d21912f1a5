#pragma once
// The block transfer protocol that moves a byte string of up to 65535 bytes to or from a
// controller over a control identifier (command frames) and a data identifier (data frames).
// The engine does no I/O and reads no clock of its own: frames leave through the functions it is
// given and time comes from the clock it is given. It is not thread-safe; the owner serialises
// every call (the bridge client holds its queue lock around each one).
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "link/can_frame.h"
#include "link/stream_types.h"

namespace qv {

inline constexpr std::uint32_t kNoStreamId = 0xFFFFFFFFu;
inline constexpr std::uint16_t kDefaultBlockSize = 140;
inline constexpr std::uint16_t kMaxBlockSize = 889;
inline constexpr double kDefaultStreamTimeoutMs = 250.0;
inline constexpr std::uint32_t kDefaultStreamRetries = 5;
// A peer may raise the agreed time-out and retries above our own, but not beyond these: a peer
// on the network is not trusted to keep a transfer waiting for hours.
inline constexpr double kMaxPeerTimeoutMs = 2000.0;
inline constexpr std::uint32_t kMaxPeerRetries = 20;

namespace stream_cmd {
inline constexpr std::uint16_t kPropose = 1;
inline constexpr std::uint16_t kClose = 2;
inline constexpr std::uint16_t kAccept = 3;
inline constexpr std::uint16_t kBlockAck = 4;
inline constexpr std::uint16_t kResend = 5;
inline constexpr std::uint16_t kBlockIncomplete = 6;
inline constexpr std::uint16_t kRequest = 7;
inline constexpr std::uint16_t kSetLength = 8;
}  // namespace stream_cmd

class StreamEngine {
  public:
    struct Io {
        // Queue one frame for sending (false: it could not be queued).
        std::function<bool(const CanFrame&)> queueFrame;
        // Send everything queued (false: the send failed).
        std::function<bool()> flush;
        // Monotonic time in milliseconds.
        std::function<double()> nowMs;
    };

    explicit StreamEngine(Io io);
    ~StreamEngine();
    StreamEngine(const StreamEngine&) = delete;
    StreamEngine& operator=(const StreamEngine&) = delete;

    // Block size, time-out and retries given as 0 take the defaults (140, 250 ms, 5). Refused
    // while a transfer is negotiated, active or awaiting a reply, for identifiers out of range
    // or equal, for a block size above 889, for a null listener, and for a time-out or retry
    // count that does not fit the 16-bit wire fields (or a negative or non-finite time-out).
    bool configureStream(std::uint32_t controlId, std::uint32_t dataId, std::uint16_t blockSize,
                         double timeoutMs, std::uint32_t retries, PacketReceivedListener* listener);
    // Forgets the configuration and any transfer without sending anything (the client's close).
    // A transfer still running (or closing) is first reported as aborted with code 0, so that
    // whoever waits for its end is released; the listener cannot start a new one from there.
    void clear();

    // Starts a transfer over `length` bytes of `buffer` (not owned; it must stay valid until
    // the transfer's done or aborted event). Refused when the buffer is empty or shorter than
    // `length`, index or length is 0, the stream is not configured, a transfer is active, or
    // the previous one still waits for its close to be acknowledged (busy()). When `initiate`,
    // sends Request and Propose (false, and nothing started, when a send fails). May be called
    // from inside the request event (2) to accept the peer's transfer.
    bool startTransfer(std::span<std::uint8_t> buffer, std::uint16_t index, std::uint16_t length,
                       bool thisEndSends, bool initiate, bool variableLength);
    // A local user abort (code 255); no effect before the parameters are agreed.
    void abortTransfer();

    // Events reach the listener synchronously from inside the calls below, abortTransfer(),
    // abortAfterTimeout() and clear(). A listener may call any method of the engine from inside
    // an event; a handler notices when the listener started or ended a transfer meanwhile and
    // then does nothing more for the old one. An end event (0 or 1) is raised last, once the
    // engine is idle, so startTransfer() works from inside it.

    // A received frame on the control identifier / on the data identifier. Only standard data
    // frames of length 8 on the configured identifier are taken; anything else is ignored.
    void handleCommand(const CanFrame& frame);
    void handleData(const CanFrame& frame);
    // Time-outs, repeats and completed blocks. False means the retries ran out or a frame could
    // not be sent; the owner then calls abortAfterTimeout() (abort with code 0).
    bool pollTransfer();
    void abortAfterTimeout();

    std::uint32_t controlId() const;
    std::uint32_t dataId() const;
    // True while data frames on the data identifier belong to this engine (negotiated and
    // this end receives).
    bool wantsData() const;
    // True while a transfer is negotiated, active or awaiting a reply.
    bool busy() const;
    // Frames per block of the current (or configured) block size.
    std::uint16_t framesPerBlock() const;

  private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace qv
