#pragma once
// The message pattern every commissioning tool shares with the selected controller: the tool
// selection and acquisition request on base + 15, the status replies on base + 16 and the data
// frames on base + 17, and the acquisition that waits for them.
//
// The acquisition does no I/O and reads no clock: it sends through the link it is given, takes
// the frames it is offered and learns the time from its caller. A window drives it from its event
// loop (offer every frame received, then poll), so nothing blocks while it waits, and every frame
// it does not take goes on to the telemetry decoder.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/user_interaction.h"
#include "link/can_frame.h"

namespace qv {

inline constexpr std::uint32_t kToolCommandOffset = 15;
inline constexpr std::uint32_t kAcquisitionStatusOffset = 16;
inline constexpr std::uint32_t kAcquisitionDataOffset = 17;
// The identifiers a tool's TCP connection forwards: base + 15 and the two after it.
inline constexpr std::uint32_t kToolIdentifierCount = 3;

namespace tool_number {
inline constexpr std::uint16_t kNone = 0;
inline constexpr std::uint16_t kDuvodaRezir = 1;
inline constexpr std::uint16_t kPmExtraction = 2;
inline constexpr std::uint16_t kImExtraction = 3;
}  // namespace tool_number

// Upload action codes of the tools (the main window re-selects the tool after the upload).
namespace tool_action {
inline constexpr int kDuvodaRezir = 8;
inline constexpr int kPmExtraction = 6;
inline constexpr int kImExtraction = 4;
}  // namespace tool_action

// Status colours, 0x00BBGGRR; the text is always black.
namespace tool_colour {
inline constexpr std::uint32_t kSuccess = 0x64E664;
inline constexpr std::uint32_t kFailure = 0x6464E6;
inline constexpr std::uint32_t kBusy = 0x6496FA;
inline constexpr std::uint32_t kIdle = 0xC8D0D4;
inline constexpr std::uint32_t kText = 0x000000;
}  // namespace tool_colour

struct ToolCommand {
    float value = 0.0f;
    std::uint16_t tool = 0;
    std::uint16_t start = 0;

    CanFrame::Data encode() const;
    static ToolCommand decode(const CanFrame::Data& data);
    friend bool operator==(const ToolCommand&, const ToolCommand&) = default;
};

ToolCommand selectCommand(std::uint16_t tool);
ToolCommand deselectCommand();
ToolCommand requestCommand();

// Three 16-bit words whose signedness depends on the tool, then the phase.
struct AcquisitionStatus {
    std::uint16_t word0 = 0;
    std::uint16_t word1 = 0;
    std::uint16_t word2 = 0;
    std::uint16_t phase = 0;

    CanFrame::Data encode() const;
    static AcquisitionStatus decode(const CanFrame::Data& data);
};

namespace acquisition_phase {
inline constexpr std::uint16_t kAccepted = 1;
inline constexpr std::uint16_t kDataFollow = 2;
inline constexpr std::uint16_t kFinished = 3;  // the extraction tools take it as "data follow"
}  // namespace acquisition_phase

// The four 16-bit words of a data frame (bytes 0-1, 2-3, 4-5, 6-7), and back.
std::array<std::uint16_t, 4> dataWords(const CanFrame::Data& data);
CanFrame::Data packWords(const std::array<std::uint16_t, 4>& words);
// The two single floats of a data frame (bytes 0-3, 4-7), and back.
std::array<float, 2> dataFloats(const CanFrame::Data& data);
CanFrame::Data packFloats(const std::array<float, 2>& values);

// What the tools need of the CAN port, for the selected device.
class ToolLink {
  public:
    virtual ~ToolLink() = default;
    // TCP connection to the device's bridge forwarding base + 15 .. base + 17.
    virtual bool connectTcp() = 0;
    virtual void closeTcp() = 0;
    virtual bool portOpen() const = 0;
    // Queues a frame and sends everything queued (over TCP while connected).
    virtual bool queueAndFlush(std::uint32_t identifier, const CanFrame::Data& data) = 0;
    // Sends one frame at once by multicast.
    virtual bool sendNow(std::uint32_t identifier, const CanFrame::Data& data) = 0;
};

// Tells the controller at `base` which tool window is shown (connect, queue, flush, close; the
// connection's result is ignored and nothing is queued while the port is closed).
void selectTool(ToolLink& link, std::uint32_t base, std::uint16_t tool);
void deselectTool(ToolLink& link, std::uint32_t base);

// The boxes every tool shows.
MessageBoxRequest connectFailureMessage();
MessageBoxRequest unknownExceptionMessage();
// Caption "Acquisition error", stop icon.
MessageBoxRequest acquisitionErrorMessage(std::string text);

// One tool's acquisition: which frame comes next, within what time, and what it means.
struct AcquisitionStep {
    std::uint32_t offset = kAcquisitionStatusOffset;  // from the base address
    int timeoutMs = 0;
};

class AcquisitionScript {
  public:
    virtual ~AcquisitionScript() = default;
    // The frame wanted next; nothing once the acquisition is complete.
    virtual std::optional<AcquisitionStep> nextStep() const = 0;
    // The wanted frame arrived. False refuses it, which ends the acquisition as failed.
    virtual bool accept(const CanFrame::Data& data) = 0;
    // The wanted frame did not arrive in time; the acquisition has failed.
    virtual void timedOut() = 0;
    // The box that tells the user why the acquisition failed.
    virtual MessageBoxRequest failureMessage() const = 0;
};

// How the acquisition request goes out: queued and flushed (over the tool's TCP connection), or
// at once as a single multicast frame (the induction-motor tool).
enum class RequestSending { Queued, Immediate };

class ToolAcquisition {
  public:
    enum class State { Idle, Waiting, Complete, Failed, NotConnected };

    ToolAcquisition(ToolLink& link, std::uint32_t base, AcquisitionScript& script,
                    RequestSending sending = RequestSending::Queued);

    // Connects and requests the acquisition; the first wait starts once the request is out (the
    // time `now` tells then), so a slow connect takes nothing from the controller's time to
    // answer. NotConnected when the connection could not be opened (nothing was sent).
    State start(const std::function<double()>& now);
    // The same for a caller whose clock reads `nowMs` throughout.
    State start(double nowMs) {
        return start([nowMs] { return nowMs; });
    }
    // A received frame. True when it is the frame waited for (it is then taken); any other
    // frame is left for the caller to pass on.
    bool offerFrame(std::uint32_t identifier, const CanFrame::Data& data, double nowMs);
    // Ends the wait when its time is up. Call after offering every frame received so far, so
    // that a frame that arrived in time is never judged late.
    void poll(double nowMs);
    // Gives up (the window closed): closes the connection; nothing more is taken.
    void abandon();

    State state() const { return state_; }
    bool waiting() const { return state_ == State::Waiting; }
    // The identifier waited for and the time the wait ends, while waiting.
    std::optional<std::uint32_t> wantedIdentifier() const;
    std::optional<double> deadlineMs() const;
    // Frames taken so far.
    int framesTaken() const { return taken_; }

  private:
    void fail();
    void advance(double nowMs);

    ToolLink& link_;
    std::uint32_t base_;
    AcquisitionScript& script_;
    RequestSending sending_;
    State state_ = State::Idle;
    std::optional<AcquisitionStep> step_;
    double deadline_ = 0;
    int taken_ = 0;
};

}  // namespace qv
